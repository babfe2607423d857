// Whole-list routines: sort, delete from list, selection rules, merge, and the rows' texts.

#include "blockids.h"
#include "blocks/blocklist.h"
#include "blocks/rowtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

using namespace x45;

namespace {

EEPBlock blk(qint16 id, QByteArray data = {}, quint8 ver = 0) {
    return {id, data, ver};
}

using x45::test::ids;

// Distinct block numbers in a shuffled order, each block carrying its number in its data so that
// a sort that loses or mixes up records is caught.
BlockList shuffledList(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<int> numbers(65536);
    std::iota(numbers.begin(), numbers.end(), -32768);
    std::shuffle(numbers.begin(), numbers.end(), gen);
    BlockList list;
    for (int i = 0; i < n; ++i) {
        const auto id = static_cast<qint16>(numbers[i]);
        list.append(blk(id, QByteArray::number(id), static_cast<quint8>(id & 0xFF)));
    }
    return list;
}

} // namespace

TEST(SortBlocks, SortsShuffledListsOfManySizesAndKeepsRecordsWhole) {
    // Up to a full list of distinct numbers, which must also end quickly.
    for (const int n : {0, 1, 2, 3, 7, 100, 5000, int(MaxBlocks)}) {
        for (unsigned seed = 1; seed <= (n == MaxBlocks ? 1u : 3u); ++seed) {
            BlockList list = shuffledList(n, seed);
            SortBlocks(list);
            ASSERT_EQ(list.size(), n);
            for (int i = 0; i < n; ++i) {
                ASSERT_TRUE(i == 0 || list[i - 1].BlockId < list[i].BlockId)
                    << "n=" << n << " i=" << i;
                ASSERT_EQ(list[i].Data, QByteArray::number(list[i].BlockId));
                ASSERT_EQ(list[i].BlockVer, static_cast<quint8>(list[i].BlockId & 0xFF));
            }
        }
    }
}

TEST(SortBlocks, AlreadySortedReversedRepeatedAndSubranges) {
    BlockList asc;
    for (int id = -32768; id <= 32767; id += 97)
        asc.append(blk(static_cast<qint16>(id)));
    asc.append(blk(32767));
    BlockList desc(asc.rbegin(), asc.rend());
    const QVector<qint16> expected = ids(asc);
    SortBlocks(asc);
    SortBlocks(desc);
    EXPECT_EQ(ids(asc), expected);
    EXPECT_EQ(ids(desc), expected);

    // Repeats are not a state a list should reach, but the sort must not hang or lose blocks.
    BlockList list = {blk(5), blk(1), blk(5), blk(5), blk(3), blk(1), blk(5)};
    SortBlocks(list);
    EXPECT_EQ(ids(list), (QVector<qint16>{1, 1, 3, 5, 5, 5, 5}));
    list = {blk(9), blk(4), blk(3), blk(2), blk(0)};
    SortBlocks(list, 1, 3);
    EXPECT_EQ(ids(list), (QVector<qint16>{9, 2, 3, 4, 0}));
}

TEST(RemoveRows, SelectedRowsOnceAndNothingOutOfRange) {
    BlockList list = {blk(1, "a"), blk(2, "b"), blk(3, "c"), blk(4, "d"), blk(5, "e")};
    EXPECT_EQ(RemoveRows(list, {3, 1}), 2);
    EXPECT_EQ(list, BlockList({blk(1, "a"), blk(3, "c"), blk(5, "e")}));
    EXPECT_EQ(RemoveRows(list, {-1, 3, 99}), 0);
    EXPECT_EQ(RemoveRows(list, {2, 2, 0, 0}), 2);
    EXPECT_EQ(ids(list), (QVector<qint16>{3}));
}

TEST(SelectedOrAll, TwoOrMoreSelectedElseEverything) {
    const QVector<int> all = {0, 1, 2, 3};
    EXPECT_EQ(selectedOrAll(4, {}), all);
    EXPECT_EQ(selectedOrAll(4, {2}), all);
    EXPECT_EQ(selectedOrAll(4, {3, 1}), (QVector<int>{1, 3}));
    // Repeats and positions outside the list do not make a second selected row.
    EXPECT_EQ(selectedOrAll(4, {2, 2}), all);
    EXPECT_EQ(selectedOrAll(4, {2, 7}), all);
    EXPECT_TRUE(selectedOrAll(0, {0, 1}).isEmpty());
}

TEST(MergeBlocks, ReplacesInPlaceAndAppendsTheRest) {
    BlockList into = {blk(20, "a20", 1), blk(7, "a7", 1)};
    mergeBlocks(into, {blk(30, "b30", 2), blk(20, "b20", 2), blk(-5, "b-5", 2)});
    EXPECT_EQ(into, BlockList({blk(20, "b20", 2), blk(7, "a7", 1), blk(30, "b30", 2),
                               blk(-5, "b-5", 2)}));
    // A number repeated in what is merged ends as one block with the later contents.
    mergeBlocks(into, {blk(99, "x"), blk(99, "y")});
    EXPECT_EQ(into.size(), 5);
    EXPECT_EQ(into.last(), blk(99, "y"));
}

TEST(BlockPositions, FindsFirstAndFollowsAppends) {
    BlockList list = {blk(4), blk(-32768), blk(32767), blk(4)};
    BlockPositions pos(list);
    EXPECT_EQ(pos.find(4), 0);
    EXPECT_EQ(pos.find(-32768), 1);
    EXPECT_EQ(pos.find(32767), 2);
    EXPECT_EQ(pos.find(5), -1);
    pos.noteAppended(5, 4);
    pos.noteAppended(4, 9);
    EXPECT_EQ(pos.find(5), 4);
    EXPECT_EQ(pos.find(4), 0);
}

// The views' headers and cells: the window tests leave these texts to this test.
TEST(RowText, ColumnsAsTheViewsShowThem) {
    EXPECT_EQ(rowColumnTitles(), QStringList({"ID", "Type", "Ver.", "Length", "Description"}));
    EXPECT_EQ(rowTexts(blk(5077, "abc", 2), "Lock code"),
              QStringList({" 5077", "EEfull", "2", "3", "Lock code"}));
    EXPECT_EQ(rowTexts(blk(4999, {}, 255), "  indented"),
              QStringList({" 4999", "EElite", "255", "0", "  indented"}));
    EXPECT_EQ(rowCellText(blk(5000), TypeColumnText, {}), "EEfull");
    EXPECT_EQ(IdText(-12), "-12");
    EXPECT_EQ(IdText(0), " 0");
    EXPECT_EQ(IdText(-32768), "-32768");
    EXPECT_EQ(rowCellText(blk(1), 9, "x"), QString());
}
