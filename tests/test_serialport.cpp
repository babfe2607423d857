// What every serial port the link talks to must honour, run against each of them: the real port
// on a pseudo-terminal whose other end the test plays, the simulator's in-process port, and the
// scripted fake; and the real port held by its device, whatever name reaches it.

#include "fakeport.h"
#include "simport.h"
#include "simtestkit.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/qtserialport.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>
#include <memory>

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

void runEventsFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitForBytes(x45::SerialPort& port, qsizetype count) {
    QElapsedTimer t;
    t.start();
    while (port.bytesAvailable() < count && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return port.bytesAvailable() >= count;
}

// Turns of the event loop while it lives: a wait that blocks until the next event takes a few,
// one that spins takes thousands.
class LoopTurns {
public:
    LoopTurns() {
        auto* d = QAbstractEventDispatcher::instance();
        for (auto signal :
             {&QAbstractEventDispatcher::aboutToBlock, &QAbstractEventDispatcher::awake})
            connections_.push_back(QObject::connect(d, signal, [this] { ++count; }));
    }
    ~LoopTurns() {
        for (const auto& c : connections_)
            QObject::disconnect(c);
    }
    int count = 0;

private:
    std::vector<QMetaObject::Connection> connections_;
};

#ifdef Q_OS_UNIX
// The far end of a pseudo-terminal, played in the event loop: it records what it hears and
// answers each request with the next queued reply. It keeps a second handle on the terminal
// open so that the port closing does not hang up the line; hangUp() pulls the cable.
class PtyPeer {
public:
    PtyPeer() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        const QString name = QString::fromLocal8Bit(::ptsname(master_));
        held_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        if (held_ < 0) return;
        termios raw{};
        ::tcgetattr(held_, &raw);
        ::cfmakeraw(&raw); // no echo even while the port is closed
        ::tcsetattr(held_, TCSANOW, &raw);
        notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { hear(); });
        path_ = name;
    }
    ~PtyPeer() { hangUp(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    [[nodiscard]] const QString& path() const { return path_; }
    void hangUp() {
        notifier_.reset();
        for (int* fd : {&held_, &master_})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
    }
    QByteArray heard;
    std::deque<QByteArray> replies;

private:
    void hear() {
        char buffer[512];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            notifier_->setEnabled(false);
            return;
        }
        heard.append(buffer, n);
        if (!replies.empty()) {
            const QByteArray reply = replies.front();
            replies.pop_front();
            (void)::write(master_, reply.constData(), size_t(reply.size()));
        }
    }

    int master_ = -1;
    int held_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QString path_;
};
#endif

// One implementation with the far end the test controls. Each rig has: port; why it cannot run
// here (empty when it can); answerNext(reply) to have the next request answered; heard(), all
// the peer got; refuseOpen(), which makes the next open fail and returns what its error must
// name; allowOpen(); goAway(), the device disappearing.
struct RealPortOnPty {
    static constexpr const char* Name = "QtSerialPort";
#ifdef Q_OS_UNIX
    PtyPeer peer;
    x45::QtSerialPort port;
    RealPortOnPty() {
        port.setPortName(peer.path());
    }
    [[nodiscard]] QString unavailable() const {
        return peer.path().isEmpty() ? QStringLiteral("no pseudo-terminal could be made")
                                     : QString();
    }
    void answerNext(const QByteArray& reply) {
        peer.replies.push_back(reply);
    }
    [[nodiscard]] QByteArray heard() const {
        return peer.heard;
    }
    QString refuseOpen() {
        port.setPortName(QStringLiteral("/nonexistent-x45/ttyX45"));
        return QStringLiteral("/nonexistent-x45/ttyX45");
    }
    void allowOpen() {
        port.setPortName(peer.path());
    }
    void goAway() {
        peer.hangUp();
    }
#else
    x45::test::FakePort port; // never used: the case is skipped
    [[nodiscard]] QString unavailable() const {
        return QStringLiteral("pseudo-terminals exist on Unix-like systems only");
    }
    void answerNext(const QByteArray&) {}
    [[nodiscard]] QByteArray heard() const {
        return {};
    }
    QString refuseOpen() {
        return {};
    }
    void allowOpen() {}
    void goAway() {}
#endif
};

struct SimulatorPort {
    static constexpr const char* Name = "SimPort";
    x45sim::SimPhone phone;
    x45sim::SimPort port{phone};
    SimulatorPort() {
        phone.config().hwid = 0x2345;
        x45sim::test::openSession(phone); // straight into service mode at 115200
    }
    [[nodiscard]] QString unavailable() const { return {}; }
    void answerNext(const QByteArray&) {} // the phone answers by itself
    [[nodiscard]] QByteArray heard() const { return port.written(); }
    QString refuseOpen() {
        port.failOpen(QStringLiteral("Permission denied"));
        return QStringLiteral("Permission denied");
    }
    void allowOpen() { port.failOpen({}); }
    void goAway() { port.unplug(); }
};

struct ScriptedPort {
    static constexpr const char* Name = "FakePort";
    x45::test::FakePort port;
    [[nodiscard]] QString unavailable() const { return {}; }
    void answerNext(const QByteArray& reply) { port.replyNext(reply); }
    [[nodiscard]] QByteArray heard() const { return port.allWritten(); }
    QString refuseOpen() {
        port.failOpen(QStringLiteral("Permission denied"));
        return QStringLiteral("Permission denied");
    }
    void allowOpen() {}
    void goAway() { port.unplug(QStringLiteral("Input/output error")); }
};

template <class Rig> class PortContract : public ::testing::Test {
protected:
    void SetUp() override {
        if (const QString why = rig.unavailable(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        rig.port.setSettings(QString::fromLatin1(proto::SettingsFast));
    }
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

using Rigs = ::testing::Types<RealPortOnPty, SimulatorPort, ScriptedPort>;
TYPED_TEST_SUITE(PortContract, Rigs, RigName);

} // namespace

TYPED_TEST(PortContract, OpensClosesAndTakesTheSpeedOfItsSettings) {
    x45::SerialPort& port = this->rig.port;
    EXPECT_EQ(port.baudRate(), 115200);
    port.setSettings(QStringLiteral("fast,n,8,1"));
    EXPECT_EQ(port.baudRate(), 115200) << "a settings text without a speed changes nothing";
    EXPECT_FALSE(port.isOpen());
    this->open();
    EXPECT_TRUE(port.isOpen());
    port.close();
    EXPECT_FALSE(port.isOpen());
    port.close(); // twice is harmless
    // A closed port reads nothing and sends nothing.
    EXPECT_TRUE(port.read(0).isEmpty());
    port.write(Request);
    this->open();
    runEventsFor(100ms);
    EXPECT_TRUE(this->rig.heard().isEmpty());
}

TYPED_TEST(PortContract, ReplyArrivesThroughTheSignalAndTheWaitBlocksUntilTheNextEvent) {
    x45::SerialPort& port = this->rig.port;
    x45::Link link(port);
    this->open();
    int received = 0;
    QObject::connect(&port, &x45::SerialPort::received, [&] { ++received; });
    this->rig.answerNext(Answer);
    link.SendFrame(Request);
    EXPECT_EQ(received, 0) << "nothing arrives inside write()";
    EXPECT_EQ(port.bytesAvailable(), 0);
    link.WaitReply(2000ms, 1);
    EXPECT_EQ(link.Reply.State, x45::Complete);
    EXPECT_FALSE(link.TimedOut);
    EXPECT_EQ(link.Reply.Buffer, Answer);
    EXPECT_GE(received, 1);
    EXPECT_EQ(this->rig.heard(), Request) << "the request goes out unchanged";

    // A quiet line: the wait sleeps until its time-out instead of spinning.
    const LoopTurns turns;
    link.WaitReply(300ms, 1);
    EXPECT_TRUE(link.TimedOut);
    EXPECT_EQ(link.Reply.State, x45::Receiving);
    EXPECT_TRUE(link.Reply.Buffer.isEmpty());
    EXPECT_LT(turns.count, 50) << "turns of the event loop";
}

TYPED_TEST(PortContract, ReadTakesAtMostItsCountAndDiscardOrReopenDropsPendingInput) {
    x45::SerialPort& port = this->rig.port;
    this->open();
    ASSERT_TRUE(this->answerPending());
    EXPECT_EQ(port.read(2), Answer.left(2));
    EXPECT_EQ(port.bytesAvailable(), Answer.size() - 2);
    EXPECT_EQ(port.read(0), Answer.mid(2));
    EXPECT_TRUE(port.read(0).isEmpty());

    ASSERT_TRUE(this->answerPending());
    port.discard();
    EXPECT_EQ(port.bytesAvailable(), 0);
    EXPECT_TRUE(port.read(0).isEmpty());
    runEventsFor(100ms);
    EXPECT_EQ(port.bytesAvailable(), 0) << "discarded bytes do not come back";

    ASSERT_TRUE(this->answerPending());
    port.close();
    this->open();
    runEventsFor(100ms);
    EXPECT_EQ(port.bytesAvailable(), 0) << "a reopened port holds nothing from before";
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
    error.clear();
    EXPECT_TRUE(port.open(&error)) << error.toStdString();
    EXPECT_TRUE(port.isOpen());
}

TYPED_TEST(PortContract, PortGoingAwayEndsTheWaitAtOnceClosesThePortAndSaysSoOnce) {
    x45::SerialPort& port = this->rig.port;
    x45::Link link(port);
    this->open();
    QStringList reasons;
    QObject::connect(&port, &x45::SerialPort::lost, [&](const QString& r) { reasons << r; });
    QTimer::singleShot(50, [this] { this->rig.goAway(); });
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
    EXPECT_LT(t.elapsed(), 200) << "later waits do not block either";
    runEventsFor(100ms);
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
    runEventsFor(100ms);
    EXPECT_TRUE(peer.heard.isEmpty());
    holder.close();
    EXPECT_TRUE(other.open(&error)) << error.toStdString();
}
#endif
