#include "blocklist.h"

#include <algorithm>
#include <random>
#include <utility>

namespace x45 {

namespace {

std::mt19937& pivotSource() {
    static std::mt19937 generator{std::random_device{}()};
    return generator;
}

} // namespace

void sortBlocks(BlockList& list, qsizetype lo, qsizetype hi) {
    lo = std::max<qsizetype>(lo, 0);
    hi = std::min<qsizetype>(hi, list.size() - 1);
    // Recursing only into the smaller part and looping over the larger one bounds the stack depth
    // by log2(n) whatever the pivots turn out to be.
    while (lo < hi) {
        if (hi - lo == 1) {
            if (list[lo].BlockId > list[hi].BlockId) std::swap(list[lo], list[hi]);
            return;
        }
        std::uniform_int_distribution<qsizetype> pick(lo, hi);
        std::swap(list[pick(pivotSource())], list[hi]);
        const qint16 pivot = list[hi].BlockId;
        qsizetype i = lo;
        qsizetype j = hi;
        do {
            while (i < j && list[i].BlockId <= pivot)
                ++i;
            while (j > i && list[j].BlockId >= pivot)
                --j;
            if (i < j) std::swap(list[i], list[j]);
        } while (i < j);
        std::swap(list[i], list[hi]);
        if (i - lo < hi - i) {
            sortBlocks(list, lo, i - 1);
            lo = i + 1;
        } else {
            sortBlocks(list, i + 1, hi);
            hi = i - 1;
        }
    }
}

void sortBlocks(BlockList& list) {
    if (list.size() > 1) sortBlocks(list, 0, list.size() - 1);
}

qsizetype removeRows(BlockList& list, const QVector<int>& positions) {
    QVector<bool> remove(list.size(), false);
    qsizetype count = 0;
    for (const int p : positions)
        if (p >= 0 && p < list.size() && !remove[p]) {
            remove[p] = true;
            ++count;
        }
    if (count == 0) return 0;
    // One pass that keeps the order of what stays.
    qsizetype kept = 0;
    for (qsizetype i = 0; i < list.size(); ++i)
        if (!remove[i]) {
            if (kept != i) list[kept] = std::move(list[i]);
            ++kept;
        }
    list.resize(kept);
    return count;
}

QVector<int> selectedOrAll(qsizetype listSize, const QVector<int>& selectedRows) {
    QVector<int> selected;
    selected.reserve(selectedRows.size());
    for (const int p : selectedRows)
        if (p >= 0 && p < listSize) selected.append(p);
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    if (selected.size() >= 2) return selected;
    QVector<int> all(listSize);
    for (qsizetype i = 0; i < listSize; ++i)
        all[i] = static_cast<int>(i);
    return all;
}

Result<PutBlock> putBlock(BlockList& list, const EEPBlock& block, BlockPositions* positions) {
    const qsizetype at = positions ? positions->find(block.BlockId) : findBlock(list, block.BlockId);
    if (at >= 0) {
        list[at] = block;
        return PutBlock{at, false};
    }
    if (!fitsInList(list.size() + 1))
        return Result<PutBlock>::fail(
            ErrorKind::Refused,
            QStringLiteral("the list holds %1 blocks, the most it can hold").arg(list.size()));
    list.append(block);
    if (positions) positions->noteAppended(block.BlockId, list.size() - 1);
    return PutBlock{list.size() - 1, true};
}

qsizetype mergeBlocks(BlockList& into, const BlockList& from) {
    BlockPositions positions(into);
    qsizetype leftOut = 0;
    for (const EEPBlock& block : from)
        if (!putBlock(into, block, &positions)) ++leftOut;
    return into.size() + leftOut;
}

BlockPositions::BlockPositions() : pos_(Slots, -1) {}

BlockPositions::BlockPositions(const BlockList& list) : pos_(Slots, -1) {
    for (qsizetype i = list.size() - 1; i >= 0; --i)
        pos_[slot(list[i].BlockId)] = i; // walking backwards leaves the first position
}

BlockPositions::BlockPositions(const BlockList& list, const QVector<int>& rows)
    : pos_(Slots, -1) {
    for (qsizetype k = rows.size() - 1; k >= 0; --k)
        pos_[slot(list[rows[k]].BlockId)] = rows[k];
}

void BlockPositions::noteAppended(qint16 blockId, qsizetype position) {
    qsizetype& at = pos_[slot(blockId)];
    if (at < 0) at = position;
}

} // namespace x45
