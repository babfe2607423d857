#pragma once
// Comparing the User's list with the Phone's list.

#include "blocks/eepblock.h"

#include <QList>
#include <QVector>

namespace x45 {

struct CompareResult {
    QList<int>
        phoneMissing; // compared User's blocks with no block of that number on the Phone's side
    QList<int>
        userMissing;      // compared Phone's blocks with no block of that number on the User's side
    QList<int> different; // on both sides with different data (bytes or length) or version
    [[nodiscard]] bool identical() const {
        return phoneMissing.isEmpty() && userMissing.isEmpty() && different.isEmpty();
    }
};

// Compares the two sides; each side is its selected rows when two or more are selected, else the
// whole list (see selectedOrAll). Numbers are noted in list order: User's side first for
// phoneMissing and different, then the Phone's side for userMissing. The caller does nothing at
// all when either list is empty.
[[nodiscard]] CompareResult compareBlocks(const BlockList& user, const QVector<int>& userSelected,
                                          const BlockList& phone,
                                          const QVector<int>& phoneSelected);
} // namespace x45
