// The link layer: frames, the receive table and the exchange's wait rules.

#include "fakeport.h"
#include "simtestkit.h"

#include "link/link.h"
#include "link/protocol.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using x45::Link;
using x45::test::FakePort;
using x45::test::hex;

namespace {

struct LinkTest : ::testing::Test {
    FakePort port;
    Link link{port};
    void SetUp() override { ASSERT_TRUE(port.open(nullptr)); }
    // Feeds bytes through the receive table as one chunk.
    void feed(const QByteArray& bytes) {
        for (const char c : bytes)
            link.feedByte(static_cast<quint8>(c));
    }
    // Sends a request answered by script and waits for the reply; the milliseconds it took.
    qint64 exchange(FakePort::Script script, std::chrono::milliseconds timeout, int hold = 1) {
        port.replyNext(std::move(script));
        QElapsedTimer t;
        t.start();
        link.SendFrame(x45::proto::ModelQuery);
        link.WaitReply(timeout, hold);
        EXPECT_EQ(link.ReadState, 0);
        return t.elapsed();
    }
};

} // namespace

TEST(Frames, HeaderCheckTrailerAndLittleEndianWords) {
    EXPECT_EQ(Link::frame(0x0E, hex("07")), hex("0E010F07"));
    EXPECT_EQ(Link::blockFrame(0x18, x45::WordToStr(0x1388)), hex("14041018 8813 83"));
    EXPECT_EQ(x45::wordAt(hex("3412"), 0), 0x1234);
    EXPECT_EQ(x45::byteAt(hex("01"), 5), 0) << "out of range reads 0, never past the end";
}

TEST_F(LinkTest, ReceiveTableFillsTheRecordAndABadHeaderStaysBad) {
    link.ResetReply();
    feed(hex("0E030D07"));
    EXPECT_EQ(link.Reply.Cmd, 0x0E);
    EXPECT_EQ(link.Reply.Length, 3);
    EXPECT_EQ(link.Reply.SubCmd, 0x07);
    EXPECT_EQ(link.Reply.State, x45::Receiving);
    feed(hex("41"));
    EXPECT_EQ(link.Reply.State, x45::Receiving);
    feed(hex("00"));
    EXPECT_EQ(link.Reply.State, x45::Complete);
    feed(hex("99"));
    EXPECT_EQ(link.Reply.State, x45::Complete) << "extra bytes never undo completion";
    EXPECT_EQ(link.Reply.Buffer, hex("0E030D07410099"));
    link.ResetReply();
    EXPECT_TRUE(link.Reply.Buffer.isEmpty());
    EXPECT_EQ(link.Reply.Cmd, 0);
    EXPECT_EQ(link.Reply.State, x45::Receiving);
    // A bad check stays final however the frame arrives: in one chunk, or completed later.
    feed(hex("0E020D03"));
    feed(hex("25"));
    EXPECT_EQ(link.Reply.State, x45::HeaderBad);
}

TEST_F(LinkTest, RepliesThatCompleteOrFailTheHeaderEndTheWaitAtOnce) {
    struct Case {
        const char* what;
        FakePort::Script script;
        int hold;
        quint8 state;
        QByteArray buffer;
    };
    // Byte by byte, 3 ms apart: assembled as one reply.
    const QByteArray model = hex("0E070907 43343500 4142");
    FakePort::Script trickle;
    for (const char c : model)
        trickle.push_back({QByteArray(1, c), 3});
    const Case cases[] = {
        // Length 1 completes on the fourth byte; what follows in the same chunk is kept.
        {"length one", {{hex("05010421AABB"), 0}}, 1, x45::Complete, hex("05010421AABB")},
        {"trickle", trickle, 1, x45::Complete, model},
        // Header check wrong; the rest of the frame would take another 400 ms.
        {"bad header", {{hex("0E0300"), 0}, {hex("070000"), 400}}, 1, x45::HeaderBad,
         hex("0E0300")},
        {"bad header in one chunk", {{hex("0203001455AA"), 0}}, 5, x45::HeaderBad,
         hex("0203001455AA")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_LT(exchange(c.script, 1000ms, c.hold), 300);
        EXPECT_EQ(link.Reply.State, c.state);
        EXPECT_FALSE(link.TimedOut);
        EXPECT_EQ(link.Reply.Buffer, c.buffer);
    }
    EXPECT_EQ(port.writes.value(0), x45::proto::ModelQuery);
}

TEST_F(LinkTest, HeldReplyThatKeepsComingIsNeverCut) {
    // Five bytes in early, then the rest trickles in well past the time-out but with gaps
    // shorter than it: the reply completes and the timer's expiry is still visible.
    FakePort::Script script{{hex("0207050214"), 0}};
    for (int i = 0; i < 5; ++i)
        script.push_back({hex(i < 4 ? "00" : "AA"), 60});
    exchange({{hex("020A08"), 0}}, 100ms, 5);
    EXPECT_TRUE(link.TimedOut);
    exchange(script, 100ms, 5);
    EXPECT_EQ(link.Reply.State, x45::Complete);
    EXPECT_TRUE(link.TimedOut) << "the timer ran out while the reply was coming in";
    EXPECT_EQ(link.Reply.Buffer.size(), 10);
}

TEST_F(LinkTest, UnfinishedRepliesEndAtTheTimeOut) {
    struct Case {
        const char* what;
        QByteArray reply; // empty: none
        int hold;
    };
    const Case cases[] = {
        // Completion is looked at from the fourth byte on only; a 3-byte frame just stalls.
        {"length zero never completes", hex("0E000E"), 1},
        {"no reply", {}, 1},
        {"hold five with three bytes", hex("020507"), 5},
        // First byte in, then silence: the hold rule alone would wait for ever.
        {"held reply that stalls", hex("0E05"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const qint64 ms = exchange(c.reply.isEmpty() ? FakePort::Script{}
                                                     : FakePort::Script{{c.reply, 0}},
                                   150ms, c.hold);
        EXPECT_EQ(link.Reply.State, x45::Receiving);
        EXPECT_TRUE(link.TimedOut);
        EXPECT_EQ(link.Reply.Buffer, c.reply);
        EXPECT_GE(ms, 150);
        EXPECT_LT(ms, 1000);
    }
}

TEST_F(LinkTest, BytesThatCameWhileNobodyWaitedStartTheNextReply) {
    port.deliver(hex("0501"));
    link.Pause(20ms); // the bytes come while no exchange waits: they stay in the port
    EXPECT_TRUE(link.TimedOut);
    EXPECT_TRUE(link.Reply.Buffer.isEmpty());
    EXPECT_EQ(port.bytesAvailable(), 2);
    port.replyNext(hex("0421"));
    link.SendFrame(x45::proto::ChipsetQuery);
    link.WaitReply(300ms, 1);
    EXPECT_EQ(link.Reply.Buffer, hex("05010421"));
    EXPECT_EQ(link.Reply.State, x45::Complete);
}

TEST_F(LinkTest, AReplySoonerThanTheWireAllowsIsAnEarlierOnesAndOnlyWhereWireTimeIsKept) {
    // 7 + 5 bytes at 115200 baud take 1.04 ms on the wire: a reply there at once was already on
    // its way (a copy of an earlier reply), one 3 ms later can be the request's own.
    x45::BlockRequest req;
    req.sub = 0x05;
    req.frame = Link::blockFrame(req.sub, hex("0100"));
    req.noSuchBlock = true;
    const QByteArray marker = Link::blockFrame(x45::proto::NoSuchBlock, {});
    port.setSettings(x45::proto::SettingsFast);
    for (const bool wireTime : {false, true}) {
        port.wireTime = wireTime;
        const int stray = link.counters().strayFrames;
        port.replyNext(marker, 0);
        const x45::Attempted first = link.requestBlock(req, 1);
        EXPECT_EQ(first, wireTime ? x45::Attempted::Failed : x45::Attempted::NoSuchBlock);
        EXPECT_EQ(link.counters().strayFrames - stray, wireTime ? 1 : 0);
        link.resetStep();
        port.replyNext(marker, 3);
        EXPECT_EQ(link.requestBlock(req, 1), x45::Attempted::NoSuchBlock);
    }
}
