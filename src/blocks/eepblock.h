#pragma once
// One EEPROM block and the lists that hold them.

#include "base/areas.h"
#include "base/bytes.h"
#include "base/result.h"

#include <QVector>
#include <QtGlobal>

#include <limits>

namespace x45 {

struct EEPBlock {
    qint16 BlockId = 0; // block number; the block's identity within a list
    ByteStr Data;       // contents; its size is the block length (0 allowed)
    quint8 BlockVer = 0;

    friend bool operator==(const EEPBlock&, const EEPBlock&) = default;
};

// Positions 0..N-1 here stand for the rows 1..N of the list's view; row n always shows block n.
using BlockList = QVector<EEPBlock>;

// Block numbers are 16-bit signed: these are the lowest and the highest.
constexpr qint32 LowestBlockNumber = std::numeric_limits<qint16>::min();
constexpr qint32 HighestBlockNumber = std::numeric_limits<qint16>::max();

// "-32768..32767", for messages.
[[nodiscard]] inline QString blockNumberRange() {
    return QStringLiteral("%1..%2").arg(LowestBlockNumber).arg(HighestBlockNumber);
}

// A list holds at most this many blocks (row positions are 16-bit signed).
constexpr qsizetype MaxBlocks = std::numeric_limits<qint16>::max();
// The one check of that limit: whether a list may hold `size` blocks.
[[nodiscard]] constexpr bool fitsInList(qsizetype size) {
    return size <= MaxBlocks;
}

[[nodiscard]] inline QString blockType(qint32 blockId) {
    return isEEfullBlock(blockId) ? QStringLiteral("EEfull") : QStringLiteral("EElite");
}

// Position of the first block with this number, or -1.
[[nodiscard]] inline qsizetype findBlock(const BlockList& list, qint32 blockId) {
    for (qsizetype i = 0; i < list.size(); ++i)
        if (list[i].BlockId == blockId)
            return i;
    return -1;
}

class BlockPositions;

// Where putBlock put a block: its 0-based row, and whether it was appended there.
struct PutBlock {
    qsizetype row = -1;
    bool appended = false;
};

// The one rule for putting a block into a list: a block whose number the list holds replaces
// that one in place (all fields); any other is appended, unless the list is full (fitsInList),
// which fails with kind Refused and changes nothing. `positions` (blocks/blocklist.h), when
// given, describes `list` and is kept in step, for lookups in constant time while a list is
// filled; without it the list is searched.
[[nodiscard]] Result<PutBlock> putBlock(BlockList& list, const EEPBlock& block,
                                        BlockPositions* positions = nullptr);

// Both lists and the hardware id of the User's list; the Phone's list uses the phone's id.
struct Workspace {
    BlockList PhoneBlocks;
    BlockList UserBlocks;
    quint16 UserHWid = 0; // held as the 16-bit pattern
};

} // namespace x45
