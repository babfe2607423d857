// The link layer: frames, the receive table and the exchange's wait rules.

#include "fakeport.h"
#include "link/link.h"
#include "link/protocol.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using x45::Link;
using x45::test::FakePort;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

struct LinkTest : ::testing::Test {
    FakePort port;
    Link link{port};
    void SetUp() override {
        QString error;
        ASSERT_TRUE(port.open(&error));
    }
    // Feeds bytes through the receive table as one chunk.
    void feed(const QByteArray& bytes) {
        for (const char c : bytes)
            link.feedByte(static_cast<quint8>(c));
    }
};

} // namespace

TEST(Frames, HeaderCheckTrailerAndLittleEndianWords) {
    EXPECT_EQ(Link::frame(0x0E, hex("07")), hex("0E010F07"));
    EXPECT_EQ(Link::blockFrame(0x18, x45::WordToStr(0x1388)), hex("14041018 8813 83"));
    EXPECT_EQ(x45::wordAt(hex("3412"), 0), 0x1234);
    EXPECT_EQ(x45::byteAt(hex("01"), 5), 0) << "out of range reads 0, never past the end";
}

TEST_F(LinkTest, ReceiveTableFillsTheRecord) {
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
}

TEST_F(LinkTest, LengthOneCompletesOnFourthByteAndKeepsExtras) {
    port.replyNext(hex("05010421AABB"));
    link.SendFrame(x45::proto::ChipsetQuery);
    link.WaitReply(500ms, 1);
    EXPECT_EQ(link.Reply.State, x45::Complete);
    EXPECT_FALSE(link.TimedOut);
    EXPECT_EQ(link.Reply.Buffer, hex("05010421AABB"));
    EXPECT_EQ(port.writes.value(0), x45::proto::ChipsetQuery);
    EXPECT_EQ(link.ReadState, 0);

    // A reply split over many receive events is assembled as one.
    const QByteArray reply = hex("0E070907 43343500 4142");
    FakePort::Script script;
    for (const char c : reply)
        script.push_back({QByteArray(1, c), 3});
    port.replyNext(script);
    link.SendFrame(x45::proto::ModelQuery);
    link.WaitReply(500ms, 1);
    EXPECT_EQ(link.Reply.State, x45::Complete);
    EXPECT_FALSE(link.TimedOut);
    EXPECT_EQ(link.Reply.Buffer, reply);
}

TEST_F(LinkTest, BadHeaderCheckEndsTheWaitAtOnceAndStaysBad) {
    // Header check wrong; the rest of the frame would take another 400 ms.
    port.replyNext({{hex("0E0300"), 0}, {hex("070000"), 400}});
    QElapsedTimer t;
    t.start();
    link.SendFrame(x45::proto::ModelQuery);
    link.WaitReply(1000ms, 1);
    EXPECT_EQ(link.Reply.State, x45::HeaderBad);
    EXPECT_FALSE(link.TimedOut);
    EXPECT_LT(t.elapsed(), 300);

    // A bad check stays final however the frame arrives: all in one chunk, or completed later.
    port.replyNext(hex("0203001455AA"));
    link.SendFrame(x45::proto::PingQuery);
    link.WaitReply(1000ms, 5);
    EXPECT_EQ(link.Reply.State, x45::HeaderBad);
    EXPECT_EQ(link.Reply.Buffer.size(), 6);
    link.ResetReply();
    feed(hex("0E020D03"));
    feed(hex("25"));
    EXPECT_EQ(link.Reply.State, x45::HeaderBad);
}

TEST_F(LinkTest, HeldReplyThatKeepsComingIsNeverCut) {
    // Five bytes in early, then the rest trickles in well past the time-out but with gaps
    // shorter than it: the reply completes and the timer's expiry is still visible.
    FakePort::Script script{{hex("0207050214"), 0}};
    for (int i = 0; i < 5; ++i)
        script.push_back({hex(i < 4 ? "00" : "AA"), 60});
    port.replyNext({{hex("020A08"), 0}});
    port.replyNext(script);
    link.SendFrame(x45::proto::PingQuery); // gets the 3-byte script
    link.WaitReply(100ms, 5);
    EXPECT_TRUE(link.TimedOut);
    link.SendFrame(x45::proto::PingQuery);
    link.WaitReply(100ms, 5);
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
        if (c.reply.isEmpty())
            port.silentNext();
        else
            port.replyNext(c.reply);
        QElapsedTimer t;
        t.start();
        link.SendFrame(x45::proto::ModelQuery);
        link.WaitReply(150ms, c.hold);
        EXPECT_EQ(link.Reply.State, x45::Receiving);
        EXPECT_TRUE(link.TimedOut);
        EXPECT_EQ(link.Reply.Buffer, c.reply);
        EXPECT_GE(t.elapsed(), 140);
        EXPECT_LT(t.elapsed(), 1000);
        EXPECT_EQ(link.ReadState, 0);
    }
}

TEST_F(LinkTest, BytesThatCameWhileNobodyWaitedStartTheNextReply) {
    port.deliver(hex("0501"));
    link.Pause(20ms); // the receive event comes while no exchange is armed
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
    port.setSettings(QStringLiteral("115200,n,8,1"));
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
