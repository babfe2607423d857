#pragma once
// The phone's two EEPROM areas by block number: EElite below 5000, EEfull from 5000 on. The
// block protocol, the lists' "Type" column and the reads of each area all use this one boundary.

#include <QtGlobal>

namespace x45 {

constexpr qint32 EEfullFirst = 5000;

[[nodiscard]] constexpr bool isEEfullBlock(qint32 blockId) {
    return blockId >= EEfullFirst;
}

} // namespace x45
