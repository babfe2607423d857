// What every serial port the link talks to must honour, run against the real port on a
// pseudo-terminal whose other end a thread of the test plays, and against the simulator's
// in-process port; and the real port held by its device whatever name reaches it, and used from a
// worker thread with no event loop.

#include "simport.h"
#include "simtestkit.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/qtserialport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <ctime>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
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
// The far end of a pseudo-terminal, played on a thread of its own: it records what it hears and
// answers each request with the next queued reply. It keeps a second handle on the terminal open
// so that the port closing does not hang up the line; hangUpAfter() pulls the cable.
class PtyPeer {
public:
    PtyPeer() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        held_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        if (held_ < 0) return;
        termios raw{};
        ::tcgetattr(held_, &raw);
        ::cfmakeraw(&raw); // no echo even while the port is closed
        ::tcsetattr(held_, TCSANOW, &raw);
        path_ = QString::fromLocal8Bit(::ptsname(master_));
        thread_ = std::thread([this] { serve(); });
    }
    ~PtyPeer() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        for (int fd : {held_, master_})
            if (fd >= 0) ::close(fd);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    [[nodiscard]] const QString& path() const { return path_; }
    [[nodiscard]] QByteArray heard() const {
        const std::lock_guard lock(mutex_);
        return heard_;
    }
    void answerNext(const QByteArray& reply) {
        const std::lock_guard lock(mutex_);
        replies_.push_back(reply);
    }
    void hangUpAfter(std::chrono::milliseconds delay) {
        hangUpAt_ = (std::chrono::steady_clock::now() + delay).time_since_epoch().count();
    }

private:
    void serve() {
        while (running_) {
            if (std::chrono::steady_clock::now().time_since_epoch().count() >= hangUpAt_) {
                for (int* fd : {&held_, &master_})
                    ::close(std::exchange(*fd, -1));
                return;
            }
            pollfd p{master_, POLLIN, 0};
            char buffer[512];
            if (::poll(&p, 1, 5) <= 0) continue;
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) continue;
            const std::lock_guard lock(mutex_);
            heard_.append(buffer, n);
            if (replies_.empty()) continue;
            (void)::write(master_, replies_.front().constData(), size_t(replies_.front().size()));
            replies_.pop_front();
        }
    }

    int master_ = -1;
    int held_ = -1;
    QString path_;
    mutable std::mutex mutex_;
    QByteArray heard_;
    std::deque<QByteArray> replies_;
    std::atomic<bool> running_{true};
    std::atomic<std::chrono::steady_clock::rep> hangUpAt_{
        std::numeric_limits<std::chrono::steady_clock::rep>::max()};
    std::thread thread_;
};

// One implementation with the far end the test controls. Each rig has: port; answerNext(reply)
// to have the next request answered; heard(), all the peer got; refuseOpen(), which makes the
// next open fail and returns what its error must name; allowOpen(); goAwayAfter(delay), the
// device disappearing.
struct RealPortOnPty {
    static constexpr const char* Name = "QtSerialPort";
    PtyPeer peer;
    x45::QtSerialPort port;
    RealPortOnPty() { port.setPortName(peer.path()); }
    void answerNext(const QByteArray& reply) { peer.answerNext(reply); }
    [[nodiscard]] QByteArray heard() const { return peer.heard(); }
    QString refuseOpen() {
        port.setPortName(QStringLiteral("/nonexistent-x45/ttyX45"));
        return QStringLiteral("/nonexistent-x45/ttyX45");
    }
    void allowOpen() { port.setPortName(peer.path()); }
    void goAwayAfter(std::chrono::milliseconds delay) { peer.hangUpAfter(delay); }
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
    [[nodiscard]] QByteArray heard() const { return port.written(); }
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
        rig.answerNext(Answer);
        rig.port.write(Request);
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

TYPED_TEST(PortContract, OpensClosesAndTakesTheSpeedOfItsSettings) {
    x45::SerialPort& port = this->rig.port;
    EXPECT_EQ(port.baudRate(), 115200);
    EXPECT_FALSE(port.isOpen());
    this->open();
    EXPECT_TRUE(port.isOpen());
    port.close();
    EXPECT_FALSE(port.isOpen());
    port.close(); // twice is harmless
    // A closed port reads nothing, waits for nothing and sends nothing.
    EXPECT_TRUE(port.read(0).isEmpty());
    EXPECT_FALSE(port.waitForReadyRead(1000ms));
    port.write(Request);
    this->open();
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(this->rig.heard().isEmpty());
}

TYPED_TEST(PortContract, WaitBlocksOnThePortUntilTheReplyOrItsTimeOut) {
    x45::SerialPort& port = this->rig.port;
    x45::Link link(port);
    this->open();
    int received = 0;
    QObject::connect(&port, &x45::SerialPort::received, [&] { ++received; });
    this->rig.answerNext(Answer);
    link.SendFrame(Request);
    link.WaitReply(2000ms, 1);
    EXPECT_EQ(link.Reply.State, x45::Complete);
    EXPECT_FALSE(link.TimedOut);
    EXPECT_EQ(link.Reply.Buffer, Answer);
    EXPECT_GE(received, 1);
    EXPECT_EQ(this->rig.heard(), Request) << "the request goes out unchanged";

    // A quiet line: the wait sleeps until its time-out instead of spinning.
    QElapsedTimer t;
    t.start();
    const std::clock_t cpu = std::clock();
    link.WaitReply(300ms, 1);
    EXPECT_LT(double(std::clock() - cpu) / CLOCKS_PER_SEC, 0.05) << "CPU seconds of the wait";
    EXPECT_GE(t.elapsed(), 300);
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_TRUE(link.TimedOut);
    EXPECT_TRUE(link.Reply.Buffer.isEmpty());
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

TYPED_TEST(PortContract, PortThatCannotBeOpenedSaysWhyAndOpensOnceItCan) {
    x45::SerialPort& port = this->rig.port;
    const QString why = this->rig.refuseOpen();
    QString error;
    EXPECT_FALSE(port.open(&error));
    EXPECT_TRUE(error.contains(why)) << error.toStdString();
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(port.read(0).isEmpty());
    this->rig.allowOpen();
    EXPECT_TRUE(port.open(&error)) << error.toStdString();
    EXPECT_TRUE(port.isOpen());
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
    link.WaitReply(5000ms, 1);
    EXPECT_LT(t.elapsed(), 2500) << "the wait ended long before its time-out";
    EXPECT_TRUE(link.portLost());
    EXPECT_TRUE(link.TimedOut);
    EXPECT_FALSE(port.isOpen());
    t.restart();
    link.WaitReply(5000ms, 1);
    link.Pause(5000ms);
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
    ASSERT_FALSE(peer.path().isEmpty());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("by-id"));
    ASSERT_TRUE(QFile::link(peer.path(), link));
    x45::QtSerialPort holder, other;
    holder.setPortName(peer.path());
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
    ASSERT_FALSE(peer.path().isEmpty());
    peer.answerNext(Answer);
    QByteArray got;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        x45::QtSerialPort port;
        port.setPortName(peer.path());
        if (!port.open(nullptr)) return;
        port.write(Request);
        if (waitForBytes(port, Answer.size())) got = port.read(0);
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(5000));
    EXPECT_EQ(got, Answer);
    EXPECT_EQ(peer.heard(), Request);
}
#endif
