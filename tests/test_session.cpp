// The session start and end against the in-process simulated phone, with faults.

#include "scripted.h"
#include "simport.h"
#include "simtestkit.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/session.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using x45::Session;
using x45::StartOutcome;
using x45::test::hex;
using x45sim::Fault;
using x45sim::FaultKind;

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
    // A start that failed: one message, naming each of `named`, the port closed.
    void expectFailedWith(const QStringList& named) {
        ASSERT_EQ(ui.messages.size(), 1u);
        for (const QString& n : named)
            EXPECT_TRUE(ui.messages[0].text.contains(n)) << ui.messages[0].text.toStdString();
        EXPECT_EQ(ui.lastStatus(), QStringLiteral("Stopped."));
        EXPECT_FALSE(port.isOpen());
        EXPECT_FALSE(session.isOpen());
    }
};

} // namespace

TEST_F(SessionSim, StartSendsTheExactFramesAndEndClosesTheSession) {
    phone.config().model = "C45";
    int identified = 0, space = 0;
    QObject::connect(&session, &Session::identified, [&] { ++identified; });
    QObject::connect(&session, &Session::spaceChanged, [&] { ++space; });

    ASSERT_EQ(session.Start(QStringLiteral("simA")), StartOutcome::Opened);
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

    session.End();
    EXPECT_FALSE(session.isOpen());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(phone.requests().back(), hex("0E010F04"));
    EXPECT_EQ(ui.lastStatus(), QStringLiteral("Stopped."));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(session.identity.PhoneModel, QStringLiteral("C45")) << "values outlive the session";

    // A new start runs the whole handshake again at 57600.
    ASSERT_EQ(session.Start(QStringLiteral("simA")), StartOutcome::Opened);
    EXPECT_EQ(phone.sessionsStarted(), 2);
    EXPECT_EQ(phone.malformedCount(), 0) << phone.malformedReasons().join('\n').toStdString();
}

TEST_F(SessionSim, ReadinessCheckHasFiveAttempts) {
    phone.faults().add(fault(FaultKind::WrongSub, 0x02, -1, 5));
    EXPECT_EQ(session.Start(QStringLiteral("sim")), StartOutcome::Stopped);
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
    ASSERT_EQ(session.Start(QStringLiteral("sim")), StartOutcome::Opened);
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
    ASSERT_EQ(session.Start(QStringLiteral("sim")), StartOutcome::Opened);
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
        EXPECT_EQ(session.Start(QStringLiteral("sim")), StartOutcome::Failed);
        expectFailedWith({});
        EXPECT_EQ(ui.messages[0].text, QString::fromUtf8(text));
        EXPECT_TRUE(ui.messages[0].title.isEmpty()) << "the program's own title";
        EXPECT_EQ(ui.messages[0].buttons, x45::Buttons::Ok);
        EXPECT_EQ(session.identity.PhoneIMEI, QStringLiteral("kept"));
        EXPECT_EQ(phone.requests().count(x45::proto::IMEIQuery), sub == 0x0A ? 1 : 0)
            << "nothing is asked after the failing query";
    }
}

TEST_F(SessionSim, BadBootAcknowledgementIsReported) {
    session.BootImage[10] = static_cast<char>(session.BootImage[10] ^ 0x01);
    EXPECT_EQ(session.Start(QStringLiteral("sim")), StartOutcome::Failed);
    expectFailedWith({QString::fromUtf8("Error №2 (&HA5)...")});
    EXPECT_TRUE(phone.requests().isEmpty());
}

TEST_F(SessionSim, PortThatCannotBeOpenedNamesPortAndReason) {
    port.failOpen(QStringLiteral("Permission denied"));
    EXPECT_EQ(session.Start(QStringLiteral("/dev/ttyUSB7")), StartOutcome::Failed);
    EXPECT_FALSE(x45::openFailureAdvice(QStringLiteral("Permission denied")).isEmpty());
    expectFailedWith({QStringLiteral("/dev/ttyUSB7"), QStringLiteral("Permission denied"),
                      x45::openFailureAdvice(QStringLiteral("Permission denied"))});
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(phone.requests().isEmpty());
    port.failOpen({});
    EXPECT_EQ(session.Start(QStringLiteral("/dev/ttyUSB7")), StartOutcome::Opened);
}

TEST_F(SessionSim, CablePulledDuringIdentificationEndsWithMessage) {
    phone.faults().add(fault(FaultKind::NoReply, 0x0E, 0x07, 1));
    port.onWrite = [this](const QByteArray& written) {
        if (written == x45::proto::ModelQuery) port.unplug(QStringLiteral("Input/output error"));
    };
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(session.Start(QStringLiteral("simZ")), StartOutcome::Failed);
    EXPECT_LT(t.elapsed(), 3000);
    expectFailedWith({QStringLiteral("simZ"), QStringLiteral("Input/output error")});
}
