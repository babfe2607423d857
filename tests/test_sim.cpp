// The simulated phone must be a strict and faithful stand-in: these tests pin down what it answers,
// what it refuses to answer, and what it stores.

#include "simphone.h"
#include "simport.h"
#include "simtestkit.h"

#include "base/bytes.h"
#include <link/link.h>
#include <link/protocol.h>

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <random>

using namespace x45sim;
using namespace x45sim::test;
namespace proto = x45::proto;

TEST(SimSession, WrongBootAndWrongSpeedAreRefused) {
    SimPhone phone;
    ASSERT_EQ(joined(phone.receive(hex("55"), 57600)), hex("A0"));
    QByteArray boot = bootBytes();
    boot[40] = char(boot[40] ^ 0x01);
    EXPECT_TRUE(joined(phone.receive(boot, 57600)).isEmpty());
    EXPECT_EQ(phone.state(), SimState::AwaitScan);
    EXPECT_EQ(phone.malformedCount(), 1);
    EXPECT_TRUE(phone.malformedReasons().first().contains("byte 40"));

    // A scan at the wrong speed is garbage to the phone.
    EXPECT_TRUE(joined(phone.receive(hex("55"), 115200)).isEmpty());
    EXPECT_EQ(phone.malformedCount(), 2);

    openSession(phone);
    // After the switch a frame at the old speed gets nothing.
    EXPECT_TRUE(joined(phone.receive(proto::ChipsetQuery, 57600)).isEmpty());
    EXPECT_EQ(phone.malformedCount(), 3);
    EXPECT_TRUE(phone.malformedReasons().last().contains("57600"));
    EXPECT_FALSE(ask(phone, proto::ChipsetQuery).isEmpty());
}

TEST(SimStrictness, MalformedFramesAreCountedAndUnanswered) {
    SimPhone phone;
    openSession(phone);

    struct Case {
        QByteArray frame;
        const char* reason;
    } cases[] = {
        {hex("1402170808"), "header"},       // header check off
        {hex("1402160809"), "trailer"},      // trailer off
        {block(0x0A, {}), "unknown SubCmd"}, // no such request
        {block(0x0B, {}), "unknown SubCmd"}, // garbage collection exists only for EEfull
        {block(0x05, idArgs(5000)), "area"}, // EEfull block asked with the EElite SubCmd
        {block(0x05, idArgs(3) + hex("00")), "Length"},
        {block(0x12, {}), "chunk"}, // a data chunk too short to hold its fields
        {block(0x04, idArgs(3) + x45::WordToStr(0) + x45::WordToStr(31)), "count"},
        {hex("0E010F05"), "session"},   // unknown session message
        {hex("02020014AA"), "session"}, // ping with a stray payload byte
    };
    int expected = 0;
    for (const Case& c : cases) {
        EXPECT_TRUE(ask(phone, c.frame).isEmpty()) << x45::toHex(c.frame).toStdString();
        ++expected;
        ASSERT_EQ(phone.malformedCount(), expected) << x45::toHex(c.frame).toStdString();
        EXPECT_TRUE(phone.malformedReasons().last().contains(c.reason, Qt::CaseInsensitive))
            << phone.malformedReasons().last().toStdString();
    }
    // Every frame is logged with its exact bytes, and the phone still answers good requests.
    EXPECT_EQ(phone.requests().last(), cases[std::size(cases) - 1].frame);
    EXPECT_EQ(ask(phone, block(0x08, {})).size(), 17);
}

TEST(SimPortTest, SpeedsTakeEffectAtTheNextOpen) {
    SimPhone phone;
    SimPort port(phone);
    QString error;
    port.setSettings(proto::SettingsAtStart);
    ASSERT_TRUE(port.open(&error)) << error.toStdString();
    port.setSettings(proto::SettingsFast);
    EXPECT_EQ(port.lineSpeed(), 57600);
    port.close();
    ASSERT_TRUE(port.open(&error));
    EXPECT_EQ(port.lineSpeed(), 115200);
}

TEST(SimBlocks, WritesMustFollowOnAndIncompleteBlocksAreNeverStored) {
    SimConfig config;
    config.eeliteCapacity = 100;
    SimPhone phone(config);
    phone.setBlocks({x45::EEPBlock{12, QByteArray("old contents"), 3}});
    openSession(phone);
    const auto announce = [&](int id, int len) {
        return ask(phone, block(0x01, idArgs(id) + x45::WordToStr(quint16(len)) + hex("07")));
    };
    const auto chunk = [&](int id, int off, const QByteArray& d) {
        return ask(phone, block(0x02, idArgs(id) + x45::WordToStr(quint16(off)) + d));
    };
    const QByteArray ack2 = block(0x02, {});

    // Data for a block that was never announced.
    EXPECT_TRUE(chunk(12, 0, "abc").isEmpty());
    EXPECT_EQ(phone.malformedCount(), 1);

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
    EXPECT_EQ(x45::byteAt(closeReply, closeReply.size() - 1),
              x45::XorSum(closeReply, closeReply.size() - 1));
    EXPECT_EQ(phone.refusals().size(), 1);
    ASSERT_EQ(phone.blocks().size(), 1);
    EXPECT_EQ(phone.blocks().first().Data, QByteArray("old contents"));

    // A complete rewrite replaces it; no room for an oversized block is refused up front.
    ASSERT_EQ(announce(12, 5), block(0x01, {}));
    ASSERT_EQ(chunk(12, 0, "fresh"), ack2);
    ASSERT_EQ(ask(phone, block(0x03, idArgs(12))), block(0x03, {}));
    EXPECT_EQ(phone.blocks().first(), (x45::EEPBlock{12, QByteArray("fresh"), 7}));
    EXPECT_NE(x45::byteAt(announce(13, 96), 3), 0x01);
    EXPECT_EQ(phone.refusals().size(), 2);
    // Deleting a block the phone does not hold answers with the marker.
    EXPECT_EQ(x45::byteAt(ask(phone, block(0x07, idArgs(99))), 3), proto::NoSuchBlock);
    EXPECT_EQ(phone.malformedCount(), 4);
}

TEST(SimBlocks, UnfinishedFrameIsDroppedAfterAPause) {
    SimConfig config;
    config.partialFrameTimeout = std::chrono::milliseconds(5);
    SimPhone phone(config);
    openSession(phone);
    EXPECT_TRUE(ask(phone, hex("140216")).isEmpty());
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20) {
    }
    EXPECT_EQ(ask(phone, block(0x06, {})).size(), 7);
    EXPECT_EQ(phone.malformedCount(), 1);
}

TEST(SimStrictness, GarbageNeverCrashesAndNeverChangesTheEeprom) {
    SimPhone phone;
    const x45::BlockList held = {x45::EEPBlock{3, QByteArray("three"), 1},
                                 x45::EEPBlock{5003, QByteArray(40, 'f'), 2}};
    phone.setBlocks(held);
    std::mt19937 rng(12345);
    for (int round = 0; round < 3; ++round) {
        phone.reset();
        if (round > 0) openSession(phone);
        for (int i = 0; i < 3000; ++i) {
            QByteArray junk(int(rng() % 40), '\0');
            for (char& c : junk)
                c = char(rng() & 0xFF);
            // Mostly junk; now and then a frame with a correct header so the deeper checks run,
            // but never one whose trailer is right (that would be a genuine request).
            if (i % 3 == 0 && junk.size() >= 4) {
                junk[0] = char(i % 2 ? proto::BlockCmd : proto::InfoCmd);
                junk[1] = char(junk.size() - 3);
                junk[2] = char(junk[0] ^ junk[1]);
                if (x45::byteAt(junk, junk.size() - 1) == x45::XorSum(junk, junk.size() - 1))
                    junk[junk.size() - 1] = char(junk[junk.size() - 1] ^ 1);
            }
            (void)phone.receive(junk, round == 2 ? 115200 : 57600);
        }
    }
    EXPECT_GT(phone.malformedCount(), 1000);
    EXPECT_EQ(phone.blocks(), held);
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
