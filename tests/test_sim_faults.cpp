// Faults the simulated phone commits on request: each kind, their counts, skips and odds, and the
// faults of the session start.

#include "simphone.h"
#include "simtestkit.h"

#include <gtest/gtest.h>
#include <memory>

using namespace x45sim;
using namespace x45sim::test;
namespace proto = x45::proto;

TEST(SimFaults, EachKindChangesTheReplyAsAnnounced) {
    const QByteArray info = block(0x05, idArgs(7));
    const auto phoneWith = [](FaultKind kind, int param = -1) {
        auto phone = std::make_unique<SimPhone>();
        phone->setBlocks({x45::EEPBlock{7, QByteArray("seven"), 1}});
        phone->faults().add(Fault{.kind = kind, .cmd = 0x14, .sub = 0x05, .param = param});
        openSession(*phone);
        return phone;
    };
    const QByteArray clean = block(0x05, x45::WordToStr(5) + hex("01"));

    auto p = phoneWith(FaultKind::NoReply);
    EXPECT_TRUE(ask(*p, info).isEmpty());
    p = phoneWith(FaultKind::BadHeader);
    QByteArray r = ask(*p, info);
    EXPECT_NE(x45::byteAt(r, 2), x45::byteAt(r, 0) ^ x45::byteAt(r, 1));
    p = phoneWith(FaultKind::BadTrailer);
    r = ask(*p, info);
    ASSERT_EQ(r.size(), clean.size());
    EXPECT_EQ(r.chopped(1), clean.chopped(1));
    EXPECT_NE(r.back(), clean.back());
    p = phoneWith(FaultKind::WrongSub);
    r = ask(*p, info);
    EXPECT_NE(x45::byteAt(r, 3), 0x05);
    EXPECT_EQ(x45::byteAt(r, r.size() - 1), x45::XorSum(r, r.size() - 1))
        << "only the SubCmd is off";
    p = phoneWith(FaultKind::Cut, 4);
    EXPECT_EQ(ask(*p, info), clean.left(4));
    p = phoneWith(FaultKind::Extra, 2);
    r = ask(*p, info);
    EXPECT_EQ(r.left(clean.size()), clean);
    EXPECT_EQ(r.size(), clean.size() + 2);

    p = phoneWith(FaultKind::Trickle, 3);
    Emissions e = p->receive(info, 115200);
    ASSERT_EQ(e.size(), size_t(clean.size()));
    EXPECT_EQ(joined(e), clean);
    EXPECT_EQ(e[1].bytes.size(), 1);
    EXPECT_EQ(e[1].delay, std::chrono::milliseconds(3));
    p = phoneWith(FaultKind::Delay, 250);
    e = p->receive(info, 115200);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].delay, std::chrono::milliseconds(250));
    // Requests the fault is not aimed at pass untouched.
    EXPECT_EQ(ask(*p, block(0x06, {})), block(0x06, idArgs(7)));
}

TEST(SimFaults, CountsSkipsProbabilityAndSeeds) {
    SimPhone phone;
    phone.setBlocks({x45::EEPBlock{1, QByteArray("x"), 0}, x45::EEPBlock{2, QByteArray("y"), 0}});
    QString error;
    std::optional<Fault> f = parseFault("noreply:cmd=0x14,sub=5,skip=1,n=2", &error);
    ASSERT_TRUE(f) << error.toStdString();
    phone.faults().add(*f);
    openSession(phone);
    // Alternating numbers, so that no request is a resend of the one before.
    std::vector<bool> answered;
    for (int i = 0; i < 5; ++i)
        answered.push_back(!ask(phone, block(0x05, idArgs(1 + i % 2))).isEmpty());
    EXPECT_EQ(answered, (std::vector<bool>{true, false, false, true, true}));

    // A resend after a lost reply is answered as the original would have been.
    SimPhone lossy;
    lossy.setBlocks({x45::EEPBlock{1, QByteArray("x"), 0}});
    lossy.faults().add(*parseFault("noreply:sub=0x05,n=1", &error));
    openSession(lossy);
    EXPECT_TRUE(ask(lossy, block(0x05, idArgs(1))).isEmpty());
    EXPECT_EQ(ask(lossy, block(0x05, idArgs(1))), block(0x05, x45::WordToStr(1) + hex("00")));

    // Probabilities are reproducible from the seed.
    const auto pattern = [&](quint32 seed) {
        SimPhone p;
        p.faults().setSeed(seed);
        p.faults().add(*parseFault("badtrailer:cmd=20,p=0.5", &error));
        openSession(p);
        QString bits;
        for (int i = 0; i < 64; ++i) {
            const QByteArray r = ask(p, block(i % 2 ? 0x08 : 0x18, {}));
            bits += x45::byteAt(r, r.size() - 1) == x45::XorSum(r, r.size() - 1) ? '.' : 'x';
        }
        return bits;
    };
    const QString a = pattern(7);
    EXPECT_EQ(a, pattern(7));
    EXPECT_NE(a, pattern(8));
    EXPECT_GT(a.count('x'), 10);
    EXPECT_LT(a.count('x'), 54);

    for (const char* bad : {"bogus", "cut:p=2", "cut:n=-1", "cut:color=3", "delay:ms=abc"})
        EXPECT_FALSE(parseFault(bad, &error)) << bad;
}

TEST(SimFaults, ScanNoiseInterimRepliesAndLostSpeedSwitch) {
    SimConfig config;
    config.interim = 2;
    SimPhone phone(config);
    phone.faults().add(*parseFault("scannoise:k=4", nullptr));
    const QByteArray scan = joined(phone.receive(hex("55"), 57600));
    EXPECT_EQ(scan.size(), 5);
    EXPECT_EQ(x45::byteAt(scan, 4), proto::ScanAnswer);
    EXPECT_EQ(scan.left(4).count(char(proto::ScanAnswer)), 0);
    ASSERT_EQ(joined(phone.receive(bootBytes(), 57600)), hex("A5"));

    // A BaudQuery whose reply is lost leaves the phone at 57600.
    phone.faults().add(*parseFault("noreply:cmd=1,n=1", nullptr));
    EXPECT_TRUE(joined(phone.receive(proto::BaudQuery, 57600)).isEmpty());
    EXPECT_EQ(phone.speed(), 57600);
    EXPECT_FALSE(joined(phone.receive(proto::ChipsetQuery, 57600)).isEmpty());

    // Interim replies come first, each on its own, and the real reply after a pause.
    const Emissions e =
        phone.receive(block(0x01, idArgs(3) + x45::WordToStr(1) + hex("00")), 57600);
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
    ASSERT_TRUE(joined(phone.receive(block(0x02, idArgs(3) + x45::WordToStr(0) + hex("AB")), 57600))
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
