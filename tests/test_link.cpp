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
    // A query answered by script: the reply (or why none was taken), and the milliseconds it
    // took. The rule takes any frame of command cmd, whole or not.
    std::pair<x45::Result<x45::ByteStr>, qint64> exchange(FakePort::Script script,
                                                          std::chrono::milliseconds timeout,
                                                          int hold = 1, quint8 cmd = 0x0E,
                                                          bool inTime = false) {
        port.replyNext(std::move(script));
        x45::Query q{x45::proto::ModelQuery, {}, timeout, hold};
        q.rule.cmd = cmd;
        q.rule.wholeFrame = false;
        q.rule.inTime = inTime;
        QElapsedTimer t;
        t.start();
        x45::Result<x45::ByteStr> reply = link.query(q);
        return {std::move(reply), t.elapsed()};
    }
};

} // namespace

TEST(Frames, HeaderCheckTrailerAndLittleEndianWords) {
    EXPECT_EQ(Link::frame(0x0E, hex("07")), hex("0E010F07"));
    EXPECT_EQ(Link::blockFrame(0x18, x45::wordToStr(0x1388)), hex("14041018 8813 83"));
    EXPECT_EQ(x45::wordAt(hex("3412"), 0), 0x1234);
    EXPECT_EQ(x45::byteAt(hex("01"), 5), 0) << "out of range reads 0, never past the end";
    EXPECT_EQ(x45::proto::frameEnd(hex("0E030D07410099")), 6);
    EXPECT_EQ(x45::proto::replyData(Link::blockFrame(0x04, hex("AABB"))), hex("AABB"));
    EXPECT_TRUE(x45::proto::trailerRight(Link::blockFrame(0x04, hex("AABB"))));
    EXPECT_FALSE(x45::proto::trailerRight(hex("14041004AABB00")));
    EXPECT_FALSE(x45::proto::trailerRight(hex("140410")));
}

TEST_F(LinkTest, RepliesThatCompleteOrFailTheHeaderEndTheWaitAtOnce) {
    struct Case {
        const char* what;
        FakePort::Script script;
        int hold;
        quint8 cmd;
        QByteArray taken; // empty: refused
    };
    // Byte by byte, 3 ms apart: assembled as one reply.
    const QByteArray model = hex("0E070907 43343500 4142");
    FakePort::Script trickle;
    for (const char c : model)
        trickle.push_back({QByteArray(1, c), 3});
    const Case cases[] = {
        // Length 1 completes on the fourth byte; what follows in the same chunk is kept.
        {"length one", {{hex("05010421AABB"), 0}}, 1, 0x05, hex("05010421AABB")},
        {"trickle", trickle, 1, 0x0E, model},
        // Header check wrong; the rest of the frame would take another 400 ms. A bad check
        // stays final: the rest of the same chunk never completes it.
        {"bad header", {{hex("0E0300"), 0}, {hex("070000"), 400}}, 1, 0x0E, {}},
        {"bad header in one chunk", {{hex("0203001455AA"), 0}}, 5, 0x02, {}},
        {"bad header completed later", {{hex("0E020D03"), 0}, {hex("25"), 5}}, 1, 0x0E, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto [reply, ms] = exchange(c.script, 1000ms, c.hold, c.cmd);
        EXPECT_LT(ms, 300);
        if (c.taken.isEmpty()) {
            EXPECT_TRUE(reply.is(x45::ErrorKind::Refused));
        } else {
            ASSERT_TRUE(reply.isOk());
            EXPECT_EQ(reply.value(), c.taken);
        }
    }
    EXPECT_EQ(port.writes.value(0), x45::proto::ModelQuery);
}

TEST_F(LinkTest, HeldReplyThatKeepsComingIsNeverCut) {
    // Five bytes in early, then the rest trickles in well past the time-out but with gaps
    // shorter than it: the reply completes, and the timer's expiry is still seen by a rule that
    // wants the reply in time.
    FakePort::Script script{{hex("0207050214"), 0}};
    for (int i = 0; i < 5; ++i)
        script.push_back({hex(i < 4 ? "00" : "AA"), 60});
    EXPECT_TRUE(exchange({{hex("020A08"), 0}}, 100ms, 5, 0x02).first.is(x45::ErrorKind::NoReply));
    const auto late = exchange(script, 100ms, 5, 0x02, true).first;
    EXPECT_TRUE(late.is(x45::ErrorKind::NoReply)) << "the timer ran out while the reply came";
    const auto taken = exchange(script, 100ms, 5, 0x02).first;
    ASSERT_TRUE(taken.isOk());
    EXPECT_EQ(taken.value().size(), 10);
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
        const auto [reply, ms] = exchange(
            c.reply.isEmpty() ? FakePort::Script{} : FakePort::Script{{c.reply, 0}}, 150ms,
            c.hold, quint8(c.reply.isEmpty() ? 0x0E : c.reply[0]));
        EXPECT_TRUE(reply.is(x45::ErrorKind::NoReply));
        EXPECT_GE(ms, 150);
        EXPECT_LT(ms, 1000);
    }
}

TEST_F(LinkTest, BytesThatCameWhileNobodyWaitedStartTheNextReply) {
    port.deliver(hex("0501"));
    link.pause(20ms); // the bytes come while no exchange waits: they stay in the port
    EXPECT_EQ(port.bytesAvailable(), 2);
    const auto reply = exchange({{hex("0421"), 0}}, 300ms, 1, 0x05).first;
    ASSERT_TRUE(reply.isOk());
    EXPECT_EQ(reply.value(), hex("05010421"));
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
        const auto first = link.requestBlock(req, 1);
        EXPECT_TRUE(first.is(wireTime ? x45::ErrorKind::NoReply : x45::ErrorKind::NoSuchBlock));
        EXPECT_EQ(link.counters().strayFrames - stray, wireTime ? 1 : 0);
        link.resetStep();
        port.replyNext(marker, 3);
        EXPECT_TRUE(link.requestBlock(req, 1).is(x45::ErrorKind::NoSuchBlock));
    }
}
