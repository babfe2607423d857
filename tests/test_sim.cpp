// The simulated phone must be a strict and faithful stand-in: what it answers, what it refuses to
// answer, what it stores, and the faults it commits on request.

#include "simport.h"
#include "simtestkit.h"

#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace x45sim;
using namespace x45sim::test;
namespace proto = x45::proto;

namespace {

bool trailerHolds(const QByteArray& r) {
    return x45::byteAt(r, r.size() - 1) == x45::xorSum(r, r.size() - 1);
}

} // namespace

TEST(SimSession, WrongBootAndWrongSpeedAreRefusedAndSpeedsTakeEffectAtTheNextOpen) {
    SimPhone phone;
    ASSERT_EQ(joined(phone.receive(hex("55"), 57600)), hex("A0"));
    QByteArray boot = bootBytes();
    boot[40] = char(boot[40] ^ 0x01);
    EXPECT_TRUE(joined(phone.receive(boot, 57600)).isEmpty());
    EXPECT_EQ(phone.state(), SimState::AwaitScan);
    EXPECT_TRUE(phone.malformedReasons().value(0).contains("byte 40"));
    // A scan at the wrong speed is garbage to the phone.
    EXPECT_TRUE(joined(phone.receive(hex("55"), 115200)).isEmpty());
    EXPECT_EQ(phone.malformedCount(), 2);
    openSession(phone);
    // After the switch a frame at the old speed gets nothing.
    EXPECT_TRUE(joined(phone.receive(proto::ChipsetQuery, 57600)).isEmpty());
    EXPECT_TRUE(phone.malformedReasons().value(2).contains("57600"));
    EXPECT_FALSE(ask(phone, proto::ChipsetQuery).isEmpty());

    SimPort port(phone);
    port.setSettings(proto::SettingsAtStart);
    ASSERT_TRUE(port.open(nullptr));
    port.setSettings(proto::SettingsFast);
    EXPECT_EQ(port.lineSpeed(), 57600);
    port.close();
    ASSERT_TRUE(port.open(nullptr));
    EXPECT_EQ(port.lineSpeed(), 115200);
}

TEST(SimStrictness, MalformedFramesAreCountedAndUnanswered) {
    SimPhone phone;
    openSession(phone);
    const std::pair<QByteArray, const char*> cases[] = {
        {hex("1402170808"), "header"},       // header check off
        {hex("1402160809"), "trailer"},      // trailer off
        {block(0x0A, {}), "unknown SubCmd"}, // no such request
        {block(0x0B, {}), "unknown SubCmd"}, // garbage collection exists only for EEfull
        {block(0x05, idArgs(5000)), "area"}, // EEfull block asked with the EElite SubCmd
        {block(0x05, idArgs(3) + hex("00")), "Length"},
        {block(0x12, {}), "chunk"}, // a data chunk too short to hold its fields
        {block(0x04, idArgs(3) + x45::wordToStr(0) + x45::wordToStr(31)), "count"},
        {hex("0E010F05"), "session"},   // unknown session message
        {hex("02020014AA"), "session"}, // ping with a stray payload byte
    };
    int expected = 0;
    for (const auto& [frame, reason] : cases) {
        SCOPED_TRACE(x45::toHex(frame).toStdString());
        EXPECT_TRUE(ask(phone, frame).isEmpty());
        ASSERT_EQ(phone.malformedCount(), ++expected);
        EXPECT_TRUE(phone.malformedReasons().last().contains(reason, Qt::CaseInsensitive))
            << phone.malformedReasons().last().toStdString();
        EXPECT_EQ(phone.requests().last(), frame) << "logged with its exact bytes";
    }
    EXPECT_EQ(ask(phone, block(0x08, {})).size(), 17) << "good requests are still answered";

    // An unfinished frame is dropped after a pause; what follows is a frame of its own.
    phone.config().partialFrameTimeout = std::chrono::milliseconds(5);
    EXPECT_TRUE(ask(phone, hex("140216")).isEmpty());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ask(phone, block(0x06, {})).size(), 7);
    EXPECT_EQ(phone.malformedCount(), expected + 1);
}

TEST(SimBlocks, WritesMustFollowOnAndIncompleteBlocksAreNeverStored) {
    SimConfig config;
    config.eeliteCapacity = 100;
    SimPhone phone(config);
    phone.setBlocks({x45::EEPBlock{12, QByteArray("old contents"), 3}});
    openSession(phone);
    const auto announce = [&](int id, int len) {
        return ask(phone, block(0x01, idArgs(id) + x45::wordToStr(quint16(len)) + hex("07")));
    };
    const auto chunk = [&](int id, int off, const QByteArray& d) {
        return ask(phone, block(0x02, idArgs(id) + x45::wordToStr(quint16(off)) + d));
    };
    const QByteArray ack2 = block(0x02, {});

    EXPECT_TRUE(chunk(12, 0, "abc").isEmpty()) << "data for a block never announced";
    ASSERT_EQ(announce(12, 25), block(0x01, {}));
    EXPECT_EQ(chunk(12, 0, QByteArray(20, 'a')), ack2);
    // The same chunk again (its reply was lost) is answered, but not stored twice.
    EXPECT_EQ(chunk(12, 0, QByteArray(20, 'a')), ack2);
    EXPECT_TRUE(chunk(12, 21, "bbbb").isEmpty());              // gap
    EXPECT_TRUE(chunk(12, 20, "bbbbbb").isEmpty());            // beyond the announced 25 bytes
    EXPECT_TRUE(chunk(12, 20, QByteArray(21, 'c')).isEmpty()); // chunk above 20 bytes
    EXPECT_EQ(phone.malformedCount(), 4);
    // Closed with 20 of 25 bytes: refused, and the old block stays as it was.
    const QByteArray closeReply = ask(phone, block(0x03, idArgs(12)));
    EXPECT_NE(x45::byteAt(closeReply, 3), 0x03);
    EXPECT_TRUE(trailerHolds(closeReply));
    EXPECT_EQ(phone.refusals().size(), 1);
    EXPECT_EQ(phone.blocks(), (x45::BlockList{{12, QByteArray("old contents"), 3}}));

    // A complete rewrite replaces it; no room for an oversized block is refused up front.
    ASSERT_EQ(announce(12, 5), block(0x01, {}));
    ASSERT_EQ(chunk(12, 0, "fresh"), ack2);
    ASSERT_EQ(ask(phone, block(0x03, idArgs(12))), block(0x03, {}));
    EXPECT_EQ(phone.blocks(), (x45::BlockList{{12, QByteArray("fresh"), 7}}));
    EXPECT_NE(x45::byteAt(announce(13, 96), 3), 0x01);
    EXPECT_EQ(phone.refusals().size(), 2);
    // Deleting a block the phone does not hold answers with the marker.
    EXPECT_EQ(x45::byteAt(ask(phone, block(0x07, idArgs(99))), 3), proto::NoSuchBlock);
    EXPECT_EQ(phone.malformedCount(), 4);
}

TEST(SimBlocks, ReplacedBlocksFreeTheirSpaceByArea) {
    SimEeprom e;
    e.setCapacity(false, 100);
    e.setCapacity(true, 100);
    ASSERT_TRUE(e.put(1, QByteArray(60, 'a'), 0));
    // EElite: the old 60 bytes come back at once, so 90 fit in place of them but not beside them.
    EXPECT_FALSE(e.hasRoom(2, 90));
    EXPECT_TRUE(e.put(1, QByteArray(90, 'b'), 1));
    EXPECT_EQ(e.space(false).freeAtAll, 10);
    EXPECT_EQ(e.space(false).freeForDeleted, 0);
    // EEfull: the old bytes stay taken as deleted until the garbage is collected.
    ASSERT_TRUE(e.put(5000, QByteArray(60, 'c'), 0));
    EXPECT_FALSE(e.put(5000, QByteArray(60, 'd'), 1));
    EXPECT_EQ(e.find(5000)->data, QByteArray(60, 'c')) << "a refused write keeps the old block";
    ASSERT_TRUE(e.put(5000, QByteArray(30, 'd'), 1));
    EXPECT_EQ(e.space(true).freeInBuffer, 10);
    EXPECT_EQ(e.space(true).freeAtAll, 70);
    EXPECT_EQ(e.space(true).freeForDeleted, 60);
    e.collectGarbage();
    EXPECT_EQ(e.space(true).freeInBuffer, 70);
}

TEST(SimFaults, EachKindChangesTheReplyAsAnnounced) {
    const QByteArray info = block(0x05, idArgs(7));
    const QByteArray clean = block(0x05, x45::wordToStr(5) + hex("01"));
    const auto hit = [&](FaultKind kind, int param = -1) {
        SimPhone phone;
        phone.setBlocks({x45::EEPBlock{7, QByteArray("seven"), 1}});
        phone.faults().add(Fault{.kind = kind, .cmd = 0x14, .sub = 0x05, .param = param});
        openSession(phone);
        const Emissions e = phone.receive(info, 115200);
        // Requests the fault is not aimed at pass untouched.
        EXPECT_EQ(ask(phone, block(0x06, {})), block(0x06, idArgs(7)));
        return e;
    };
    EXPECT_TRUE(joined(hit(FaultKind::NoReply)).isEmpty());
    QByteArray r = joined(hit(FaultKind::BadHeader));
    EXPECT_NE(x45::byteAt(r, 2), x45::byteAt(r, 0) ^ x45::byteAt(r, 1));
    r = joined(hit(FaultKind::BadTrailer));
    EXPECT_EQ(r.chopped(1), clean.chopped(1));
    EXPECT_FALSE(trailerHolds(r));
    r = joined(hit(FaultKind::WrongSub));
    EXPECT_NE(x45::byteAt(r, 3), 0x05);
    EXPECT_TRUE(trailerHolds(r)) << "only the SubCmd is off";
    EXPECT_EQ(joined(hit(FaultKind::Cut, 4)), clean.left(4));
    EXPECT_EQ(joined(hit(FaultKind::Extra, 2)).chopped(2), clean);
    const Emissions trickle = hit(FaultKind::Trickle, 3);
    ASSERT_EQ(trickle.size(), size_t(clean.size()));
    EXPECT_EQ(joined(trickle), clean);
    EXPECT_EQ(trickle[1].delay, std::chrono::milliseconds(3));
    const Emissions delayed = hit(FaultKind::Delay, 250);
    ASSERT_EQ(delayed.size(), 1u);
    EXPECT_EQ(delayed[0].delay, std::chrono::milliseconds(250));
}

TEST(SimFaults, ScanNoiseInterimRepliesAndLostSpeedSwitch) {
    SimConfig config;
    config.interim = 2;
    SimPhone phone(config);
    phone.faults().add(*parseFault("scannoise:k=4", nullptr));
    const QByteArray scan = joined(phone.receive(hex("55"), 57600));
    EXPECT_EQ(scan.size(), 5);
    EXPECT_EQ(scan.indexOf(char(proto::ScanAnswer)), 4);
    ASSERT_EQ(joined(phone.receive(bootBytes(), 57600)), hex("A5"));

    // A BaudQuery whose reply is lost leaves the phone at 57600.
    phone.faults().add(*parseFault("noreply:cmd=1,n=1", nullptr));
    EXPECT_TRUE(joined(phone.receive(proto::BaudQuery, 57600)).isEmpty());
    EXPECT_EQ(phone.speed(), 57600);
    EXPECT_FALSE(joined(phone.receive(proto::ChipsetQuery, 57600)).isEmpty());

    // Interim replies come first, each on its own, and the real reply after a pause.
    const Emissions e =
        phone.receive(block(0x01, idArgs(3) + x45::wordToStr(1) + hex("00")), 57600);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].bytes, hex("1402165050"));
    EXPECT_EQ(e[1].bytes, hex("1402165050"));
    EXPECT_EQ(e[1].delay, config.interimGap);
    EXPECT_EQ(e[2].bytes, block(0x01, {}));
    EXPECT_GT(e[2].delay.count(), 0);
    // Reading and closing get no interim reply.
    EXPECT_EQ(phone.receive(block(0x06, {}), 57600).size(), 1u);

    // Aimed as a fault, interim replies also precede replies that know none (the tool must take
    // them as a failed attempt there), and a lost reply leaves only the interim ones.
    phone.faults().add(*parseFault("interim:sub=0x03,k=1,n=2", nullptr));
    phone.faults().add(*parseFault("noreply:sub=0x03,skip=1,n=1", nullptr));
    const QByteArray close = block(0x03, idArgs(3));
    ASSERT_TRUE(joined(phone.receive(block(0x02, idArgs(3) + x45::wordToStr(0) + hex("AB")), 57600))
                    .endsWith(block(0x02, {})));
    Emissions c = phone.receive(close, 57600);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].bytes, hex("1402165050"));
    EXPECT_EQ(c[1].bytes, block(0x03, {}));
    EXPECT_EQ(c[1].delay, std::chrono::milliseconds(20));
    c = phone.receive(close, 57600); // resend: same answer, but this time the reply is lost
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].bytes, hex("1402165050"));
    EXPECT_EQ(phone.blocks().size(), 1);
    EXPECT_EQ(phone.malformedCount(), 0);
}
