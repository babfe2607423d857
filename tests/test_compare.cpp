// Comparing the User's list with the Phone's list.

#include "blocks/compare.h"

#include <gtest/gtest.h>

using namespace x45;

namespace {

EEPBlock blk(qint16 id, QByteArray data = "d", quint8 ver = 1) {
    return {id, data, ver};
}

} // namespace

TEST(Compare, SameBlocksInAnotherOrderAreIdentical) {
    const BlockList user = {blk(1), blk(5077, "xyz", 3), blk(-4)};
    const BlockList phone = {blk(-4), blk(1), blk(5077, "xyz", 3)};
    EXPECT_TRUE(CompareBlocks(user, {}, phone, {}).identical());
}

TEST(Compare, VersionOrLengthOrByteDifferences) {
    const BlockList user = {blk(1, "abc", 1), blk(2, "abc", 1), blk(3, "abc", 1), blk(4, "abc", 1),
                            blk(5, "", 0)};
    const BlockList phone = {blk(1, "abc", 2), blk(2, "abcd", 1), blk(3, "abd", 1),
                             blk(4, "abc", 1), blk(5, "", 0)};
    const CompareResult r = CompareBlocks(user, {}, phone, {});
    EXPECT_EQ(r.different, (QList<int>{1, 2, 3}));
    EXPECT_TRUE(r.phoneMissing.isEmpty());
    EXPECT_TRUE(r.userMissing.isEmpty());
    EXPECT_FALSE(r.identical());
}

TEST(Compare, MissingOnEachSideInListOrder) {
    const BlockList user = {blk(30), blk(10), blk(5077), blk(20)};
    const BlockList phone = {blk(99), blk(20), blk(-1), blk(10, "other")};
    const CompareResult r = CompareBlocks(user, {}, phone, {});
    EXPECT_EQ(r.phoneMissing, (QList<int>{30, 5077}));
    EXPECT_EQ(r.userMissing, (QList<int>{99, -1}));
    EXPECT_EQ(r.different, (QList<int>{10}));
}

TEST(Compare, OneSelectedRowComparesTheWholeListTwoCompareOnlyThose) {
    const BlockList user = {blk(1), blk(2), blk(3)};
    const BlockList phone = {blk(1), blk(2), blk(3)};
    EXPECT_TRUE(CompareBlocks(user, {1}, phone, {}).identical());

    const CompareResult r = CompareBlocks(user, {0, 2}, phone, {});
    EXPECT_TRUE(r.phoneMissing.isEmpty());
    EXPECT_TRUE(r.different.isEmpty());
    EXPECT_EQ(r.userMissing, (QList<int>{2}));

    // Two rows on the Phone's side too: block 3 is now missing there.
    const CompareResult both = CompareBlocks(user, {0, 2}, phone, {0, 1});
    EXPECT_EQ(both.phoneMissing, (QList<int>{3}));
    EXPECT_EQ(both.userMissing, (QList<int>{2}));
}

TEST(Compare, EmptySidesAndExtremeNumbers) {
    const BlockList user = {blk(-32768), blk(32767)};
    const CompareResult r = CompareBlocks(user, {}, {}, {});
    EXPECT_EQ(r.phoneMissing, (QList<int>{-32768, 32767}));
    EXPECT_TRUE(CompareBlocks({}, {}, {}, {}).identical());
    const CompareResult back = CompareBlocks({}, {}, user, {});
    EXPECT_EQ(back.userMissing, (QList<int>{-32768, 32767}));
}
