// Reading blocks from the phone: frames, chunking, attempts and dialogs, "Load all".

#include "transferrig.h"

#include "link/protocol.h"

#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

namespace {

QByteArray bytesOf(int n, int seed = 1) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(static_cast<char>((i * 7 + seed) & 0xFF));
    return b;
}

x45sim::Fault fault(x45sim::FaultKind kind, int sub, int count, int skip = 0) {
    x45sim::Fault f;
    f.kind = kind;
    f.cmd = 0x14;
    f.sub = sub;
    f.count = count;
    f.skip = skip;
    return f;
}

QList<QByteArray> framesWithSub(const TransferRig& rig, quint8 sub) {
    QList<QByteArray> out;
    for (const QByteArray& f : rig.frames())
        if (f.size() > 3 && quint8(f.at(3)) == sub) out << f;
    return out;
}

const QString InfoFail5 = QStringLiteral(
    "Error №5 (BlockInfoQuery) while reading block № 5...\r\nYou can retry reading, skip this "
    "block or abort whole reading process.");

} // namespace

TEST(ReadBlock, FramesMatchTheProtocolExamples) {
    TransferRig rig;
    rig.phone.setBlocks({{5, bytesOf(3), 1}, {5000, bytesOf(61), 2}});
    ByteStr data;
    quint8 version = 0;
    ASSERT_EQ(rig.transfer.ReadBlock(5000, data, version), ReadOutcome::Read);
    EXPECT_EQ(data, bytesOf(61));
    EXPECT_EQ(version, 2);
    ASSERT_EQ(rig.frames().size(), 4);
    EXPECT_EQ(rig.frames()[0], hex("14 04 10 15 88 13 8E"));
    EXPECT_EQ(rig.frames()[2], hex("14 08 1C 14 88 13 1E 00 1E 00 8F"));
    // 61 bytes: counts 30, 30, 1 at offsets 0, 30, 60.
    EXPECT_EQ(rig.frames()[1].mid(6, 4), hex("00 00 1E 00"));
    EXPECT_EQ(rig.frames()[3].mid(6, 4), hex("3C 00 01 00"));

    rig.port.writes.clear();
    ASSERT_EQ(rig.transfer.ReadBlock(5, data, version), ReadOutcome::Read);
    EXPECT_EQ(rig.frames()[0], hex("14 04 10 05 05 00 00"));
    EXPECT_EQ(quint8(rig.frames()[1][3]), 0x04); // EElite data request
    EXPECT_EQ(data, bytesOf(3));
}

TEST(ReadBlock, ChunkSizesAndOddCounts) {
    TransferRig rig;
    rig.phone.setBlocks({{1, bytesOf(30), 0}, {2, QByteArray(), 4}, {3, bytesOf(100), 0}});
    ByteStr data;
    quint8 version = 9;
    ASSERT_EQ(rig.transfer.ReadBlock(1, data, version), ReadOutcome::Read);
    EXPECT_EQ(framesWithSub(rig, 0x04).size(), 1);

    // An empty block: one data request with count 0, and the block is kept, empty.
    rig.port.writes.clear();
    ASSERT_EQ(rig.transfer.ReadBlock(2, data, version), ReadOutcome::Read);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(version, 4);
    ASSERT_EQ(framesWithSub(rig, 0x04).size(), 1);
    EXPECT_EQ(framesWithSub(rig, 0x04)[0].mid(6, 4), hex("00 00 00 00"));

    // A phone that returns 10 bytes whatever is asked: the next request starts at the new offset.
    rig.port.writes.clear();
    rig.intercept = [](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) != 0x04) return std::nullopt;
        const int offset = quint8(f[6]) | quint8(f[7]) << 8;
        return blockReply(0x04, bytesOf(100).mid(offset, 10));
    };
    ASSERT_EQ(rig.transfer.ReadBlock(3, data, version), ReadOutcome::Read);
    EXPECT_EQ(data, bytesOf(100));
    const auto chunks = framesWithSub(rig, 0x04);
    ASSERT_EQ(chunks.size(), 10);
    EXPECT_EQ(chunks[1].mid(6, 4), hex("0A 00 1E 00"));
    EXPECT_EQ(chunks[9].mid(6, 4), hex("5A 00 0A 00"));

    // More than asked: everything is kept and the read ends once the length is reached.
    rig.port.writes.clear();
    rig.intercept = [](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) != 0x04) return std::nullopt;
        return blockReply(0x04, bytesOf(40, 3));
    };
    ASSERT_EQ(rig.transfer.ReadBlock(1, data, version), ReadOutcome::Read);
    EXPECT_EQ(data, bytesOf(40, 3));
    EXPECT_EQ(framesWithSub(rig, 0x04).size(), 1);
}

TEST(ReadBlock, NoSuchBlockMarker) {
    TransferRig rig;
    rig.phone.setBlocks({{7, bytesOf(5), 1}});
    ByteStr data = "old";
    quint8 version = 77;
    EXPECT_EQ(rig.transfer.ReadBlock(8, data, version), ReadOutcome::NoSuchBlock);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(version, 77);
    EXPECT_EQ(rig.frames().size(), 1); // no retry, no dialog
    EXPECT_TRUE(rig.ui.messages.empty());

    // A garbled reply that merely carries 0x32 in its fourth byte is a failed attempt, not a
    // missing block.
    rig.port.writes.clear();
    int garbled = 0;
    rig.intercept = [&](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) != 0x05 || garbled++ > 0) return std::nullopt;
        QByteArray r = blockReply(0x32, {});
        r.back() = char(r.back() ^ 0xFF);
        return r;
    };
    EXPECT_EQ(rig.transfer.ReadBlock(7, data, version), ReadOutcome::Read);
    EXPECT_EQ(data, bytesOf(5));
    EXPECT_EQ(framesWithSub(rig, 0x05).size(), 2);

    // The marker in the data phase returns what came before it.
    rig.port.writes.clear();
    rig.phone.setBlocks({{9, bytesOf(50), 3}});
    rig.intercept = [](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) == 0x04 && quint8(f[6]) == 30) return blockReply(0x32, {});
        return std::nullopt;
    };
    EXPECT_EQ(rig.transfer.ReadBlock(9, data, version), ReadOutcome::Partial);
    EXPECT_EQ(data, bytesOf(50).left(30));
    EXPECT_EQ(version, 3);
}

TEST(ReadBlock, FiveAttemptsThenTheDialog) {
    TransferRig rig;
    rig.phone.setBlocks({{5, bytesOf(12), 1}});
    rig.phone.faults().add(fault(x45sim::FaultKind::BadTrailer, 0x05, 7));
    rig.ui.messageAnswers = {Button::Retry};
    ByteStr data;
    quint8 version = 0;
    ASSERT_EQ(rig.transfer.ReadBlock(5, data, version), ReadOutcome::Read);
    EXPECT_EQ(data, bytesOf(12));
    // Five, the dialog, Retry, two more failures and the good one.
    EXPECT_EQ(framesWithSub(rig, 0x05).size(), 8);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    const ShownMessage& m = rig.ui.messages[0];
    EXPECT_EQ(m.text, InfoFail5);
    EXPECT_TRUE(m.title.isEmpty());
    EXPECT_EQ(m.buttons, Buttons::AbortRetryIgnore);
    EXPECT_EQ(m.icon, Icon::Exclamation);
    EXPECT_EQ(m.defaultButton, Button::Ignore);
    for (const QByteArray& f : framesWithSub(rig, 0x05))
        EXPECT_EQ(f, hex("14 04 10 05 05 00 00"));
}

TEST(ReadBlock, IgnoreAndAbortInEachPhase) {
    for (const Button answer : {Button::Ignore, Button::Abort}) {
        TransferRig rig;
        rig.phone.setBlocks({{5123, bytesOf(40), 6}});
        rig.phone.faults().add(fault(x45sim::FaultKind::WrongSub, 0x15, 5));
        rig.ui.messageAnswers = {answer};
        ByteStr data;
        quint8 version = 42;
        const ReadOutcome info = rig.transfer.ReadBlock(5123, data, version);
        EXPECT_EQ(info, answer == Button::Ignore ? ReadOutcome::Skipped : ReadOutcome::Aborted);
        EXPECT_EQ(version, 42);
        EXPECT_TRUE(data.isEmpty());
        ASSERT_EQ(rig.ui.messages.size(), 1u);
        EXPECT_TRUE(rig.ui.messages[0].text.startsWith(
            QStringLiteral("Error №5 (BlockInfoQuery) while reading block № 5123...\r\n")));
        EXPECT_EQ(framesWithSub(rig, 0x14).size(), 0);

        // Data phase: the second chunk fails five times.
        rig.phone.faults().clear();
        rig.phone.faults().add(fault(x45sim::FaultKind::BadHeader, 0x14, 5, 1));
        rig.ui.messageAnswers = {answer};
        const ReadOutcome dataPhase = rig.transfer.ReadBlock(5123, data, version);
        EXPECT_EQ(dataPhase,
                  answer == Button::Ignore ? ReadOutcome::Skipped : ReadOutcome::Aborted);
        EXPECT_EQ(version, 0);
        EXPECT_TRUE(data.isEmpty());
        ASSERT_EQ(rig.ui.messages.size(), 2u);
        EXPECT_EQ(rig.ui.messages[1].text,
                  QStringLiteral("Error №6 (BlockDataQuery) while reading block № 5123...\r\nYou "
                                 "can retry reading, skip this block or abort whole reading "
                                 "process."));
    }
}

TEST(ReadBlock, ShortAndEmptyRepliesAreFailedAttempts) {
    TransferRig rig;
    rig.phone.setBlocks({{5, bytesOf(12), 1}});
    int shortInfo = 0;
    int emptyData = 0;
    rig.intercept = [&](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) == 0x05 && shortInfo < 2) {
            ++shortInfo;
            return blockReply(0x05, hex("0C")); // no room for length and version
        }
        if (quint8(f[3]) == 0x04 && emptyData < 3) {
            ++emptyData;
            return blockReply(0x04, {}); // no data bytes: no progress
        }
        return std::nullopt;
    };
    ByteStr data;
    quint8 version = 0;
    ASSERT_EQ(rig.transfer.ReadBlock(5, data, version), ReadOutcome::Read);
    EXPECT_EQ(data, bytesOf(12));
    EXPECT_EQ(framesWithSub(rig, 0x05).size(), 3);
    EXPECT_EQ(framesWithSub(rig, 0x04).size(), 4);
    EXPECT_TRUE(rig.ui.messages.empty());

    // A phone that never sends data bytes ends in the dialog, not in an endless loop.
    rig.intercept = [](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) == 0x04) return blockReply(0x04, {});
        return std::nullopt;
    };
    rig.ui.messageAnswers = {Button::Ignore};
    EXPECT_EQ(rig.transfer.ReadBlock(5, data, version), ReadOutcome::Skipped);
    EXPECT_EQ(rig.ui.messages.size(), 1u);
}

TEST(ReadBlock, LengthsPastSignedRangeStayPositive) {
    TransferRig rig;
    const int length = 0x8010; // 32784: negative if read as 16-bit signed
    rig.intercept = [&](const QByteArray& f) -> std::optional<QByteArray> {
        if (quint8(f[3]) == 0x05) return blockReply(0x05, hex("10 80 01"));
        const int offset = quint8(f[6]) | quint8(f[7]) << 8;
        const int count = quint8(f[8]) | quint8(f[9]) << 8;
        return blockReply(0x04, QByteArray(count, char(offset & 0x7F)));
    };
    ByteStr data;
    quint8 version = 0;
    ASSERT_EQ(rig.transfer.ReadBlock(7, data, version), ReadOutcome::Read);
    EXPECT_EQ(data.size(), length);
    EXPECT_EQ(version, 1);
}

TEST(MaxBlockQuery, FramesClampAndFailure) {
    TransferRig rig;
    rig.phone.config().maxEElite = 123;
    EXPECT_EQ(rig.transfer.MaxBlockQuery(false), 123);
    EXPECT_EQ(rig.frames().last(), hex("14 02 16 06 06"));
    rig.intercept = [](const QByteArray&) -> std::optional<QByteArray> {
        return blockReply(0x16, hex("FF 9F")); // 40959
    };
    EXPECT_EQ(rig.transfer.MaxBlockQuery(true), 32767);
    EXPECT_EQ(rig.frames().last(), hex("14 02 16 16 16"));

    rig.port.writes.clear();
    rig.intercept = [](const QByteArray&) -> std::optional<QByteArray> {
        return blockReply(0x16, hex("88")); // too short for a number
    };
    EXPECT_EQ(rig.transfer.MaxBlockQuery(true), std::nullopt);
    EXPECT_EQ(rig.frames().size(), 5);
    EXPECT_TRUE(rig.ui.messages.empty());
}

TEST(LoadAll, ReadsBothAreasWithProgress) {
    TransferRig rig;
    const BlockList held = {{0, bytesOf(4), 1}, {2, bytesOf(31), 2}, {5001, bytesOf(1), 3}};
    rig.phone.setBlocks(held);
    rig.phone.config().maxEElite = 3;
    rig.phone.config().maxEEfull = 5002;
    BlockList list = {{99, "stale", 0}};
    const RunResult r = rig.transfer.LoadAll(list);
    EXPECT_EQ(r.end, RunEnd::Completed);
    EXPECT_EQ(r.done, 3);
    EXPECT_EQ(list, held);
    EXPECT_EQ(rig.ui.progressMax, 5);
    EXPECT_EQ(rig.ui.progressValues, (std::vector<int>{0, 0, 1, 2, 3, 3, 4, 5}));
    EXPECT_EQ(rig.ui.statuses, (QStringList{"Reading...", "Ready"}));
    QList<int> tried;
    for (const QByteArray& f : rig.frames())
        if (quint8(f[3]) == 0x05 || quint8(f[3]) == 0x15)
            tried << (quint8(f[4]) | quint8(f[5]) << 8);
    EXPECT_EQ(tried, (QList<int>{0, 1, 2, 3, 5000, 5001, 5002}));
}

TEST(LoadAll, EmptyEEfullAreaStillReadsEElite) {
    TransferRig rig;
    rig.phone.setBlocks({{1, bytesOf(2), 0}, {4, bytesOf(3), 0}});
    BlockList list;
    const RunResult r = rig.transfer.LoadAll(list);
    EXPECT_EQ(r.end, RunEnd::Completed);
    EXPECT_EQ(list.size(), 2);
    EXPECT_GT(rig.ui.progressMax, 0);
}

TEST(LoadAll, UnknownBoundsEndTheRunWithAMessage) {
    TransferRig rig;
    rig.phone.setBlocks({{1, bytesOf(2), 0}});
    rig.phone.faults().add(fault(x45sim::FaultKind::BadTrailer, 0x16, 0));
    BlockList list = {{3, "x", 0}};
    const RunResult r = rig.transfer.LoadAll(list);
    EXPECT_EQ(r.end, RunEnd::Failed);
    EXPECT_TRUE(list.isEmpty());
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_TRUE(rig.ui.messages[0].text.contains(QStringLiteral("EEfull")));
    EXPECT_EQ(rig.countSub(0x05), 0);
    EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
}

TEST(LoadAll, AbortAndStopLeaveTheListEmpty) {
    {
        TransferRig rig;
        rig.phone.setBlocks({{1, bytesOf(2), 0}, {2, bytesOf(2), 0}, {3, bytesOf(2), 0}});
        rig.phone.faults().add(fault(x45sim::FaultKind::BadTrailer, 0x05, 5, 2));
        rig.ui.messageAnswers = {Button::Abort};
        BlockList list;
        const RunResult r = rig.transfer.LoadAll(list);
        EXPECT_EQ(r.end, RunEnd::Stopped);
        EXPECT_TRUE(list.isEmpty());
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
        EXPECT_EQ(rig.ui.progressValue, 0);
        EXPECT_EQ(rig.countSub(0x05), 2 + 5); // nothing asked after the abort
    }
    {
        TransferRig rig;
        BlockList held;
        for (int n = 0; n < 20; ++n)
            held.append({qint16(n), bytesOf(5, n), 0});
        rig.phone.setBlocks(held);
        // "Stop" pressed while block 4's data is being fetched: block 4 is finished, then the run
        // ends before block 5.
        rig.afterWrite = [&](const QByteArray& f) {
            if (quint8(f[3]) == 0x04 && f[4] == 4) rig.ui.StopProcess = true;
        };
        BlockList list;
        const RunResult r = rig.transfer.LoadAll(list);
        EXPECT_EQ(r.end, RunEnd::Stopped);
        EXPECT_EQ(r.done, 5);
        EXPECT_TRUE(list.isEmpty());
        EXPECT_EQ(rig.ui.progressValue, 0);
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
        EXPECT_EQ(rig.frames().last().mid(3, 2), hex("04 04"));
    }
    {
        // "Stop" during the highest-number queries: no block is asked for.
        TransferRig rig;
        rig.phone.setBlocks({{1, bytesOf(2), 0}});
        rig.afterWrite = [&](const QByteArray& f) {
            if (quint8(f[3]) == 0x06) rig.ui.StopProcess = true;
        };
        BlockList list;
        EXPECT_EQ(rig.transfer.LoadAll(list).end, RunEnd::Stopped);
        EXPECT_EQ(rig.countSub(0x05), 0);
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
    }
}

TEST(LoadAll, PulledCableEndsTheRunAtOnce) {
    TransferRig rig;
    BlockList held;
    for (int n = 0; n < 50; ++n)
        held.append({qint16(n), bytesOf(40, n), 0});
    rig.phone.setBlocks(held);
    rig.port.setPortName(QStringLiteral("/dev/ttyUSB7"));
    rig.afterWrite = [&](const QByteArray& f) {
        if (quint8(f[3]) == 0x05 && f[4] == 10) rig.port.unplug(QStringLiteral("No such device"));
    };
    BlockList list;
    const RunResult r = rig.transfer.LoadAll(list);
    EXPECT_EQ(r.end, RunEnd::PortLost);
    EXPECT_TRUE(list.isEmpty());
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_TRUE(rig.ui.messages[0].text.contains(QStringLiteral("/dev/ttyUSB7")));
    EXPECT_TRUE(rig.ui.messages[0].text.contains(QStringLiteral("No such device")));
    EXPECT_LE(rig.frames().size(), 2 + 10 * 3 + 2);
}
