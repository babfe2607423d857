// Reading blocks from the phone: frames, chunking, attempts and dialogs, "Load all".

#include "transferrig.h"

#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

namespace {

using Read = std::tuple<Outcome, ByteStr, quint8>;

Read readBlock(TransferRig& rig, qint32 n) {
    const BlockRead r = rig.transfer.readBlock(n);
    return {r.outcome, r.data, r.version};
}

int offsetOf(const QByteArray& f) {
    return quint8(f[6]) | quint8(f[7]) << 8;
}

QString readFail(int error, const char* query, int n) {
    return QStringLiteral("Error №%1 (%2) while reading block № %3...\r\nYou can retry reading, "
                          "skip this block or abort whole reading process.")
        .arg(error)
        .arg(QLatin1String(query))
        .arg(n);
}

// Blocks 0..count-1 of the given length.
BlockList manyBlocks(int count, int length) {
    BlockList held;
    for (int n = 0; n < count; ++n)
        held.append({qint16(n), patternBytes(length, n), 0});
    return held;
}

} // namespace

TEST(ReadBlock, FramesMatchTheProtocolExamples) {
    TransferRig rig;
    rig.phone.setBlocks({{5000, patternBytes(61), 2}});
    EXPECT_EQ(readBlock(rig, 5000), (Read{Outcome::Done, patternBytes(61), 2}));
    ASSERT_EQ(rig.frames().size(), 4);
    EXPECT_EQ(rig.frames()[0], hex("14 04 10 15 88 13 8E"));
    EXPECT_EQ(rig.frames()[2], hex("14 08 1C 14 88 13 1E 00 1E 00 8F"));
    // 61 bytes: counts 30, 30, 1 at offsets 0, 30, 60.
    EXPECT_EQ(rig.frames()[1].mid(6, 4), hex("00 00 1E 00"));
    EXPECT_EQ(rig.frames()[3].mid(6, 4), hex("3C 00 01 00"));
}

TEST(ReadBlock, ChunkSizesAndOddCounts) {
    TransferRig rig;
    rig.phone.setBlocks(
        {{1, patternBytes(30), 0}, {2, QByteArray(), 4}, {3, patternBytes(100), 0}});
    // An empty EElite block: one data request with count 0, and the block is kept, empty.
    EXPECT_EQ(readBlock(rig, 2), (Read{Outcome::Done, {}, 4}));
    ASSERT_EQ(rig.countSub(0x04), 1);
    EXPECT_EQ(rig.framesOfSub(0x04)[0].mid(6, 4), hex("00 00 00 00"));

    // A phone that returns 10 bytes whatever is asked: the next request starts at the new offset.
    rig.port.writes.clear();
    rig.answer(0x04, [](const QByteArray& f) {
        return blockReply(0x04, patternBytes(100).mid(offsetOf(f), 10));
    });
    EXPECT_EQ(readBlock(rig, 3), (Read{Outcome::Done, patternBytes(100), 0}));
    const auto chunks = rig.framesOfSub(0x04);
    ASSERT_EQ(chunks.size(), 10);
    EXPECT_EQ(chunks[1].mid(6, 4), hex("0A 00 1E 00"));
    EXPECT_EQ(chunks[9].mid(6, 4), hex("5A 00 0A 00"));

    // More than asked cannot be this chunk's reply: five failed attempts, then the dialog.
    rig.port.writes.clear();
    rig.answer(0x04, [](const QByteArray&) { return blockReply(0x04, patternBytes(40, 3)); });
    rig.ui.messageAnswers = {Button::Ignore};
    EXPECT_EQ(readBlock(rig, 1), (Read{Outcome::Skipped, {}, 0}));
    EXPECT_EQ(rig.countSub(0x04), 5);
    EXPECT_EQ(rig.ui.messages.size(), 1u);
}

TEST(ReadBlock, NoSuchBlockMarker) {
    TransferRig rig;
    rig.phone.setBlocks({{7, patternBytes(5), 1}});
    EXPECT_EQ(readBlock(rig, 8), (Read{Outcome::NoSuchBlock, {}, 0}));
    EXPECT_EQ(rig.frames().size(), 1); // no retry, no dialog
    EXPECT_TRUE(rig.ui.messages.empty());

    // A garbled reply that merely carries 0x32 in its fourth byte is a failed attempt, not a
    // missing block.
    rig.port.writes.clear();
    int garbled = 0;
    rig.answer(0x05, [&](const QByteArray&) -> std::optional<QByteArray> {
        if (garbled++ > 0) return std::nullopt;
        QByteArray r = blockReply(0x32, {});
        r.back() = char(r.back() ^ 0xFF);
        return r;
    });
    EXPECT_EQ(readBlock(rig, 7), (Read{Outcome::Done, patternBytes(5), 1}));
    EXPECT_EQ(rig.countSub(0x05), 2);

    // The marker in the data phase is a failed attempt: the announcement before it cannot be
    // trusted, so after a sync the read starts again at the info query and the block comes
    // whole, never cut short at the marker.
    rig.phone.setBlocks({{9, patternBytes(50), 3}});
    int markers = 1;
    rig.answer(0x04, [&markers](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[6]) == 30 && markers-- > 0) return blockReply(0x32, {});
        return std::nullopt;
    });
    rig.port.writes.clear();
    EXPECT_EQ(readBlock(rig, 9), (Read{Outcome::Done, patternBytes(50), 3}));
    // Info, offsets 0 and 30, the sync, then info, 0 and 30 again.
    EXPECT_EQ(rig.frames().size(), 7);
    EXPECT_EQ(rig.countSub(0x05), 2);
}

TEST(ReadBlock, FiveAttemptsThenTheDialog) {
    TransferRig rig;
    rig.phone.setBlocks({{5, patternBytes(12), 1}});
    rig.phone.faults().add(blockFault(x45sim::FaultKind::BadTrailer, 0x05, 7));
    rig.ui.messageAnswers = {Button::Retry};
    EXPECT_EQ(readBlock(rig, 5), (Read{Outcome::Done, patternBytes(12), 1}));
    // Five, the dialog, Retry, two more failures and the good one; all the same frame.
    EXPECT_EQ(rig.framesOfSub(0x05), QList<QByteArray>(8, hex("14 04 10 05 05 00 00")));
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(boxOf(rig.ui.messages[0]), retryBox(readFail(5, "BlockInfoQuery", 5)));
}

TEST(ReadBlock, IgnoreAndAbortInEachPhase) {
    for (const Button answer : {Button::Ignore, Button::Abort}) {
        SCOPED_TRACE(answer == Button::Ignore ? "Ignore" : "Abort");
        const Outcome expected =
            answer == Button::Ignore ? Outcome::Skipped : Outcome::Aborted;
        TransferRig rig;
        rig.phone.setBlocks({{5123, patternBytes(40), 6}});
        rig.phone.faults().add(blockFault(x45sim::FaultKind::WrongSub, 0x15, 5));
        rig.ui.messageAnswers = {answer};
        EXPECT_EQ(readBlock(rig, 5123), (Read{expected, {}, 0}));
        ASSERT_EQ(rig.ui.messages.size(), 1u);
        EXPECT_EQ(rig.ui.messages[0].text, readFail(5, "BlockInfoQuery", 5123));
        EXPECT_EQ(rig.countSub(0x14), 0);

        // Data phase: the second chunk fails five times.
        rig.phone.faults().clear();
        rig.phone.faults().add(blockFault(x45sim::FaultKind::BadHeader, 0x14, 5, 1));
        rig.ui.messageAnswers = {answer};
        EXPECT_EQ(readBlock(rig, 5123), (Read{expected, {}, 0}));
        ASSERT_EQ(rig.ui.messages.size(), 2u);
        EXPECT_EQ(rig.ui.messages[1].text, readFail(6, "BlockDataQuery", 5123));
    }
}

TEST(ReadBlock, ShortAndEmptyRepliesAreFailedAttempts) {
    TransferRig rig;
    rig.phone.setBlocks({{5, patternBytes(12), 1}});
    int shortInfo = 0;
    int emptyData = 0;
    rig.intercept = [&](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) == 0x05 && shortInfo++ < 2)
            return blockReply(0x05, hex("0C")); // no room for length and version
        if (quint8(f[3]) == 0x04 && emptyData++ < 3)
            return blockReply(0x04, {}); // no data bytes: no progress
        return std::nullopt;
    };
    EXPECT_EQ(readBlock(rig, 5), (Read{Outcome::Done, patternBytes(12), 1}));
    // Two short info replies, the good one, and the announcement asked again after the data
    // phase was out of step.
    EXPECT_EQ(rig.countSub(0x05), 4);
    EXPECT_EQ(rig.countSub(0x04), 4);
    EXPECT_TRUE(rig.ui.messages.empty());

    // A phone that never sends data bytes ends in the dialog, not in an endless loop.
    rig.answer(0x04, [](const QByteArray&) { return blockReply(0x04, {}); });
    rig.ui.messageAnswers = {Button::Ignore};
    EXPECT_EQ(std::get<0>(readBlock(rig, 5)), Outcome::Skipped);
    EXPECT_EQ(rig.ui.messages.size(), 1u);
}

TEST(ReadBlock, LengthsPastSignedRangeStayPositive) {
    TransferRig rig;
    rig.intercept = [&](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) == 0x05) return blockReply(0x05, hex("10 80 01"));
        const int count = quint8(f[8]) | quint8(f[9]) << 8;
        return blockReply(0x04, QByteArray(count, char(offsetOf(f) & 0x7F)));
    };
    const BlockRead r = rig.transfer.readBlock(7);
    ASSERT_EQ(r.outcome, Outcome::Done);
    EXPECT_EQ(r.data.size(), 0x8010); // 32784: negative if read as 16-bit signed
    EXPECT_EQ(r.version, 1);
}

TEST(MaxBlockQuery, FramesClampAndFailure) {
    TransferRig rig;
    rig.phone.config().maxEElite = 123;
    EXPECT_EQ(rig.transfer.maxBlockQuery(false), 123);
    EXPECT_EQ(rig.frames().last(), hex("14 02 16 06 06"));
    rig.answer(0x16, [](const QByteArray&) { return blockReply(0x16, hex("FF 9F")); }); // 40959
    EXPECT_EQ(rig.transfer.maxBlockQuery(true), 32767);
    EXPECT_EQ(rig.frames().last(), hex("14 02 16 16 16"));

    rig.port.writes.clear();
    // Too short for a number.
    rig.answer(0x16, [](const QByteArray&) { return blockReply(0x16, hex("88")); });
    EXPECT_EQ(rig.transfer.maxBlockQuery(true), std::nullopt);
    EXPECT_EQ(rig.countSub(0x16), 5);
    EXPECT_TRUE(rig.ui.messages.empty());
}

TEST(LoadAll, ReadsBothAreasWithProgress) {
    TransferRig rig;
    const BlockList held = {
        {0, patternBytes(4), 1}, {2, patternBytes(31), 2}, {5001, patternBytes(1), 3}};
    rig.phone.setBlocks(held);
    rig.phone.config().maxEElite = 3;
    rig.phone.config().maxEEfull = 5002;
    BlockList list = {{99, "stale", 0}};
    const RunResult r = rig.transfer.loadAll(list);
    EXPECT_EQ(r.end, Outcome::Done);
    EXPECT_EQ(r.done, 3);
    EXPECT_EQ(list, held);
    EXPECT_EQ(rig.ui.progressMax, 5);
    EXPECT_EQ(rig.ui.progressValues, (std::vector<int>{0, 0, 1, 2, 3, 3, 4, 5}));
    EXPECT_EQ(rig.ui.statuses, (QStringList{"Reading...", "Ready"}));
    EXPECT_EQ(rig.blocksAsked(), (QList<int>{0, 1, 2, 3, 5000, 5001, 5002}));

    // An empty EEfull area still has EElite read.
    TransferRig elite;
    elite.phone.setBlocks({{1, patternBytes(2), 0}, {4, patternBytes(3), 0}});
    list.clear();
    EXPECT_EQ(elite.transfer.loadAll(list).end, Outcome::Done);
    EXPECT_EQ(list.size(), 2);
    EXPECT_GT(elite.ui.progressMax, 0);
}

TEST(LoadAll, UnknownBoundsEndTheRunWithAMessage) {
    TransferRig rig;
    rig.phone.setBlocks({{1, patternBytes(2), 0}});
    rig.phone.faults().add(blockFault(x45sim::FaultKind::BadTrailer, 0x16, 0));
    BlockList list = {{3, "x", 0}};
    EXPECT_EQ(rig.transfer.loadAll(list).end, Outcome::Failed);
    EXPECT_TRUE(list.isEmpty());
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_TRUE(rig.ui.messages[0].text.contains(QStringLiteral("EEfull")));
    EXPECT_EQ(rig.countSub(0x05), 0);
    EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
}

TEST(LoadAll, AbortAndStopLeaveTheListEmpty) {
    // Abort in block 2's dialog; "Stop" while block 4's data is fetched (block 4 is finished, the
    // run ends before block 5); "Stop" during the highest-number queries (no block is asked for).
    enum { Abort, StopInBlocks, StopInBounds };
    for (const int how : {Abort, StopInBlocks, StopInBounds}) {
        SCOPED_TRACE(how);
        TransferRig rig;
        rig.phone.setBlocks(manyBlocks(how == StopInBlocks ? 20 : 3, 5));
        if (how == Abort) {
            rig.phone.faults().add(blockFault(x45sim::FaultKind::BadTrailer, 0x05, 5, 2));
            rig.ui.messageAnswers = {Button::Abort};
        } else {
            rig.stopAfter(how == StopInBlocks ? 0x04 : 0x06, how == StopInBlocks ? 4 : -1);
        }
        BlockList list;
        const RunResult r = rig.transfer.loadAll(list);
        EXPECT_EQ(r.end, Outcome::Stopped);
        EXPECT_TRUE(list.isEmpty());
        EXPECT_EQ(rig.ui.progressValue, 0);
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
        if (how == StopInBlocks) {
            EXPECT_EQ(r.done, 5);
            EXPECT_EQ(rig.frames().last().mid(3, 2), hex("04 04"));
        } else { // nothing asked after the abort, or at all after the early "Stop"
            EXPECT_EQ(rig.countSub(0x05), how == Abort ? 2 + 5 : 0);
        }
    }
}

