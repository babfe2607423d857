// Copying selected blocks between the lists with the overwrite question.

#include "blocks/copy.h"

#include "scripted.h"

#include <gtest/gtest.h>

#include <QSet>
#include <deque>

using namespace x45;
using x45::test::ScriptedInteraction;

namespace {

EEPBlock blk(qint16 id, QByteArray data, quint8 ver = 1) {
    return {id, data, ver};
}

// Each copied row as "source>target", with "+" for an appended one.
std::string shown(const CopyResult& r) {
    QStringList out;
    for (const CopiedRow& row : r.rows)
        out << QStringLiteral("%1>%2%3")
                   .arg(row.sourceRow)
                   .arg(row.targetRow)
                   .arg(row.appended ? "+" : "");
    return out.join(' ').toStdString();
}

struct CopyCase : ::testing::Test {
    // Source rows 0..4: 10 (new), 20 (exists), 30 (exists), 40 (new), 50 (exists).
    BlockList source = {blk(10, "s10"), blk(20, "s20"), blk(30, "s30"), blk(40, "s40"),
                        blk(50, "s50")};
    BlockList target = {blk(50, "t50"), blk(20, "t20"), blk(30, "t30")};
    ScriptedInteraction ui;
    CopyResult run(QSet<int> selected = {0, 1, 2, 3, 4},
                   CopyDirection direction = CopyDirection::PhoneToUser) {
        return CopyBlocks(
            source, [selected](int r) { return selected.contains(r); }, target, ui, direction);
    }
};

} // namespace

TEST_F(CopyCase, YesAndNoPerBlock) {
    ui.rewriteAnswers = {RewriteAnswer::Yes, RewriteAnswer::No, RewriteAnswer::Yes};
    const CopyResult r = run();
    EXPECT_EQ(ui.rewriteQuestions,
              QStringList({"Do you want to overwrite block 20 in User's EEPROM?",
                           "Do you want to overwrite block 30 in User's EEPROM?",
                           "Do you want to overwrite block 50 in User's EEPROM?"}));
    EXPECT_EQ(target, BlockList({blk(50, "s50"), blk(20, "s20"), blk(30, "t30"), blk(10, "s10"),
                                 blk(40, "s40")}));
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(shown(r), "0>3+ 1>1 3>4+ 4>0");
}

TEST_F(CopyCase, AnswersForAllCancelUnknownAnswersAndSelections) {
    const BlockList before = target;
    const QSet<int> all = {0, 1, 2, 3, 4};
    const struct {
        std::deque<RewriteAnswer> answers;
        QSet<int> selected;
        int questions, rows;
        bool cancelled;
        const char* after; // the blocks' data: "s" copied, "t" kept
    } cases[] = {
        {{RewriteAnswer::YesAll}, all, 1, 5, false, "s50 s20 s30 s10 s40"},        // asked once
        {{RewriteAnswer::NoAll}, all, 1, 2, false, "t50 t20 t30 s10 s40"},         // new blocks still added
        {{RewriteAnswer::Yes, RewriteAnswer::Cancel}, all, 2, 2, true, "t50 s20 t30 s10"}, // 40, 50 never handled
        {{RewriteAnswer(0), RewriteAnswer(17)}, {1, 2}, 2, 0, false, "t50 t20 t30"}, // unknown answers never overwrite
        {{}, {}, 0, 0, false, "t50 t20 t30"},
        {{}, {3}, 0, 1, false, "t50 t20 t30 s40"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        target = before;
        ui.rewriteQuestions.clear();
        ui.rewriteAnswers = c.answers;
        ui.defaultRewriteAnswer = RewriteAnswer::No;
        const CopyResult r = run(c.selected);
        EXPECT_EQ(ui.rewriteQuestions.size(), c.questions);
        EXPECT_EQ(r.rows.size(), c.rows);
        EXPECT_EQ(r.cancelled, c.cancelled);
        QByteArrayList data;
        for (const EEPBlock& b : target) {
            EXPECT_EQ(b.Data.mid(1).toInt(), b.BlockId);
            data << b.Data;
        }
        EXPECT_EQ(data.join(' '), c.after);
    }
}

TEST_F(CopyCase, TwoSelectedRowsWithTheSameNumber) {
    source = {blk(7, "first"), blk(7, "second")};
    target.clear();
    ui.rewriteAnswers = {RewriteAnswer::Yes};
    const CopyResult r = run({0, 1}, CopyDirection::UserToPhone);
    EXPECT_EQ(ui.rewriteQuestions,
              QStringList({"Do you want to overwrite block 7 in Phone's EEPROM?"}));
    EXPECT_EQ(target, BlockList({blk(7, "second")}));
    EXPECT_EQ(shown(r), "0>0+ 1>0");
}

TEST_F(CopyCase, FullTargetTakesNoNewBlocks) {
    target.clear();
    for (int i = 0; i < MaxBlocks; ++i)
        target.append(blk(static_cast<qint16>(i - 16384), {}));
    source = {blk(32000, "new"), blk(0, "replaces")};
    ui.rewriteAnswers = {RewriteAnswer::Yes};
    const CopyResult r = run({0, 1});
    EXPECT_EQ(target.size(), MaxBlocks);
    EXPECT_EQ(r.notCopiedFull, 1);
    EXPECT_EQ(target[16384], blk(0, "replaces"));
}
