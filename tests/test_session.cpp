// The session: its start and end against the in-process simulated phone with faults, and its
// pieces with exact bytes over a scripted port (the boot handshake, the value extraction rules,
// the space reply, the judgement of each start reply, a stop while scanning).

#include "fakeport.h"
#include "scripted.h"
#include "simport.h"
#include "simtestkit.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/session.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

using x45::Session;
using x45::Outcome;
using x45::test::FakePort;
using x45::test::hex;
using x45sim::Fault;
using x45sim::FaultKind;

namespace x45::test {
// A start that failed: one message, naming each of `named`; the session and its port closed.
void expectFailedWith(const Session& session, const ScriptedInteraction& ui,
                      const QStringList& named) {
    ASSERT_EQ(ui.messages.size(), 1u);
    for (const QString& n : named)
        EXPECT_TRUE(ui.messages[0].text.contains(n)) << ui.messages[0].text.toStdString();
    EXPECT_EQ(ui.lastStatus(), QStringLiteral("Stopped."));
    EXPECT_FALSE(session.link().port().isOpen());
    EXPECT_FALSE(session.isOpen());
}
} // namespace x45::test

namespace {

Fault fault(FaultKind kind, int cmd, int sub, int count, int param = -1) {
    return Fault{.kind = kind, .cmd = cmd, .sub = sub, .count = count, .param = param};
}

struct SessionSim : ::testing::Test {
    x45sim::SimPhone phone;
    x45sim::SimPort port{phone};
    x45::Link link{port};
    x45::test::ScriptedInteraction ui;
    Session session{link, ui};
    int ended = 0;
    void SetUp() override { QObject::connect(&session, &Session::ended, [this] { ++ended; }); }

    int requestsOf(const QByteArray& frame) const {
        return static_cast<int>(phone.requests().count(frame));
    }
    void expectFailedWith(const QStringList& named) {
        x45::test::expectFailedWith(session, ui, named);
    }
};


// The space reply of the protocol's example: EElite, 4096 free in the buffer, 4660 at all.
const QByteArray ExampleSpace = hex("140E1A080010000034120000000000003E");

// The session over a scripted port, opened.
struct SessionFake : ::testing::Test {
    FakePort port;
    x45::Link link{port};
    x45::test::ScriptedInteraction ui;
    Session session{link, ui};
    void SetUp() override { port.open(nullptr); }
};

} // namespace

TEST_F(SessionSim, StartSendsTheExactFramesAndEndClosesTheSession) {
    phone.config().model = "C45";
    int identified = 0, space = 0;
    QObject::connect(&session, &Session::identified, [&] { ++identified; });
    QObject::connect(&session, &Session::spaceChanged, [&] { ++space; });

    ASSERT_EQ(session.start(QStringLiteral("simA")), Outcome::Done);
    EXPECT_TRUE(session.isOpen());
    // After scan and boot: readiness, speed switch, chipset, model, software, language group,
    // IMEI, then the space of EElite before EEfull.
    EXPECT_EQ(phone.requests(),
              (QList<QByteArray>{hex("02010314"), hex("010A0BC0313135323030 0DD22B"),
                                 hex("05010421"), hex("0E010F07"), hex("0E010F03"), hex("0E010F09"),
                                 hex("0E010F0A"), hex("1402160808"), hex("1402161818")}));
    EXPECT_EQ(session.identity.PhoneModel, QStringLiteral("C45"));
    EXPECT_EQ(identified, 1);
    EXPECT_EQ(space, 1);
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(ui.statuses, (QStringList{"Scanning...", "Sending service boot...", "Getting info...",
                                        "Service mode ready."}));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(port.lineSpeed(), 115200);
    EXPECT_EQ(port.portName(), QStringLiteral("simA"));

    session.end();
    EXPECT_FALSE(session.isOpen());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(phone.requests().back(), hex("0E010F04"));
    EXPECT_EQ(ui.lastStatus(), QStringLiteral("Stopped."));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(session.identity.PhoneModel, QStringLiteral("C45")) << "values outlive the session";

    // A new start runs the whole handshake again at 57600.
    ASSERT_EQ(session.start(QStringLiteral("simA")), Outcome::Done);
    EXPECT_EQ(phone.sessionsStarted(), 2);
    EXPECT_EQ(phone.malformedCount(), 0) << phone.malformedReasons().join('\n').toStdString();
}

TEST_F(SessionSim, ReadinessCheckHasFiveAttempts) {
    phone.faults().add(fault(FaultKind::WrongSub, 0x02, -1, 5));
    EXPECT_EQ(session.start(QStringLiteral("sim")), Outcome::Stopped);
    EXPECT_EQ(requestsOf(x45::proto::PingQuery), 5);
    EXPECT_EQ(requestsOf(x45::proto::BaudQuery), 0);
    EXPECT_TRUE(ui.messages.empty()) << "no message for an unready phone";
    EXPECT_EQ(ui.lastStatus(), QStringLiteral("Stopped."));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(ended, 1);

    // Four failures and then success go on.
    phone.reset();
    phone.clearLogs();
    phone.faults().clear();
    phone.faults().add(fault(FaultKind::BadHeader, 0x02, -1, 4));
    ASSERT_EQ(session.start(QStringLiteral("sim")), Outcome::Done);
    EXPECT_EQ(requestsOf(x45::proto::PingQuery), 5);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SessionSim, RefusedSpeedSwitchAndUnansweredIdentificationGoOnWithOldValues) {
    phone.config().acceptSpeedSwitch = false;
    session.identity.PhoneSWVer = 33;
    session.identity.PhoneLangGroup = QStringLiteral("old");
    phone.faults().add(fault(FaultKind::NoReply, 0x0E, 0x03, 1));
    // The language group reply trickles in past its time-out: accepted, but not taken.
    phone.faults().add(fault(FaultKind::Trickle, 0x0E, 0x09, 1, 120));
    ASSERT_EQ(session.start(QStringLiteral("sim")), Outcome::Done);
    EXPECT_EQ(port.lineSpeed(), 57600);
    EXPECT_EQ(phone.speed(), 57600);
    EXPECT_EQ(phone.malformedCount(), 0) << "every later request came at the phone's speed";
    EXPECT_EQ(session.identity.PhoneHWid, phone.config().hwid);
    EXPECT_EQ(session.identity.PhoneSWVer, 33);
    EXPECT_EQ(session.identity.PhoneLangGroup, QStringLiteral("old"));
    EXPECT_EQ(session.identity.PhoneModel, QString::fromLatin1(phone.config().model));
    EXPECT_EQ(session.identity.PhoneIMEI, QString::fromLatin1(phone.config().imei));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SessionSim, WrongReplyToEachQueryIsReportedAndClosesThePort) {
    const std::tuple<int, int, FaultKind, const char*> cases[] = {
        {0x05, 0x21, FaultKind::WrongSub, "Error №2 (ChipsetQuery)..."},
        {0x05, 0x21, FaultKind::NoReply, "Error №2 (ChipsetQuery)..."},
        {0x0E, 0x07, FaultKind::WrongSub, "Error №3 (NameQuery)..."},
        {0x0E, 0x03, FaultKind::BadHeader, "Error №13 (SWQuery)..."},
        {0x0E, 0x09, FaultKind::WrongSub, "Error №12 (NameQuery)..."},
        {0x0E, 0x0A, FaultKind::BadHeader, "Error №12.5 (IMEIQuery)..."},
    };
    for (const auto& [cmd, sub, kind, text] : cases) {
        SCOPED_TRACE(text);
        phone.reset();
        phone.faults().clear();
        phone.faults().add(fault(kind, cmd, sub, 1));
        ui.messages.clear();
        session.identity = {};
        session.identity.PhoneIMEI = QStringLiteral("kept");
        EXPECT_EQ(session.start(QStringLiteral("sim")), Outcome::Failed);
        expectFailedWith({});
        EXPECT_EQ(ui.messages[0].text, QString::fromUtf8(text));
        EXPECT_TRUE(ui.messages[0].title.isEmpty()) << "the program's own title";
        EXPECT_EQ(ui.messages[0].buttons, x45::Buttons::Ok);
        EXPECT_EQ(session.identity.PhoneIMEI, QStringLiteral("kept"));
        EXPECT_EQ(phone.requests().count(x45::proto::IMEIQuery), sub == 0x0A ? 1 : 0)
            << "nothing is asked after the failing query";
    }
}

TEST_F(SessionSim, PortThatCannotBeOpenedNamesPortAndReason) {
    port.failOpen(QStringLiteral("Permission denied"));
    EXPECT_EQ(session.start(QStringLiteral("/dev/ttyUSB7")), Outcome::Failed);
    EXPECT_FALSE(x45::openFailureAdvice(QStringLiteral("Permission denied")).isEmpty());
    expectFailedWith({QStringLiteral("/dev/ttyUSB7"), QStringLiteral("Permission denied"),
                      x45::openFailureAdvice(QStringLiteral("Permission denied"))});
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(phone.requests().isEmpty());
    port.failOpen({});
    EXPECT_EQ(session.start(QStringLiteral("/dev/ttyUSB7")), Outcome::Done);
}

TEST_F(SessionSim, CablePulledDuringIdentificationEndsWithMessage) {
    phone.faults().add(fault(FaultKind::NoReply, 0x0E, 0x07, 1));
    port.onWrite = [this](const QByteArray& written) {
        if (written == x45::proto::ModelQuery) port.unplug(QStringLiteral("Input/output error"));
    };
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(session.start(QStringLiteral("simZ")), Outcome::Failed);
    EXPECT_LT(t.elapsed(), 3000);
    expectFailedWith({QStringLiteral("simZ"), QStringLiteral("Input/output error")});
}

TEST_F(SessionFake, HandshakeScansUntilTheLastByteIsA0ThenSendsBootAndCheckAndWantsA5) {
    port.silentNext();               // first scan: nothing
    port.replyNext(hex("A011"));     // second: A0 not last, does not count
    port.replyNext(hex("0000FFA0")); // third: noise before the answer is ignored
    port.silentNext();               // the boot image itself
    port.replyNext(hex("A5"));       // the check byte
    EXPECT_EQ(session.sendServiceBoot(), x45::Outcome::Done);
    ASSERT_EQ(session.BootImage.size(), 104);
    EXPECT_EQ(port.writes, (QList<QByteArray>{hex("55"), hex("55"), hex("55"),
                                              hex("68") + session.BootImage, hex("FE")}));
    EXPECT_EQ(ui.statuses, QStringList{QStringLiteral("Sending service boot...")});

    // Any other acknowledgement, or none, fails.
    for (const char* ack : {"A4", ""}) {
        port.replyNext(hex("A0"));
        port.silentNext();
        port.replyNext(hex(ack));
        EXPECT_EQ(session.sendServiceBoot(), x45::Outcome::Failed) << ack;
    }
}

TEST_F(SessionFake, StopFromAnotherThreadWhileScanningEndsOnTheStopPath) {
    // A phone that never answers: only the person's stop, pressed while a scan waits, ends it.
    std::thread person([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(350));
        session.stopRequest().request();
    });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(session.start(QStringLiteral("/dev/ttyS1")), Outcome::Stopped);
    person.join();
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_GE(port.writes.size(), 3);
    EXPECT_EQ(port.writes.count(hex("55")), port.writes.size());
    EXPECT_EQ(port.writeBauds.value(0), 57600);
    EXPECT_EQ(ui.statuses, (QStringList{"Scanning...", "Stopped."}));
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SessionFake, CablePulledWhileScanningEndsWithMessage) {
    port.onWrite = [this](const QByteArray&) {
        if (port.writes.size() == 2) port.unplug(QStringLiteral("No such device"));
    };
    EXPECT_EQ(session.start(QStringLiteral("/dev/ttyUSB0")), Outcome::Failed);
    x45::test::expectFailedWith(session, ui, {"/dev/ttyUSB0", "No such device"});
}

TEST(Extraction, ValuesComeFromTheFrameOnly) {
    // Names end at the first zero or take the rest.
    EXPECT_EQ(Session::extractName(hex("0E05 0B 07 433435 00")), QStringLiteral("C45"));
    EXPECT_EQ(Session::extractName(hex("0E07 09 07 5335 00 4142 ")), QStringLiteral("S5"));
    EXPECT_EQ(Session::extractName(hex("0E04 0A 09 6C6731")), QStringLiteral("lg1"));
    EXPECT_EQ(Session::extractName(hex("0E01 0F 07")), QString());
    EXPECT_EQ(Session::extractName(hex("0E02 0C 07 00")), QString());
    // The software version's hex digits read as decimal; a non-digit counts as nothing.
    for (const auto& [frame, ver] :
         {std::pair{"0E020C0325", 25}, std::pair{"0E020C034B", 4}, std::pair{"0E020C03B4", 0},
          std::pair{"0E020C0399", 99}, std::pair{"", 0}})
        EXPECT_EQ(Session::extractSWVer(hex(frame)), ver) << frame;
    // The IMEI lies between the first blank and the last byte; without a blank it is everything
    // but the last byte.
    EXPECT_EQ(Session::extractIMEI(
                  x45::Link::frame(0x0E, hex("0A0108") + " 350123456789012" + hex("00"))),
              QStringLiteral("350123456789012"));
    EXPECT_EQ(Session::extractIMEI(hex("0E030D0A414299")),
              QString::fromLatin1(hex("0E030D0A4142")));
    EXPECT_EQ(Session::extractIMEI(x45::Link::frame(0x0E, QByteArray("\x0A"
                                                                     "a b c!"))),
              QStringLiteral("b c"));
}

TEST_F(SessionFake, SpaceReplyGivesTheThreeCountersAndRefusedRepliesLeaveTheRecord) {
    const x45::EEPSpace space = Session::parseSpaceReply(ExampleSpace);
    EXPECT_EQ(space.FreeInBuffer, 4096);
    EXPECT_EQ(space.FreeAtAll, 4660);
    EXPECT_EQ(space.FreeForDeleted, 0);

    const QByteArray good = ExampleSpace;
    QByteArray badTrailer = good;
    badTrailer[16] = 0x3F;
    // A short frame with a valid trailer still lacks the counters.
    const QByteArray shortFrame = x45::Link::blockFrame(0x08, hex("0010"));
    // A 00 slipped into the middle keeps the XOR; the real trailer comes one byte late.
    const QByteArray slipped = good.left(8) + QByteArray(1, '\0') + good.mid(8);
    const QByteArray otherArea = x45::Link::blockFrame(0x18, good.mid(4, 12));
    link.setTimeScale(0.01); // five attempts, each refused or timed out
    for (const QByteArray& bytes : {otherArea, badTrailer, shortFrame, slipped, good.left(12)}) {
        x45::EEPSpace kept{1, 2, 3};
        port.onWrite = [&](const QByteArray&) { port.deliver(bytes); };
        link.resetStep();
        EXPECT_FALSE(session.EEPSpaceQuery(false, kept)) << bytes.toHex().constData();
        EXPECT_EQ(kept.FreeAtAll, 2);
        EXPECT_EQ(kept.FreeForDeleted, 3);
    }
}

TEST_F(SessionFake, SpaceQueryAsksFiveTimesThenGivesUp) {
    // Space requests get a cut reply four times, then a good one; the syncs between them are
    // answered as the phone would.
    int spaceAsked = 0;
    const auto answer = [&](const QByteArray& asked, const std::function<QByteArray()>& reply) {
        port.onWrite = [&, asked, reply](const QByteArray& w) {
            port.deliver(w == asked ? reply()
                                    : x45::Link::blockFrame(quint8(w[3]), QByteArray(14, '\0')));
        };
    };
    answer(hex("1402160808"),
           [&] { return ++spaceAsked < 5 ? ExampleSpace.left(16) + '\0' : ExampleSpace; });
    x45::EEPSpace space;
    EXPECT_TRUE(session.EEPSpaceQuery(false, space));
    EXPECT_EQ(spaceAsked, 5);
    EXPECT_EQ(port.writes.size(), 5 + 4); // a sync after each failed attempt
    EXPECT_EQ(space.FreeAtAll, 4660);

    port.writes.clear();
    answer(hex("1402161818"), [] { return ExampleSpace; }); // EEfull asked, EElite's come
    x45::EEPSpace full{9, 9, 9};
    EXPECT_FALSE(session.EEPSpaceQuery(true, full));
    EXPECT_EQ(port.writes.count(hex("1402161818")), 5);
    EXPECT_EQ(full.FreeInBuffer, 9);
}

TEST_F(SessionFake, SpeedSwitchAndChipsetRepliesAreJudgedByTheirFixedParts) {
    const std::pair<const char*, bool> baud[] = {
        {"010C0D 9998 CC3131353230300DD22B", true}, // other bytes before the fixed tail
        {"010A0B CD3131353230300DD22B", false},     // CC is part of the fixed tail
        {"010A0A CC3131353230300DD22B", false},     // header check
    };
    for (const auto& [reply, accepted] : baud) {
        port.replyNext(hex(reply));
        EXPECT_EQ(session.BaudQuery(), accepted) << reply;
    }
    EXPECT_EQ(port.writes.value(0), x45::proto::BaudQuery);

    // An id is taken only from a reply that answers the query and holds the id bytes.
    const std::tuple<const char*, bool, int> chipset[] = {
        {"050306213412", true, 4660}, {"05010421", false, 4660},
        {"050306220180", false, 4660}, {"050306210180", true, 0x8001}};
    for (const auto& [reply, accepted, id] : chipset) {
        port.replyNext(hex(reply));
        EXPECT_EQ(session.ChipsetQuery(), accepted) << reply;
        EXPECT_EQ(session.identity.PhoneHWid, id) << reply;
    }
}

TEST_F(SessionFake, IdentificationJudgementTable) {
    enum class J { Taken, Skipped, Wrong };
    const auto judged = [](const x45::Status& s) {
        return s.isOk() ? J::Taken : s.is(x45::ErrorKind::NoReply) ? J::Skipped : J::Wrong;
    };
    session.identity.PhoneModel = QStringLiteral("old");
    struct Case {
        const char* what;
        quint8 sub;
        FakePort::Script reply;
        J judged;
        QString model;
    };
    const Case cases[] = {
        {"wrong sub-command in time: an error", 0x07, {{hex("0E020C0841"), 0}}, J::Wrong, "old"},
        {"nothing at all: skipped", 0x07, {}, J::Skipped, "old"},
        {"good reply whose last byte comes after the time-out: skipped, value kept", 0x07,
         {{hex("0E030D07"), 0}, {hex("43"), 300}, {hex("00"), 300}}, J::Skipped, "old"},
        {"good reply with line noise after it: the frame alone counts", 0x07,
         {{hex("0E040A07433500 5A5A"), 0}}, J::Taken, "C5"},
        {"software version", 0x03, {{hex("0E020C0325 77"), 0}}, J::Taken, "C5"},
    };
    for (const Case& c : cases) {
        port.replyNext(c.reply);
        EXPECT_EQ(judged(session.InfoQuery(c.sub)), c.judged) << c.what;
        EXPECT_EQ(session.identity.PhoneModel, c.model) << c.what;
    }
    EXPECT_EQ(session.identity.PhoneSWVer, 25);
    EXPECT_EQ(port.writes.value(0), x45::proto::ModelQuery);
    EXPECT_EQ(port.writes.last(), x45::proto::SWQuery);
}
