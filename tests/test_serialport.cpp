// What every serial port the link talks to must honour, run against the real port on a
// pseudo-terminal whose other end the test plays, and against the simulator's in-process port;
// and the real port held by its device whatever name reaches it, and used from a worker thread
// with no event loop.

#include "simport.h"
#include "simtestkit.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/qtserialport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;
namespace proto = x45::proto;

namespace {

// The request every case sends, and the reply each peer gives to it (the simulated phone with
// hardware id 0x2345 gives exactly this).
const QByteArray Request = proto::ChipsetQuery;
const QByteArray Answer = QByteArray::fromHex("050306214523");

// Waits (at most about 3 s) until the port holds count bytes.
bool waitForBytes(x45::SerialPort& port, qsizetype count) {
    for (int turn = 0; turn < 300 && port.bytesAvailable() < count; ++turn)
        if (port.waitForReadyRead(10ms)) std::this_thread::sleep_for(1ms);
    return port.bytesAvailable() >= count;
}

#ifdef Q_OS_UNIX
// The far end of a pseudo-terminal, which the test plays itself: answerNext() puts a reply on the
// line at once, heard() collects what came from the port. It keeps a second handle on the
// terminal open so that the port closing does not hang up the line; hangUp() pulls the cable.
struct PtyPeer {
    PtyPeer() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
        held = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(held, &raw);
        ::cfmakeraw(&raw); // no echo even while the port is closed
        ::tcsetattr(held, TCSANOW, &raw);
        path = QString::fromLocal8Bit(::ptsname(master));
    }
    ~PtyPeer() { hangUp(); }
    void hangUp() {
        for (int* fd : {&held, &master})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
    }
    void answerNext(const QByteArray& reply) const {
        (void)::write(master, reply.constData(), size_t(reply.size()));
    }
    [[nodiscard]] QByteArray heard() {
        char buffer[512];
        for (ssize_t n; master >= 0 && (n = ::read(master, buffer, sizeof buffer)) > 0;)
            heardSoFar.append(buffer, n);
        return heardSoFar;
    }
    int master = -1;
    int held = -1;
    QString path;
    QByteArray heardSoFar;
};

// One implementation with the far end the test controls. Each rig has: port; answerNext(reply)
// to have the request about to be sent answered; heard(), all the peer got; refuseOpen(), which
// makes the next open fail and returns what its error must name; allowOpen(); goAwayAfter(delay),
// the device disappearing while the test waits.
struct RealPortOnPty {
    static constexpr const char* Name = "QtSerialPort";
    PtyPeer peer;
    x45::QtSerialPort port;
    std::thread cable;
    RealPortOnPty() { port.setPortName(peer.path); }
    ~RealPortOnPty() {
        if (cable.joinable()) cable.join();
    }
    void answerNext(const QByteArray& reply) { peer.answerNext(reply); }
    [[nodiscard]] QByteArray heard() { return peer.heard(); }
    QString refuseOpen() {
        port.setPortName(QStringLiteral("/nonexistent-x45/ttyX45"));
        return QStringLiteral("/nonexistent-x45/ttyX45");
    }
    void allowOpen() { port.setPortName(peer.path); }
    void goAwayAfter(std::chrono::milliseconds delay) {
        cable = std::thread([this, delay] {
            std::this_thread::sleep_for(delay);
            peer.hangUp();
        });
    }
};
#endif

struct SimulatorPort {
    static constexpr const char* Name = "SimPort";
    x45sim::SimPhone phone;
    x45sim::SimPort port{phone};
    SimulatorPort() {
        phone.config().hwid = 0x2345;
        x45sim::test::openSession(phone); // straight into service mode at 115200
    }
    void answerNext(const QByteArray&) {} // the phone answers by itself
    [[nodiscard]] QByteArray heard() { return port.written(); }
    QString refuseOpen() {
        port.failOpen(QStringLiteral("Permission denied"));
        return QStringLiteral("Permission denied");
    }
    void allowOpen() { port.failOpen({}); }
    void goAwayAfter(std::chrono::milliseconds delay) { port.unplug(QStringLiteral("gone"), delay); }
};

template <class Rig> class PortContract : public ::testing::Test {
protected:
    void SetUp() override { rig.port.setSettings(proto::SettingsFast); }
    void open() {
        QString error;
        ASSERT_TRUE(rig.port.open(&error)) << error.toStdString();
    }
    // Has the peer answer the request and waits until the whole answer is in the port's buffer.
    bool answerPending() {
        rig.port.write(Request);
        rig.answerNext(Answer);
        return waitForBytes(rig.port, Answer.size());
    }
    Rig rig;
};

struct RigName {
    template <class Rig> static std::string GetName(int) { return Rig::Name; }
};

#ifdef Q_OS_UNIX
using Rigs = ::testing::Types<RealPortOnPty, SimulatorPort>;
#else
using Rigs = ::testing::Types<SimulatorPort>;
#endif
TYPED_TEST_SUITE(PortContract, Rigs, RigName);

} // namespace

TYPED_TEST(PortContract, WaitBlocksOnThePortUntilTheReplyOrItsTimeOut) {
    x45::SerialPort& port = this->rig.port;
    x45::Link link(port);
    this->open();
    int received = 0;
    QObject::connect(&port, &x45::SerialPort::received, [&] { ++received; });
    x45::Query q{Request, {}, 2000ms, 1};
    q.rule.cmd = quint8(Answer[0]);
    q.rule.wholeFrame = false;
    this->rig.answerNext(Answer);
    const x45::Result<x45::ByteStr> reply = link.query(q);
    ASSERT_TRUE(reply.isOk());
    EXPECT_EQ(reply.value(), Answer);
    EXPECT_GE(received, 1);
    EXPECT_EQ(this->rig.heard(), Request) << "the request goes out unchanged";

    // A quiet line: the wait sleeps until its time-out instead of spinning.
    QElapsedTimer t;
    t.start();
    const std::clock_t cpu = std::clock();
    EXPECT_FALSE(port.waitForReadyRead(300ms));
    EXPECT_LT(double(std::clock() - cpu) / CLOCKS_PER_SEC, 0.05) << "CPU seconds of the wait";
    EXPECT_GE(t.elapsed(), 300);
    EXPECT_LT(t.elapsed(), 1000);
}

TYPED_TEST(PortContract, ReadTakesAtMostItsCountAndDiscardOrReopenDropsPendingInput) {
    x45::SerialPort& port = this->rig.port;
    this->open();
    ASSERT_TRUE(this->answerPending());
    EXPECT_TRUE(port.waitForReadyRead(0ms)) << "bytes that are there end a wait at once";
    EXPECT_EQ(port.read(2), Answer.left(2));
    EXPECT_EQ(port.bytesAvailable(), Answer.size() - 2);
    EXPECT_EQ(port.read(0), Answer.mid(2));
    EXPECT_TRUE(port.read(0).isEmpty());

    ASSERT_TRUE(this->answerPending());
    port.discard();
    EXPECT_TRUE(port.read(0).isEmpty());
    EXPECT_FALSE(port.waitForReadyRead(100ms)) << "discarded bytes do not come back";

    ASSERT_TRUE(this->answerPending());
    port.close();
    this->open();
    EXPECT_FALSE(port.waitForReadyRead(100ms)) << "a reopened port holds nothing from before";
    EXPECT_TRUE(port.read(0).isEmpty());
}

TYPED_TEST(PortContract, PortGoingAwayEndsTheWaitAtOnceClosesThePortAndSaysSoOnce) {
    x45::SerialPort& port = this->rig.port;
    x45::Link link(port);
    this->open();
    QStringList reasons;
    QObject::connect(&port, &x45::SerialPort::lost, [&](const QString& r) { reasons << r; });
    this->rig.goAwayAfter(50ms);
    QElapsedTimer t;
    t.start();
    link.pause(5000ms);
    EXPECT_LT(t.elapsed(), 2500) << "the wait ended long before its time-out";
    EXPECT_TRUE(link.portLost());
    EXPECT_FALSE(port.isOpen());
    t.restart();
    EXPECT_TRUE(link.query({Request, {}, 5000ms, 1}).is(x45::ErrorKind::PortLost));
    link.pause(5000ms);
    EXPECT_FALSE(port.waitForReadyRead(5000ms));
    EXPECT_LT(t.elapsed(), 200) << "later waits do not block either";
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_FALSE(reasons[0].isEmpty());
    EXPECT_EQ(link.lostReason(), reasons[0]);
}

#ifdef Q_OS_UNIX
// The port is held by its device: a second program that reaches it by another name (a symlink,
// as /dev/serial/by-id/... is) is refused and sends nothing, until the holder lets go.
TEST(QtSerialPortHold, ASecondOpenByAnotherNameIsRefusedAndSendsNothing) {
    PtyPeer peer;
    ASSERT_FALSE(peer.path.isEmpty());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("by-id"));
    ASSERT_TRUE(QFile::link(peer.path, link));
    x45::QtSerialPort holder, other;
    holder.setPortName(peer.path);
    other.setPortName(link);
    QString error;
    ASSERT_TRUE(holder.open(&error)) << error.toStdString();
    EXPECT_FALSE(other.open(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("in use by another program"))) << error.toStdString();
    other.write(Request);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(peer.heard().isEmpty());
    holder.close();
    EXPECT_TRUE(other.open(&error)) << error.toStdString();
}

// Made, opened and used on a worker thread whose event loop never runs.
TEST(QtSerialPortThread, ExchangesOnAWorkerThreadWithoutAnEventLoop) {
    PtyPeer peer;
    ASSERT_FALSE(peer.path.isEmpty());
    QByteArray got;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        x45::QtSerialPort port;
        port.setPortName(peer.path);
        if (!port.open(nullptr)) return;
        port.write(Request);
        peer.answerNext(Answer);
        if (waitForBytes(port, Answer.size())) got = port.read(0);
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    EXPECT_EQ(got, Answer);
    EXPECT_EQ(peer.heard(), Request);
}
#endif
