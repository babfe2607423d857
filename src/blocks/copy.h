#pragma once
// Copying the selected blocks of one list into the other, asking before a block is overwritten.

#include "blocks/eepblock.h"
#include "person/interaction.h"

#include <QVector>
#include <functional>

namespace x45 {

enum class CopyDirection {
    PhoneToUser, // "... in User's EEPROM?"
    UserToPhone, // "... in Phone's EEPROM?"
};

// One copied source row and where it went in the target.
struct CopiedRow {
    int sourceRow = 0;     // 0-based position in the source list
    int targetRow = 0;     // 0-based position in the target list after the copy
    bool appended = false; // true: a new last row; false: replaced the block at targetRow
};

struct CopyResult {
    QVector<CopiedRow> rows; // in the order they were copied
    bool cancelled = false;  // "Cancel" ended the run (rows copied before it stay copied)
    int notCopiedFull = 0;   // new blocks left out because the target held MaxBlocks already
};

// The overwrite question's answers over one run. An answer outside the five (a dialog closed some
// other way) counts as "No": it never overwrites and never silently ends the run.
class OverwriteAnswers {
public:
    enum class Decision { Overwrite, Keep, Cancel };
    explicit OverwriteAnswers(Questions& ui) : ui_(ui) {}
    // Asks the question unless a "for all" answer of this run stands.
    Decision decide(const QString& question);

private:
    Questions& ui_;
    RewriteAnswer standing_ = RewriteAnswer::No;
    bool forAll_ = false;
};

// The overwrite question for a block number.
[[nodiscard]] QString rewriteQuestion(qint16 blockId, CopyDirection direction);

// Copies every source row for which isSelected(row) holds, in list order. A block whose number is
// not yet in the target is appended; one that is there is replaced only when the person agrees
// (ui.askRewrite: Yes, No, Yes for all, No for all, Cancel; the "for all" answers stand for the
// rest of this run only).
//
// The caller (the window) then keeps its rows in step using the result: a replaced or appended row
// shows the source row's texts, description included, until its view is next filled; it selects
// row 1 of the target if there is one; and for PhoneToUser it sets UserHWid to the phone's hardware
// id, whatever was copied.
CopyResult copyBlocks(const BlockList& source, const std::function<bool(int)>& isSelected,
                      BlockList& target, Interaction& ui, CopyDirection direction);
} // namespace x45
