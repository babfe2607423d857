// Writing blocks: the three phases, chunking, interim replies, attempts, dialogs, "Save all" and
// "Save selected".

#include "transferrig.h"

#include <QHash>
#include <QSet>
#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;
using namespace std::chrono_literals;

namespace {

QString writeFail(int error, const char* query, int n) {
    return QStringLiteral("Error №%1 (%2) while writing block № %3...\r\nYou can retry writing, "
                          "skip this block or abort whole writing process.")
        .arg(error)
        .arg(QLatin1String(query))
        .arg(n);
}

Outcome writeBlock(TransferRig& rig, const EEPBlock& block) {
    return rig.transfer.writeBlock(block);
}

} // namespace

TEST(WriteBlock, FramesMatchTheProtocolExamples) {
    TransferRig rig;
    EXPECT_EQ(writeBlock(rig, {5000, hex("AA BB CC"), 2}), Outcome::Done);
    EXPECT_EQ(writeBlock(rig, {5, QByteArray(), 0}), Outcome::Done);
    EXPECT_EQ(rig.frames(),
              (QList<QByteArray>{hex("14 07 13 11 88 13 03 00 02 8B"),
                                 hex("14 09 1D 12 88 13 00 00 AA BB CC 54"),
                                 hex("14 04 10 13 88 13 88"), hex("14 07 13 01 05 00 00 00 00 04"),
                                 hex("14 06 12 02 05 00 00 00 07"), hex("14 04 10 03 05 00 06")}));
    EXPECT_EQ(rig.phone.blocks(), (BlockList{{5, QByteArray(), 0}, {5000, hex("AA BB CC"), 2}}));
}

TEST(WriteBlock, ChunksOfTwenty) {
    TransferRig rig;
    EXPECT_EQ(writeBlock(rig, {7, patternBytes(41), 1}), Outcome::Done);
    const auto chunks = rig.framesOfSub(0x02);
    ASSERT_EQ(chunks.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(chunks[i].mid(6, 2), QByteArray(1, char(20 * i)) + '\0');
    EXPECT_EQ(chunks[2].size(), 1 + 9);
    EXPECT_EQ(chunks[1].mid(8, 20), patternBytes(41).mid(20, 20));
    EXPECT_EQ(rig.phone.blocks(), (BlockList{{7, patternBytes(41), 1}}));
}

TEST(WriteBlock, InterimRepliesAreNeitherCountedNorResent) {
    TransferRig rig;
    rig.phone.config().interim = 7; // more than the attempts: counting them would fail the block
    rig.phone.config().interimGap = 1ms;
    EXPECT_EQ(writeBlock(rig, {5001, patternBytes(25), 3}), Outcome::Done);
    EXPECT_EQ(rig.frames().size(), 4); // announce, two chunks, close: each sent once
    EXPECT_TRUE(rig.ui.messages.empty());
    EXPECT_EQ(rig.phone.blocks(), (BlockList{{5001, patternBytes(25), 3}}));

    // Interim and real reply in one read: the real one is taken from behind the interim frame.
    TransferRig together;
    together.answer(0x01, [&](const QByteArray& f) {
        QByteArray line = blockReply(0x50, {}) + blockReply(0x50, {});
        for (const x45sim::Emission& e : together.phone.receive(f, together.port.baudRate()))
            line += e.bytes;
        return line;
    });
    EXPECT_EQ(writeBlock(together, {8, patternBytes(3), 0}), Outcome::Done);
    EXPECT_EQ(together.frames().size(), 3);
    EXPECT_TRUE(together.ui.messages.empty());
    EXPECT_EQ(together.phone.blocks(), (BlockList{{8, patternBytes(3), 0}}));

    // The close request knows no interim reply: 0x50 there is a failed attempt and is resent.
    TransferRig closing;
    int interims = 0;
    closing.answer(0x03, [&](const QByteArray&) -> std::optional<QByteArray> {
        if (interims++ < 2) return blockReply(0x50, {});
        return std::nullopt;
    });
    EXPECT_EQ(writeBlock(closing, {6, patternBytes(3), 0}), Outcome::Done);
    EXPECT_EQ(closing.countSub(0x03), 3);

    // Interim replies without end fail the attempt instead of holding the run forever.
    TransferRig busy;
    busy.answer(0x01, [](const QByteArray&) { return blockReply(0x50, {}).repeated(60); });
    busy.ui.messageAnswers = {Button::Ignore};
    EXPECT_EQ(writeBlock(busy, {8, patternBytes(3), 0}), Outcome::Skipped);
    EXPECT_EQ(busy.countSub(0x01), 5);
    EXPECT_EQ(busy.ui.messages.size(), 1u);
}

TEST(WriteBlock, FiveAttemptsDialogsAndRetry) {
    for (const auto& [sub, error, query] :
         {std::tuple{0x11, 15, "WBlockInfoQuery"}, std::tuple{0x12, 16, "WBlockDataQuery"},
          std::tuple{0x13, 17, "WBlockOKQuery"}}) {
        SCOPED_TRACE(query);
        TransferRig rig;
        rig.phone.faults().add(blockFault(x45sim::FaultKind::BadTrailer, sub, 6));
        rig.ui.messageAnswers = {Button::Retry};
        EXPECT_EQ(writeBlock(rig, {5123, patternBytes(10), 1}), Outcome::Done);
        EXPECT_EQ(rig.countSub(sub), 7);
        ASSERT_EQ(rig.ui.messages.size(), 1u);
        EXPECT_EQ(boxOf(rig.ui.messages[0]), retryBox(writeFail(error, query, 5123)));
        EXPECT_EQ(rig.phone.blocks(), (BlockList{{5123, patternBytes(10), 1}}));
    }
}

TEST(WriteBlock, IgnoreAndAbortInEachPhase) {
    using K = x45sim::FaultKind;
    const auto five = [](K kind, quint8 sub) { return blockFault(kind, sub, 5); };
    const QString info = writeFail(15, "WBlockInfoQuery", 9),
                  data = writeFail(16, "WBlockDataQuery", 9);
    struct Case {
        std::vector<x45sim::Fault> faults;
        int length;
        std::vector<std::pair<quint8, int>> sent; // requests per SubCmd; -1: at least one
        QString text;                             // of the one dialog
    };
    const Case cases[] = {
        // The announce fails: nothing else is sent for the block.
        {{five(K::WrongSub, 0x01)}, 30, {{0x01, 5}, {0x02, 0}, {0x03, 0}}, info},
        // Data fails: the remaining chunks are dropped, the block is still closed. This phone
        // refuses to close a block it did not get in full; that refusal brings no second dialog.
        {{five(K::WrongSub, 0x02)}, 50, {{0x02, 5}, {0x03, -1}}, data},
        // Data answered, then the close fails too: no second dialog, the answer stands.
        {{five(K::WrongSub, 0x02), five(K::BadTrailer, 0x03)}, 50, {{0x02, 5}, {0x03, 5}}, data},
        // The close alone fails: its own dialog decides.
        {{five(K::BadHeader, 0x03)}, 5, {{0x03, 5}}, writeFail(17, "WBlockOKQuery", 9)},
    };
    for (const Button answer : {Button::Ignore, Button::Abort}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << (answer == Button::Ignore ? "Ignore " : "Abort ") << &c - cases);
            TransferRig rig;
            for (const x45sim::Fault& f : c.faults)
                rig.phone.faults().add(f);
            rig.ui.messageAnswers = {answer, Button::Retry};
            EXPECT_EQ(writeBlock(rig, {9, patternBytes(c.length), 1}),
                      answer == Button::Ignore ? Outcome::Skipped : Outcome::Aborted);
            for (const auto& [sub, count] : c.sent) {
                if (count < 0)
                    EXPECT_GE(rig.countSub(sub), 1) << int(sub);
                else
                    EXPECT_EQ(rig.countSub(sub), count) << int(sub);
            }
            ASSERT_EQ(rig.ui.messages.size(), 1u);
            EXPECT_EQ(rig.ui.messages[0].text, c.text);
        }
    }
}

TEST(SaveAll, PreparesThenWritesEveryBlock) {
    TransferRig rig;
    rig.phone.setBlocks({{1, "gone", 0}, {5002, "kept", 0}});
    const BlockList list = {
        {5000, patternBytes(3), 2}, {3, patternBytes(45), 1}, {4, QByteArray(), 0}};
    const RunResult r = rig.transfer.saveAll(list);
    EXPECT_EQ(r.end, Outcome::Done);
    EXPECT_EQ(r.done, 3);
    ASSERT_GE(rig.frames().size(), 2);
    EXPECT_EQ(rig.frames()[0], hex("14 02 16 1B 1B"));
    EXPECT_EQ(rig.frames()[1], hex("14 02 16 09 09"));
    EXPECT_EQ(quint8(rig.frames()[2][3]), 0x11); // list order, areas mixed
    EXPECT_EQ(rig.refreshes, 2);
    EXPECT_EQ(rig.ui.statuses, (QStringList{"Writing...", "Ready"}));
    EXPECT_EQ(rig.ui.progressMax, 3);
    EXPECT_EQ(rig.ui.progressValues, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(rig.phone.blocks(), (BlockList{{3, patternBytes(45), 1},
                                             {4, QByteArray(), 0},
                                             {5000, patternBytes(3), 2},
                                             {5002, "kept", 0}}));
}

TEST(SaveAll, AbortIgnoreAndStop) {
    using K = x45sim::FaultKind;
    using B = Button;
    const auto fault = [](K kind, int sub, int skip, Button answer) {
        return [=](TransferRig& rig) {
            rig.phone.faults().add(blockFault(kind, sub, 5, skip));
            rig.ui.messageAnswers = {answer};
        };
    };
    const auto stop = [](quint8 sub, int block) {
        return [=](TransferRig& rig) { rig.stopAfter(sub, block); };
    };
    const EEPBlock a{1, "a", 0}, b{2, "b", 0}, c{3, "c", 0}, old{8, "old", 0};
    const Outcome S = Outcome::Stopped, C = Outcome::Done, U = Outcome::Unverified;
    const QString unerased = "The phone did not confirm that it erased the EElite area, so EElite "
                             "blocks that the list does not hold may still be on it.\nRead the "
                             "phone back with \"Load all\" to check, or run \"Save all\" again.";
    const QString collect = "Error №19 (CollectEEFULLGarbageQuery)...";
    const QString erase = "Error №9 (EraseEEPQuery)...",
                  info2 = writeFail(15, "WBlockInfoQuery", 2);
    struct Case {
        std::function<void(TransferRig&)> setUp;
        Outcome end;
        int done;
        BlockList onPhone; // held before: old
        int refreshes;
        int frames;           // -1: not counted
        QStringList messages; // the dialogs shown
    };
    const auto ended = [](int written) {
        return QStringLiteral("\"Save all\" ended after writing %1 of 3 blocks.\nThe EElite area "
                              "was erased first, so of its blocks the phone now holds only the "
                              "ones written; EEfull blocks not reached keep their earlier "
                              "contents. Run \"Save all\" again before the phone is used.")
            .arg(written);
    };
    const Case cases[] = {
        // Abort while EEfull is compacted: nothing erased; while EElite is erased: nothing written.
        // Five attempts with a sync after each of the first four.
        {fault(K::BadTrailer, 0x1B, 0, B::Abort), S, 0, {old}, 0, 5 + 4, {collect}},
        {fault(K::BadTrailer, 0x09, 0, B::Abort), S, 0, {}, 0, 1 + 5 + 4, {erase}},
        // Ignore in the erase: the blocks are still written, but the run cannot say the phone
        // holds just them.
        {fault(K::BadTrailer, 0x09, 0, B::Ignore), U, 3, {a, b, c}, 2, -1, {erase, unerased}},
        // Block 2 fails: Ignore skips it; Abort ends the run, with no refresh after the blocks.
        {fault(K::WrongSub, 0x01, 1, B::Ignore), C, 2, {a, c}, 2, -1, {info2}},
        {fault(K::WrongSub, 0x01, 1, B::Abort), S, 1, {a}, 1, -1, {info2, ended(1)}},
        // "Stop" while block 2 is written: it is completed, block 3 is not started.
        {stop(0x02, 2), S, 2, {a, b}, 1, -1, {ended(2)}},
        // "Stop" while EEfull is compacted: EElite is not erased.
        {stop(0x1B, -1), S, 0, {old}, 0, 1, {}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(&t - cases);
        TransferRig rig;
        rig.phone.setBlocks({old});
        t.setUp(rig);
        const RunResult r = rig.transfer.saveAll({a, b, c});
        EXPECT_EQ(r.end, t.end);
        EXPECT_EQ(r.done, t.done);
        EXPECT_EQ(r.skippedCount(), t.end != Outcome::Stopped ? 3 - t.done : 0);
        EXPECT_EQ(rig.phone.blocks(), t.onPhone);
        EXPECT_EQ(rig.refreshes, t.refreshes);
        if (t.frames >= 0) {
            EXPECT_EQ(rig.frames().size(), t.frames);
        }
        EXPECT_EQ(rig.messageTexts(), t.messages);
        EXPECT_EQ(rig.ui.lastStatus(), t.end == Outcome::Done       ? "Ready"
                                       : t.end == Outcome::Stopped ? "Stopped."
                                                                   : "Erase not confirmed.");
        if (t.end == Outcome::Stopped) {
            EXPECT_EQ(rig.ui.progressValue, 0);
        }
    }
}

TEST(SaveAll, PulledCableEndsTheRun) {
    TransferRig rig;
    rig.unplugAfter(0x02, 2, QStringLiteral("Input/output error"));
    EXPECT_EQ(rig.transfer.saveAll({{1, "a", 0}, {2, "b", 0}, {3, "c", 0}}).end, Outcome::PortLost);
    // The lost port, then how much of the erased area was written again.
    ASSERT_EQ(rig.ui.messages.size(), 2u);
    EXPECT_TRUE(rig.ui.messages[1].text.contains(QStringLiteral("after writing 1 of 3 blocks")));
    EXPECT_EQ(rig.ui.messages[0].icon, Icon::Critical);
    EXPECT_TRUE(rig.ui.messages[0].text.contains(rig.port.portName()));
    EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
    EXPECT_EQ(rig.refreshes, 1);
}

TEST(SaveAll, NothingIsSentWhenACheckFailsOrTheHardwareIdIsRefused) {
    const EEPBlock a{1, "a", 0}, big{5, QByteArray(70000, 'x'), 0}, c{5001, "c", 0};
    const BlockOrigin mine{"mine.eep", 1105}, other{"foreign.eep", 2222}, noId{"noid.txt", 0};
    const auto rule = [](std::initializer_list<std::pair<qint16, BlockOrigin>> origins,
                         bool any = false) {
        return std::optional<HWidRule>(HWidRule{1105, QHash<qint16, BlockOrigin>(origins), any});
    };
    struct Case {
        BlockList list;
        std::optional<HWidRule> rule;
        QSet<int> selected;         // "Save selected" of these rows; empty: "Save all"
        std::optional<Buttons> box; // the one box shown before anything is sent
        Button answer;
        QStringList named; // what the box names
        bool written;
    };
    const Case cases[] = {
        {{a, big, c}, {}, {}, Buttons::Ok, Button::Ok, {"Block 5 ", "70000"}, false},
        {{a, big, c}, {}, {1}, Buttons::Ok, Button::Ok, {"Block 5 ", "70000"}, false},
        {{a, big, c}, {}, {0, 2}, {}, Button::Ok, {}, true}, // the long one is not selected
        // Any file of the selection, not only the last; unknown ids and origins count as other.
        {{a, c},
         rule({{1, other}, {5001, mine}}),
         {},
         Buttons::YesNo,
         Button::No,
         {"foreign.eep", "2222", "1105"},
         false},
        {{a, c},
         rule({{1, mine}, {5001, noId}}),
         {},
         Buttons::YesNo,
         Button::No,
         {"noid.txt", "no hardware id"},
         false},
        {{a, c}, rule({{1, mine}}), {0, 1}, Buttons::YesNo, Button::No, {"unknown origin"}, false},
        {{a, c}, rule({{1, other}, {5001, mine}}), {}, Buttons::YesNo, Button::Yes, {}, true},
        {{a, c}, rule({{1, other}, {5001, noId}}, true), {}, {}, Button::Ok, {}, true},
        {{a, c}, rule({{1, mine}, {5001, other}}), {0}, {}, Button::Ok, {}, true},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(&t - cases);
        TransferRig rig;
        rig.phone.setBlocks({{3, "old", 0}});
        rig.ui.messageAnswers = {t.answer};
        const RunResult r =
            t.selected.isEmpty()
                ? rig.transfer.saveAll(t.list, t.rule)
                : rig.transfer.saveSelected(
                      t.list, [&](int row) { return t.selected.contains(row); }, -1, t.rule);
        EXPECT_EQ(r.end, t.written ? Outcome::Done : Outcome::Cancelled);
        ASSERT_EQ(rig.ui.messages.size(), t.box ? 1u : 0u);
        if (t.box) {
            EXPECT_EQ(rig.ui.messages[0].buttons, *t.box);
            EXPECT_EQ(rig.ui.messages[0].defaultButton,
                      *t.box == Buttons::YesNo ? Button::No : Button::Ok);
            for (const QString& word : t.named)
                EXPECT_TRUE(rig.ui.messages[0].text.contains(word)) << word.toStdString();
        }
        if (!t.written) {
            EXPECT_TRUE(rig.frames().isEmpty());
            EXPECT_EQ(rig.phone.blocks(), (BlockList{{3, "old", 0}}));
        }
    }
}

TEST(SaveSelected, SelectionIsReadAsTheRunGoes) {
    TransferRig rig;
    rig.phone.setBlocks({{9, "old", 0}});
    const BlockList list = {{1, "a", 0}, {2, "b", 0}, {3, "c", 0}, {4, "d", 0}};
    QSet<int> selected = {0, 3};
    QList<int> asked;
    // Row 2 gets selected while block 1 is being written.
    rig.afterWrite = [&](const QByteArray& f) {
        if (quint8(f[3]) == 0x03 && f[4] == 1) selected.insert(2);
    };
    const RunResult r = rig.transfer.saveSelected(list, [&](int row) {
        asked << row;
        return selected.contains(row);
    });
    EXPECT_EQ(r.end, Outcome::Done);
    // Once before anything is sent, for the checks; then as the run reaches each row.
    EXPECT_EQ(asked, (QList<int>{0, 1, 2, 3, 0, 1, 2, 3}));
    EXPECT_EQ(rig.phone.blocks(),
              (BlockList{{1, "a", 0}, {3, "c", 0}, {4, "d", 0}, {9, "old", 0}}));
    EXPECT_EQ(quint8(rig.frames()[0][3]), 0x01); // no preparation
    EXPECT_EQ(rig.refreshes, 1);

    // A row selected during the run gets no question: of another hardware id, it is not written.
    TransferRig late;
    selected = {0};
    late.afterWrite = [&](const QByteArray& f) {
        if (quint8(f[3]) == 0x03 && f[4] == 1) selected.insert(2);
    };
    const HWidRule rule{1105, {{1, {"mine.eep", 1105}}, {3, {"foreign.eep", 2222}}}, false};
    const RunResult lateRun = late.transfer.saveSelected(
        list, [&](int row) { return selected.contains(row); }, -1, rule);
    EXPECT_EQ(lateRun.skipped, QVector<qint32>{3});
    EXPECT_EQ(late.phone.blocks(), (BlockList{{1, "a", 0}}));
    EXPECT_EQ(late.ui.messages.size(), 1u);

    // Nothing selected: no write request, the progress runs to its end, space is refreshed.
    TransferRig rig2;
    const RunResult none = rig2.transfer.saveSelected(list, [](int) { return false; });
    EXPECT_EQ(none.end, Outcome::Done);
    EXPECT_TRUE(rig2.frames().isEmpty());
    EXPECT_EQ(rig2.ui.progressValue, 4);
    EXPECT_EQ(rig2.refreshes, 1);
    EXPECT_EQ(rig2.ui.lastStatus(), QStringLiteral("Ready"));
}
