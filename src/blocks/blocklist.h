#pragma once
// Whole-list routines: putting a block in, sorting, removing rows, merging, and reading a
// selection.

#include "blocks/eepblock.h"

#include <QVector>

namespace x45 {

// Sorts positions lo..hi (0-based, inclusive) ascending by BlockId: quicksort with a random
// pivot. Block numbers within a list are distinct, so the result is the unique ascending order;
// should a list ever hold a number twice, the sort still ends and groups them.
void sortBlocks(BlockList& list, qsizetype lo, qsizetype hi);
// The whole list.
void sortBlocks(BlockList& list);
// Removes the blocks at these 0-based positions ("Delete from list"); the rest keep their order.
// Positions may come in any order; repeated and out-of-range positions are ignored. Returns the
// number of blocks removed.
qsizetype removeRows(BlockList& list, const QVector<int>& positions);

// What a selection-based operation works on (save, compare): with two or more rows selected the
// selected positions in list order, otherwise (none or one) every position. Out-of-range and
// repeated positions are dropped before counting.
[[nodiscard]] QVector<int> selectedOrAll(qsizetype listSize, const QVector<int>& selectedRows);

// Merges `from` into `into` as putBlock puts each block, in `from`'s order. Linear in both
// sizes. Returns how many blocks the merged list holds, counting each block of `from` left out for
// want of room: more than MaxBlocks when there were such blocks.
qsizetype mergeBlocks(BlockList& into, const BlockList& from);

// A table from block number to the first position holding it, for lookups in constant time while
// a list grows. Build it once, then keep it in step through append().
class BlockPositions {
public:
    // No block yet.
    BlockPositions();
    explicit BlockPositions(const BlockList& list);
    // Only the blocks at these positions, the first of them in `rows` order for each number.
    BlockPositions(const BlockList& list, const QVector<int>& rows);
    // First position of this number, or -1.
    [[nodiscard]] qsizetype find(qint16 blockId) const { return pos_[slot(blockId)]; }
    [[nodiscard]] bool contains(qint16 blockId) const { return find(blockId) >= 0; }
    // Records that a block with this number now sits at `position` (kept if one is known).
    void noteAppended(qint16 blockId, qsizetype position);

private:
    // One slot per block number: -32768..32767 to 0..65535.
    static constexpr qsizetype Slots = 65536;
    static std::size_t slot(qint16 id) {
        const qint32 offset = qint32(id) - LowestBlockNumber;
        return static_cast<std::size_t>(offset);
    }
    QVector<qsizetype> pos_;
};

} // namespace x45
