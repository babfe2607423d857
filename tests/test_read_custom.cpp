// "Load custom...": typed numbers, the reload question carried through the run, not-found reports.

#include "transferrig.h"

#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

namespace {

const EEPBlock read1{1, patternBytes(3, 1), 1}, read2{2, patternBytes(4, 2), 2},
    read3{3, patternBytes(5, 3), 3}, read5000{5000, patternBytes(33, 4), 4},
    read5005{5005, patternBytes(6, 5), 5};

struct CustomRig : TransferRig {
    CustomRig() { phone.setBlocks({read1, read2, read3, read5000, read5005}); }
};

} // namespace

TEST(LoadCustom, RepeatedNumberAsksOnTheSecondTime) {
    CustomRig rig;
    rig.ui.blockListAnswers = {QStringLiteral("  3 3 ")};
    rig.ui.rewriteAnswers = {RewriteAnswer::No};
    BlockList list;
    EXPECT_EQ(rig.transfer.loadCustom(list).end, Outcome::Done);
    EXPECT_EQ(list, BlockList{read3});
    EXPECT_EQ(rig.ui.rewriteQuestions, QStringList{"Do you want to reload block 3 from phone?"});
    EXPECT_EQ(rig.blocksAsked(), QList<int>{3});
    EXPECT_EQ(rig.ui.statuses, (QStringList{"Reading...", "Ready"}));
    EXPECT_EQ(rig.ui.progressMax, 2);
    EXPECT_EQ(rig.ui.progressValues, (std::vector<int>{0, 1, 2}));
}

TEST(LoadCustom, LastAnswerCarriesThroughTheRun) {
    const EEPBlock old1{1, "old1", 0}, old2{2, "old2", 0};
    const Outcome C = Outcome::Done;
    struct Case {
        std::deque<RewriteAnswer> answers;
        const char* typed;
        BlockList before;
        Outcome end;
        int questions;
        QList<int> asked;
        BlockList after;
    };
    const Case cases[] = {
        // No: the next new number is read without a question, the next held one is asked again;
        // a reread block is replaced in place.
        {{RewriteAnswer::No, RewriteAnswer::Yes}, "1,3;2", {old1, old2}, C, 2, {3, 2}, {old1, read2, read3}},
        // No for all: later held numbers are skipped without a question.
        {{RewriteAnswer::NoAll}, "1 3 2", {old1, old2}, C, 1, {3}, {old1, old2, read3}},
        // Yes for all: held numbers are read without further questions.
        {{RewriteAnswer::YesAll}, "1-2", {old1, old2}, C, 1, {1, 2}, {read1, read2}},
        // Cancel: that number is skipped and the run stops; what was read stays.
        {{RewriteAnswer::Cancel}, "1 2 3", {old2}, Outcome::Stopped, 1, {1}, {old2, read1}},
        // An answer outside the five (a question closed some other way) keeps the block, goes on.
        {{RewriteAnswer(0), RewriteAnswer::Yes}, "1 3 2", {old1, old2}, C, 2, {3, 2},
         {old1, read2, read3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        CustomRig rig;
        BlockList list = c.before;
        rig.ui.rewriteAnswers = c.answers;
        EXPECT_EQ(rig.transfer.loadCustom(list, QString::fromLatin1(c.typed)).end, c.end);
        EXPECT_EQ(rig.ui.rewriteQuestions.size(), c.questions);
        EXPECT_EQ(rig.blocksAsked(), c.asked);
        EXPECT_EQ(list, c.after);
        EXPECT_EQ(rig.ui.lastStatus(), c.end == Outcome::Stopped ? "Stopped." : "Ready");
        if (c.end == Outcome::Stopped) {
            EXPECT_EQ(rig.ui.progressValue, 0);
        }
    }
}

TEST(LoadCustom, NotFoundReports) {
    CustomRig rig;
    BlockList list;
    // The highest numbers are 3 and 5005: 4 and 5006 are outside and never asked for; 5001 is
    // inside but not held (0x32).
    const RunResult r = rig.transfer.loadCustom(list, QStringLiteral("4 5001 5006 5000"));
    EXPECT_EQ(r.end, Outcome::Done);
    EXPECT_EQ(r.notFound, 3);
    EXPECT_EQ(rig.blocksAsked(), (QList<int>{5001, 5000}));
    EXPECT_EQ(rig.messageTexts(),
              (QStringList{"Block number 4 not found.", "Block number 5001 not found.",
                           "Block number 5006 not found."}));
    for (const ShownMessage& m : rig.ui.messages) {
        EXPECT_EQ(m.title, QStringLiteral("Error"));
        EXPECT_EQ(m.icon, Icon::Exclamation);
        EXPECT_EQ(m.buttons, Buttons::Ok);
    }
    EXPECT_EQ(list, BlockList{read5000});
}

TEST(LoadCustom, AbortAndStopKeepWhatWasRead) {
    // Abort in block 2's dialog, or "Stop" while block 2's data is fetched: 3 is never asked.
    for (const bool abort : {true, false}) {
        SCOPED_TRACE(abort ? "Abort" : "Stop");
        CustomRig rig;
        if (abort) {
            rig.phone.faults().add(blockFault(x45sim::FaultKind::BadTrailer, 0x05, 5, 1));
            rig.ui.messageAnswers = {Button::Abort};
        } else {
            rig.stopAfter(0x04, 2);
        }
        BlockList list;
        EXPECT_EQ(rig.transfer.loadCustom(list, QStringLiteral("1 2 3")).end, Outcome::Stopped);
        EXPECT_EQ(list, (abort ? BlockList{read1} : BlockList{read1, read2}));
        EXPECT_EQ(rig.blocksAsked(), (abort ? QList<int>{1, 2, 2, 2, 2, 2} : QList<int>{1, 2}));
        EXPECT_EQ(rig.ui.messages.size(), abort ? 2u : 0u);
        if (abort) {
            EXPECT_EQ(rig.ui.messages[1].text, QStringLiteral("Block number 2 not found."));
        }
    }
}

TEST(LoadCustom, NothingTypedOrBadList) {
    CustomRig rig;
    BlockList list = {{9, "keep", 1}};
    rig.ui.blockListAnswers = {QStringLiteral("   ")};
    EXPECT_EQ(rig.transfer.loadCustom(list).end, Outcome::Cancelled);
    EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Ready"));
    EXPECT_TRUE(rig.frames().isEmpty());

    // A number that is no block number is refused as a whole, nothing is sent.
    const RunResult r = rig.transfer.loadCustom(list, QStringLiteral("1 70000"));
    EXPECT_EQ(r.end, Outcome::Failed);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(rig.frames().isEmpty());
    EXPECT_EQ(list, (BlockList{{9, "keep", 1}}));
}

TEST(LoadCustom, UnknownBoundsStillAskThePhone) {
    CustomRig rig;
    rig.phone.faults().add(blockFault(x45sim::FaultKind::WrongSub, 0x16, 0));
    BlockList list;
    EXPECT_EQ(rig.transfer.loadCustom(list, QStringLiteral("5005")).end, Outcome::Done);
    EXPECT_EQ(list, BlockList{read5005});
}
