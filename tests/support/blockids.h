#pragma once
// The block numbers of a list in list order: what most list checks compare.

#include "blocks/eepblock.h"

namespace x45::test {

inline QVector<qint16> ids(const BlockList& list) {
    QVector<qint16> out;
    for (const EEPBlock& b : list)
        out.append(b.BlockId);
    return out;
}

} // namespace x45::test
