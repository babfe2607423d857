// "Load custom...": typed numbers, the reload question carried through the run, not-found reports.

#include "transferrig.h"

#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

namespace {

QByteArray bytesOf(int n, int seed) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(static_cast<char>((i * 5 + seed) & 0xFF));
    return b;
}

QList<int> blocksAsked(const TransferRig& rig) {
    QList<int> out;
    for (const QByteArray& f : rig.frames())
        if (quint8(f[3]) == 0x05 || quint8(f[3]) == 0x15)
            out << qint16(quint8(f[4]) | quint8(f[5]) << 8);
    return out;
}

struct CustomRig : TransferRig {
    CustomRig() {
        phone.setBlocks({{1, bytesOf(3, 1), 1},
                         {2, bytesOf(4, 2), 2},
                         {3, bytesOf(5, 3), 3},
                         {5000, bytesOf(33, 4), 4},
                         {5005, bytesOf(6, 5), 5}});
    }
};

} // namespace

TEST(LoadCustom, RepeatedNumberAsksOnTheSecondTime) {
    CustomRig rig;
    rig.ui.blockListAnswers = {QStringLiteral("  3 3 ")};
    rig.ui.rewriteAnswers = {RewriteNo};
    BlockList list;
    const RunResult r = rig.transfer.LoadCustom(list);
    EXPECT_EQ(r.end, RunEnd::Completed);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0], (EEPBlock{3, bytesOf(5, 3), 3}));
    EXPECT_EQ(rig.ui.rewriteQuestions, QStringList{"Do you want to reload block 3 from phone?"});
    EXPECT_EQ(blocksAsked(rig), QList<int>{3});
    EXPECT_EQ(rig.ui.statuses, (QStringList{"Reading...", "Ready"}));
    EXPECT_EQ(rig.ui.progressMax, 2);
    EXPECT_EQ(rig.ui.progressValues, (std::vector<int>{0, 1, 2}));
}

TEST(LoadCustom, LastAnswerCarriesThroughTheRun) {
    // No: the next new number is read without a question, the next held one is asked again.
    {
        CustomRig rig;
        BlockList list = {{1, "old1", 0}, {2, "old2", 0}};
        rig.ui.rewriteAnswers = {RewriteNo, RewriteYes};
        const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("1,3;2"));
        EXPECT_EQ(r.end, RunEnd::Completed);
        EXPECT_EQ(rig.ui.rewriteQuestions.size(), 2);
        EXPECT_EQ(blocksAsked(rig), (QList<int>{3, 2}));
        EXPECT_EQ(list[0].Data, QByteArray("old1"));
        EXPECT_EQ(list[1], (EEPBlock{2, bytesOf(4, 2), 2})); // replaced in place
        EXPECT_EQ(list[2].BlockId, 3);
    }
    // No for all: later held numbers are skipped without a question.
    {
        CustomRig rig;
        BlockList list = {{1, "old1", 0}, {2, "old2", 0}};
        rig.ui.rewriteAnswers = {RewriteNoAll};
        EXPECT_EQ(rig.transfer.LoadCustom(list, QStringLiteral("1 3 2")).end, RunEnd::Completed);
        EXPECT_EQ(rig.ui.rewriteQuestions.size(), 1);
        EXPECT_EQ(blocksAsked(rig), QList<int>{3});
        EXPECT_EQ(list[1].Data, QByteArray("old2"));
    }
    // Yes for all: held numbers are read without further questions.
    {
        CustomRig rig;
        BlockList list = {{1, "old1", 0}, {2, "old2", 0}};
        rig.ui.rewriteAnswers = {RewriteYesAll};
        EXPECT_EQ(rig.transfer.LoadCustom(list, QStringLiteral("1-2")).end, RunEnd::Completed);
        EXPECT_EQ(rig.ui.rewriteQuestions.size(), 1);
        EXPECT_EQ(list, (BlockList{{1, bytesOf(3, 1), 1}, {2, bytesOf(4, 2), 2}}));
    }
    // Cancel: that number is skipped and the run stops; what was read stays.
    {
        CustomRig rig;
        BlockList list = {{2, "old2", 0}};
        rig.ui.rewriteAnswers = {RewriteCancel};
        const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("1 2 3"));
        EXPECT_EQ(r.end, RunEnd::Stopped);
        EXPECT_EQ(blocksAsked(rig), QList<int>{1});
        EXPECT_EQ(list.size(), 2);
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
        EXPECT_EQ(rig.ui.progressValue, 0);
    }
}

TEST(LoadCustom, NotFoundReports) {
    CustomRig rig;
    BlockList list;
    // The highest numbers are 3 and 5005: 4 and 5006 are outside and never asked for; 5001 is
    // inside but not held (0x32).
    const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("4 5001 5006 5000"));
    EXPECT_EQ(r.end, RunEnd::Completed);
    EXPECT_EQ(r.notFound, 3);
    EXPECT_EQ(blocksAsked(rig), (QList<int>{5001, 5000}));
    EXPECT_EQ(rig.messageTexts(),
              (QStringList{"Block number 4 not found.", "Block number 5001 not found.",
                           "Block number 5006 not found."}));
    for (const ShownMessage& m : rig.ui.messages) {
        EXPECT_EQ(m.title, QStringLiteral("Error"));
        EXPECT_EQ(m.icon, Icon::Exclamation);
        EXPECT_EQ(m.buttons, Buttons::Ok);
    }
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].Data, bytesOf(33, 4));
}

TEST(LoadCustom, AbortStopsAndKeepsWhatWasRead) {
    CustomRig rig;
    x45sim::Fault f;
    f.kind = x45sim::FaultKind::BadTrailer;
    f.cmd = 0x14;
    f.sub = 0x05;
    f.skip = 1;
    f.count = 5;
    rig.phone.faults().add(f);
    rig.ui.messageAnswers = {Button::Abort};
    BlockList list;
    const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("1 2 3"));
    EXPECT_EQ(r.end, RunEnd::Stopped);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].BlockId, 1);
    ASSERT_EQ(rig.ui.messages.size(), 2u);
    EXPECT_EQ(rig.ui.messages[1].text, QStringLiteral("Block number 2 not found."));
    EXPECT_EQ(blocksAsked(rig).count(3), 0);
}

TEST(LoadCustom, NothingTypedOrBadList) {
    CustomRig rig;
    BlockList list = {{9, "keep", 1}};
    rig.ui.blockListAnswers = {QStringLiteral("   ")};
    EXPECT_EQ(rig.transfer.LoadCustom(list).end, RunEnd::Cancelled);
    EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Ready"));
    EXPECT_TRUE(rig.frames().isEmpty());

    // A number that is no block number is refused as a whole, nothing is sent.
    const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("1 70000"));
    EXPECT_EQ(r.end, RunEnd::Failed);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(rig.frames().isEmpty());
    EXPECT_EQ(list, (BlockList{{9, "keep", 1}}));
}

TEST(LoadCustom, UnknownBoundsStillAskThePhone) {
    CustomRig rig;
    x45sim::Fault f;
    f.kind = x45sim::FaultKind::WrongSub;
    f.cmd = 0x14;
    f.sub = 0x16;
    rig.phone.faults().add(f);
    BlockList list;
    const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("5005"));
    EXPECT_EQ(r.end, RunEnd::Completed);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].Data, bytesOf(6, 5));
}

TEST(LoadCustom, StopBetweenNumbers) {
    CustomRig rig;
    rig.afterWrite = [&](const QByteArray& f) {
        if (quint8(f[3]) == 0x04 && f[4] == 2) rig.ui.StopProcess = true;
    };
    BlockList list;
    const RunResult r = rig.transfer.LoadCustom(list, QStringLiteral("1 2 3"));
    EXPECT_EQ(r.end, RunEnd::Stopped);
    EXPECT_EQ(list.size(), 2); // block 2 was finished, 3 never asked
    EXPECT_EQ(blocksAsked(rig), (QList<int>{1, 2}));
}
