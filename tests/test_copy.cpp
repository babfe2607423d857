// Copying selected blocks between the lists with the overwrite question.

#include "blocks/copy.h"

#include "scripted.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace x45;
using x45::test::ScriptedInteraction;

namespace {

EEPBlock blk(qint16 id, QByteArray data, quint8 ver = 1) {
    return {id, data, ver};
}

std::function<bool(int)> rows(QSet<int> selected) {
    return [selected](int r) { return selected.contains(r); };
}

struct CopyCase : ::testing::Test {
    // Source rows 0..4: 10 (new), 20 (exists), 30 (exists), 40 (new), 50 (exists).
    BlockList source = {blk(10, "s10"), blk(20, "s20"), blk(30, "s30"), blk(40, "s40"),
                        blk(50, "s50")};
    BlockList target = {blk(50, "t50"), blk(20, "t20"), blk(30, "t30")};
    ScriptedInteraction ui;
    CopyResult run(QSet<int> selected = {0, 1, 2, 3, 4}) {
        return CopyBlocks(source, rows(selected), target, ui, CopyDirection::PhoneToUser);
    }
};

} // namespace

TEST_F(CopyCase, YesAndNoPerBlock) {
    ui.rewriteAnswers = {RewriteYes, RewriteNo, RewriteYes};
    const CopyResult r = run();
    EXPECT_EQ(ui.rewriteQuestions,
              QStringList({"Do you want to overwrite block 20 in User's EEPROM?",
                           "Do you want to overwrite block 30 in User's EEPROM?",
                           "Do you want to overwrite block 50 in User's EEPROM?"}));
    EXPECT_EQ(target, BlockList({blk(50, "s50"), blk(20, "s20"), blk(30, "t30"), blk(10, "s10"),
                                 blk(40, "s40")}));
    EXPECT_FALSE(r.cancelled);
    ASSERT_EQ(r.rows.size(), 4);
    EXPECT_EQ(r.rows[0].sourceRow, 0);
    EXPECT_EQ(r.rows[0].targetRow, 3);
    EXPECT_TRUE(r.rows[0].appended);
    EXPECT_EQ(r.rows[1].sourceRow, 1);
    EXPECT_EQ(r.rows[1].targetRow, 1);
    EXPECT_FALSE(r.rows[1].appended);
    EXPECT_EQ(r.rows[3].sourceRow, 4);
    EXPECT_EQ(r.rows[3].targetRow, 0);
}

TEST_F(CopyCase, YesForAllAsksOnce) {
    ui.rewriteAnswers = {RewriteYesAll};
    run();
    EXPECT_EQ(ui.rewriteQuestions.size(), 1);
    EXPECT_EQ(target, BlockList({blk(50, "s50"), blk(20, "s20"), blk(30, "s30"), blk(10, "s10"),
                                 blk(40, "s40")}));
}

TEST_F(CopyCase, NoForAllStillAddsNewBlocks) {
    ui.rewriteAnswers = {RewriteNoAll};
    const CopyResult r = run();
    EXPECT_EQ(ui.rewriteQuestions.size(), 1);
    EXPECT_EQ(target, BlockList({blk(50, "t50"), blk(20, "t20"), blk(30, "t30"), blk(10, "s10"),
                                 blk(40, "s40")}));
    EXPECT_EQ(r.rows.size(), 2);
}

TEST_F(CopyCase, CancelOnTheSecondQuestionKeepsWhatWasCopied) {
    ui.rewriteAnswers = {RewriteYes, RewriteCancel};
    const CopyResult r = run();
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(ui.rewriteQuestions.size(), 2);
    // 10 added, 20 replaced, 30 kept; 40 and 50 never handled.
    EXPECT_EQ(target, BlockList({blk(50, "t50"), blk(20, "s20"), blk(30, "t30"), blk(10, "s10")}));
}

TEST_F(CopyCase, UnknownAnswerNeverOverwrites) {
    ui.rewriteAnswers = {0, 17};
    ui.defaultRewriteAnswer = RewriteNo;
    run({1, 2});
    EXPECT_EQ(target, BlockList({blk(50, "t50"), blk(20, "t20"), blk(30, "t30")}));
}

TEST_F(CopyCase, OnlySelectedRowsAndNothingSelected) {
    const CopyResult none = run({});
    EXPECT_TRUE(none.rows.isEmpty());
    EXPECT_TRUE(ui.rewriteQuestions.isEmpty());
    EXPECT_EQ(target.size(), 3);

    const CopyResult some = run({3});
    ASSERT_EQ(some.rows.size(), 1);
    EXPECT_EQ(target.last(), blk(40, "s40"));
    EXPECT_TRUE(ui.rewriteQuestions.isEmpty());
}

TEST(Copy, TwoSelectedRowsWithTheSameNumber) {
    const BlockList source = {blk(7, "first"), blk(7, "second")};
    BlockList target;
    ScriptedInteraction ui;
    ui.rewriteAnswers = {RewriteYes};
    const CopyResult r = CopyBlocks(
        source, [](int) { return true; }, target, ui, CopyDirection::UserToPhone);
    EXPECT_EQ(ui.rewriteQuestions,
              QStringList({"Do you want to overwrite block 7 in Phone's EEPROM?"}));
    EXPECT_EQ(target, BlockList({blk(7, "second")}));
    ASSERT_EQ(r.rows.size(), 2);
    EXPECT_TRUE(r.rows[0].appended);
    EXPECT_FALSE(r.rows[1].appended);
    EXPECT_EQ(r.rows[1].targetRow, 0);
}

TEST(Copy, QuestionTextForANegativeNumber) {
    EXPECT_EQ(rewriteQuestion(-3, CopyDirection::PhoneToUser),
              "Do you want to overwrite block -3 in User's EEPROM?");
}

TEST(Copy, FullTargetTakesNoNewBlocks) {
    BlockList target;
    for (int i = 0; i < MaxBlocks; ++i)
        target.append(blk(static_cast<qint16>(i - 16384), {}));
    const BlockList source = {blk(32000, "new"), blk(0, "replaces")};
    ScriptedInteraction ui;
    ui.rewriteAnswers = {RewriteYes};
    const CopyResult r = CopyBlocks(
        source, [](int) { return true; }, target, ui, CopyDirection::PhoneToUser);
    EXPECT_EQ(target.size(), MaxBlocks);
    EXPECT_EQ(r.notCopiedFull, 1);
    EXPECT_EQ(target[16384], blk(0, "replaces"));
}
