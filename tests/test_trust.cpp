// Whatever the line does, a run that ends "Ready" holds exactly the phone's blocks, or has left
// the phone exactly as asked: every fault kind of the simulated phone, for reading and writing.

#include "transferrig.h"

#include "files/eepfile.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;
using K = x45sim::FaultKind;

namespace {

// Blocks of both areas with lengths around the chunk sizes (0, 1, 29..31, 60, 61, 70).
BlockList phoneBlocks() {
    const int lengths[] = {70, 0, 30, 61, 1, 29, 31, 60, 45, 20, 5, 90};
    BlockList held;
    for (int i = 0; i < 12; ++i) {
        const auto n = static_cast<qint16>(i < 8 ? 2 * i : 5000 + i);
        held.append({n, patternBytes(lengths[i], i + 1), quint8(i)});
    }
    return held;
}

// Time-outs a thirtieth of a real line's (30 ms for a read), and the faults' timing alike.
constexpr double TimeScale = 0.03;

struct Case {
    K kind;
    int sub;   // -1: any block request
    int count; // strikes, where counted
    int param; // milliseconds or bytes at the scaled timing; -1: the kind's default
};

// The kinds a line or a phone can commit on a reply; markers only where a read is announced (a
// marker in place of an info reply is the phone's word that the block is absent).
const Case ReplyFaults[] = {
    {K::NoReply, -1, 3, -1}, {K::BadHeader, -1, 4, -1}, {K::BadTrailer, -1, 4, -1},
    {K::WrongSub, -1, 4, -1}, {K::Cut, -1, 4, -1},      {K::Extra, -1, 4, -1},
    {K::Delay, -1, 4, 6},     {K::Late, -1, 2, 40},     {K::Dup, -1, 6, 1},
    {K::Marker, 0x04, 2, -1}, {K::Marker, 0x14, 1, -1}, {K::Trickle, -1, 3, 1},
};

// `c.count` strikes of a fault on block requests, spread over the run.
void addFaults(x45sim::SimPhone& phone, const Case& c, int count, int seed) {
    for (int i = 0; i < count; ++i) {
        x45sim::Fault f = blockFault(c.kind, c.sub, 1, 2 + seed + i * 7);
        f.param = c.param;
        phone.faults().add(f);
    }
}

int hits(x45sim::SimPhone& phone) {
    int n = 0;
    for (const x45sim::Fault& f : phone.faults().list())
        n += f.hits;
    return n;
}

// The demo phone: 220 blocks thinly over 0..4999 with a gap of 4,500 numbers, EEfull from 5000.
BlockList demoPhone() {
    QFile file(QStringLiteral(X45_SOURCE_DIR "/resources/demo.eep"));
    const Result<EepContents> eep = file.open(QIODevice::ReadOnly)
                                        ? parseEep(file.readAll(), file.fileName())
                                        : Result<EepContents>::fail(file.errorString());
    if (!eep) ADD_FAILURE() << "resources/demo.eep does not read";
    return eep ? eep->blocks : BlockList{};
}

// What "Load all" can hold: the numbers from 0 up, ascending.
BlockList readable(BlockList blocks) {
    blocks.removeIf([](const EEPBlock& b) { return b.BlockId < 0; });
    std::sort(blocks.begin(), blocks.end(),
              [](const EEPBlock& a, const EEPBlock& b) { return a.BlockId < b.BlockId; });
    return blocks;
}

} // namespace

TEST(Trust, EachFaultCostsABoundedNumberOfExchangesOnASparsePhone) {
    const BlockList demo = demoPhone();
    qsizetype clean = 0;
    {
        TransferRig rig;
        rig.phone.setBlocks(demo);
        BlockList list;
        ASSERT_TRUE(rig.transfer.loadAll(list).clean());
        ASSERT_EQ(list, readable(demo));
        clean = rig.frames().size();
    }
    // At 1% of the replies, and once early in the run (the faults that follow a fault then
    // have the rest of the run to cost something).
    for (const Case& c : ReplyFaults) {
        for (const bool once : {false, true}) {
            SCOPED_TRACE(testing::Message() << x45sim::faultKindName(c.kind).toStdString()
                                            << " sub " << c.sub << (once ? " once" : " 1%"));
            TransferRig rig;
            rig.link.setTimeScale(TimeScale);
            rig.phone.setBlocks(demo);
            x45sim::Fault f = blockFault(c.kind, c.sub, once ? 1 : 0, once ? 3 : 0);
            f.probability = once ? 1.0 : 0.01;
            f.param = c.param;
            rig.phone.faults().add(f);
            rig.phone.faults().setSeed(7);
            rig.ui.defaultMessageAnswer = Button::Retry;
            BlockList list;
            const RunResult r = rig.transfer.loadAll(list);
            ASSERT_TRUE(r.clean());
            EXPECT_EQ(list, readable(demo));
            const int faults = hits(rig.phone);
            EXPECT_GT(faults, 0);
            EXPECT_LE(rig.frames().size(), clean + 64 * faults) << faults << " faults";
        }
    }
}

TEST(Trust, AnIgnoredBlockBringsNoFurtherBoxAndStopEndsAReCheckWithinAnExchange) {
    // Block 60's info replies all come after the time-out: five failed attempts, the box, and
    // the late replies dropped by the syncs put the blocks read before it to a re-check.
    const BlockList held = {{1, patternBytes(40, 1), 1},  {3, patternBytes(5, 2), 2},
                            {55, patternBytes(70, 3), 3}, {60, patternBytes(9, 4), 4},
                            {300, patternBytes(31, 5), 5}, {5002, patternBytes(12, 6), 6}};
    for (const bool stopInReCheck : {false, true}) {
        SCOPED_TRACE(stopInReCheck ? "Stop during the re-check" : "Ignore");
        TransferRig rig;
        rig.link.setTimeScale(TimeScale);
        rig.phone.setBlocks(held);
        x45sim::Fault late = blockFault(K::Late, 0x05, 5, 60); // 60's five attempts
        late.param = 45; // the time-out is 30 ms
        rig.phone.faults().add(late);
        qsizetype framesAtStop = -1;
        if (stopInReCheck)
            rig.afterWrite = [&rig, &framesAtStop](const QByteArray&) {
                if (framesAtStop < 0 && !rig.ui.details.empty() && rig.ui.details.back().recheck) {
                    framesAtStop = rig.frames().size();
                    rig.transfer.stopRequest().request();
                }
            };
        rig.ui.defaultMessageAnswer = Button::Ignore;
        BlockList list;
        const RunResult r = rig.transfer.loadAll(list);
        ASSERT_EQ(rig.messageTexts().size(), 1);
        EXPECT_TRUE(rig.messageTexts()[0].startsWith("Error №5 (BlockInfoQuery) while reading block № 60..."));
        if (stopInReCheck) {
            ASSERT_GE(framesAtStop, 0) << "no re-check was seen";
            EXPECT_EQ(r.end, Outcome::Stopped);
            EXPECT_LE(rig.frames().size(), framesAtStop + 1);
        } else {
            EXPECT_EQ(r.end, Outcome::Done);
            EXPECT_EQ(r.skipped, QVector<qint32>{60});
            BlockList rest = held;
            rest.removeAt(3);
            EXPECT_EQ(list, rest);
        }
    }
}

TEST(Trust, WritesThatEndReadyLeaveThePhoneAsAsked) {
    const BlockList wanted = phoneBlocks();
    for (const Case& c : ReplyFaults) {
        SCOPED_TRACE(x45sim::faultKindName(c.kind).toStdString());
        TransferRig rig;
        rig.link.setTimeScale(TimeScale);
        rig.phone.setBlocks({{3, "old", 0}});
        addFaults(rig.phone, c, 2, 3);
        rig.ui.defaultMessageAnswer = Button::Retry;
        rig.transfer.setVerify(true);
        const RunResult r = rig.transfer.saveAll(wanted);
        ASSERT_EQ(r.end, Outcome::Done);
        EXPECT_GT(hits(rig.phone), 0);
        EXPECT_EQ(rig.phone.blocks(), wanted);
        EXPECT_EQ(r.verified, wanted.size());
    }
}

TEST(Trust, VerifyNamesTheBlockThePhoneStoredWrong) {
    TransferRig rig;
    const BlockList wanted = phoneBlocks();
    x45sim::Fault rot = blockFault(K::Bitrot, 0x13, 1); // the first EEfull close
    rig.phone.faults().add(rot);
    // Without --verify the rotten block goes unseen: the phone acknowledged every close.
    EXPECT_TRUE(rig.transfer.saveAll(wanted).clean());
    EXPECT_NE(rig.phone.blocks(), wanted);

    rig.phone.faults().clear();
    rig.phone.faults().add(rot);
    rig.transfer.setVerify(true);
    const RunResult r = rig.transfer.saveAll(wanted);
    EXPECT_EQ(r.end, Outcome::Unverified);
    EXPECT_EQ(r.unverified, QVector<qint16>{5008});
    ASSERT_FALSE(rig.messageTexts().isEmpty());
    EXPECT_TRUE(rig.messageTexts().last().startsWith("Verification failed for block(s) 5008:"));
    EXPECT_NE(rig.ui.lastStatus(), QStringLiteral("Ready"));
}

TEST(Trust, FaultFreeRunsSendNoSyncAndVerifyReadsTwice) {
    TransferRig rig;
    rig.phone.setBlocks(phoneBlocks());
    BlockList list;
    ASSERT_TRUE(rig.transfer.loadAll(list).clean());
    const qsizetype plain = rig.frames().size();
    // Space queries are the syncs (the rig's refresh does not send them).
    EXPECT_EQ(rig.countSub(0x08) + rig.countSub(0x18), 0);
    EXPECT_EQ(rig.countSub(0x06) + rig.countSub(0x16), 2); // the two highest numbers only

    rig.port.writes.clear();
    rig.transfer.setVerify(true);
    const RunResult r = rig.transfer.loadAll(list);
    ASSERT_TRUE(r.clean());
    EXPECT_EQ(list, rig.phone.blocks());
    EXPECT_EQ(rig.frames().size(), 2 * plain - 2);
    EXPECT_EQ(r.verified, rig.blocksAsked().size() / 2); // every number, held or not
}

TEST(Trust, ADuplicatedLastReplyPutsTheBlockBeforeInDoubt) {
    // The copy of block 2's last data reply arrives after the tool moved on: block 4's info
    // request gets it. Block 2 is read again, and so is block 4.
    TransferRig rig;
    rig.phone.setBlocks({{2, patternBytes(40, 1), 1}, {4, patternBytes(40, 2), 2}});
    rig.phone.config().maxEElite = 4;
    rig.phone.config().maxEEfull = 0;
    rig.phone.faults().add(blockFault(K::Dup, 0x04, 1, 1)); // block 2's second chunk
    BlockList list;
    ASSERT_TRUE(rig.transfer.loadAll(list).clean());
    EXPECT_EQ(list, rig.phone.blocks());
    EXPECT_GE(rig.blocksAsked().count(2), 2);
}

TEST(Trust, ADuplicatedNoSuchBlockReplyLosesNoBlockFurtherOn) {
    // Block 2's "no such block" comes twice: every later reply is taken one request late. The
    // absent numbers 3..5 get identical replies, block 6's request gets 5's "no such block", and
    // block 7's info request gets block 6's announcement. The phone's denial in block 7's data
    // phase shows the shift: 7 starts again from its info, and 6 is read again.
    TransferRig rig;
    rig.phone.setBlocks({{1, patternBytes(40, 1), 1}, {6, patternBytes(40, 2), 2}});
    rig.phone.config().maxEElite = 8;
    rig.phone.config().maxEEfull = 0;
    rig.phone.faults().add(blockFault(K::Dup, 0x05, 1, 2)); // block 2's info request
    BlockList list;
    ASSERT_TRUE(rig.transfer.loadAll(list).clean());
    EXPECT_EQ(hits(rig.phone), 1);
    EXPECT_EQ(list, rig.phone.blocks());
}
