// Comparing the User's list with the Phone's list.

#include "blocks/compare.h"

#include <gtest/gtest.h>

using namespace x45;

namespace {

EEPBlock blk(qint16 id, QByteArray data = "d", quint8 ver = 1) {
    return {id, data, ver};
}

} // namespace

TEST(Compare, DifferencesAndMissingBlocksOnEachSideInListOrder) {
    // Same blocks in another order are identical, empty lists too.
    EXPECT_TRUE(CompareBlocks({blk(1), blk(5077, "xyz", 3), blk(-4)}, {},
                              {blk(-4), blk(1), blk(5077, "xyz", 3)}, {})
                    .identical());
    EXPECT_TRUE(CompareBlocks({}, {}, {}, {}).identical());
    EXPECT_EQ(CompareBlocks({blk(7)}, {}, {}, {}).phoneMissing, QList<int>{7});

    // Version, length or byte differences; 4 and 5 (empty) are equal.
    const BlockList user = {blk(1, "abc", 1), blk(2, "abc", 1), blk(3, "abc", 1), blk(4, "abc", 1),
                            blk(5, "", 0),    blk(30),          blk(5077),        blk(-32768)};
    const BlockList phone = {blk(1, "abc", 2), blk(2, "abcd", 1), blk(3, "abd", 1),
                             blk(4, "abc", 1), blk(99),           blk(5, "", 0),
                             blk(-1),          blk(32767)};
    const CompareResult r = CompareBlocks(user, {}, phone, {});
    EXPECT_EQ(r.different, (QList<int>{1, 2, 3}));
    EXPECT_EQ(r.phoneMissing, (QList<int>{30, 5077, -32768}));
    EXPECT_EQ(r.userMissing, (QList<int>{99, -1, 32767}));
    EXPECT_FALSE(r.identical());
}

TEST(Compare, OneSelectedRowComparesTheWholeListTwoCompareOnlyThose) {
    const BlockList list = {blk(1), blk(2), blk(3)};
    EXPECT_TRUE(CompareBlocks(list, {1}, list, {}).identical());

    const CompareResult r = CompareBlocks(list, {0, 2}, list, {});
    EXPECT_TRUE(r.phoneMissing.isEmpty());
    EXPECT_TRUE(r.different.isEmpty());
    EXPECT_EQ(r.userMissing, (QList<int>{2}));

    // Two rows on the Phone's side too: block 3 is now missing there.
    const CompareResult both = CompareBlocks(list, {0, 2}, list, {0, 1});
    EXPECT_EQ(both.phoneMissing, (QList<int>{3}));
    EXPECT_EQ(both.userMissing, (QList<int>{2}));
}
