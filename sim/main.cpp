// x45sim: the simulated phone behind a pseudo-terminal, for demos, end-to-end tests and
// benchmarks of the real tool over a real (virtual) serial line.

#include <QtGlobal>

#if !defined(Q_OS_UNIX)
#include <cstdio>
// The phone is served through a pseudo-terminal, which only POSIX systems offer; elsewhere use
// the in-process SimPort or a pair of virtual serial ports with a build of this program for them.
int main() {
    std::fputs("x45sim: needs a system with pseudo-terminals (Linux, macOS)\n", stderr);
    return 2;
}
#else

#include "simoptions.h"
#include "simphone.h"
#include "simstats.h"

#include <files/eepfile.h>
#include "base/bytes.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTime>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace x45sim;

namespace {

int signalPipe[2] = {-1, -1};

// After a paced reply the terminal is polled this long for the next request (yielding the CPU
// between polls), so that the request's arrival is timed when it comes rather than when this
// process is next scheduled: the idle figures are the tool's, not the simulator's wake-up delay.
constexpr qint64 HotWaitNanos = 1'000'000;

// Bytes handed to the tool at once while pacing: a 16550's receive trigger level.
constexpr qsizetype ReceiveGroup = 8;

// Speed the terminal holds while the tool does not have it open; no tool uses it.
constexpr speed_t ClosedMarker = B50;

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

qint32 speedOf(speed_t s) {
    switch (s) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

void fail(const QString& message) {
    std::fprintf(stderr, "x45sim: %s\n", qPrintable(message));
    std::exit(2);
}

class PtyPhone : public QObject {
public:
    PtyPhone(SimOptions options) : options_(std::move(options)), phone_(options_.config) {}

    void start();

private:
    struct OutChunk {
        QByteArray bytes;
        qint64 start = 0; // when its first byte starts on the wire, ns
        qint64 bt = 0;    // nanoseconds per byte (0 without pacing)
        qsizetype sent = 0;
        qint32 baud = 0;
        bool session = false; // a reply in the service session, not the boot handshake
    };

    // The monotonic clock's own reading, so that --gaps can be set against the tool's timestamps.
    [[nodiscard]] static qint64 now() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    [[nodiscard]] qint32 toolSpeed();
    // The phone's blocks, faults and log from the options.
    void loadPhone();
    // The pseudo-terminal (and --link to it); returns the device path.
    QByteArray openTerminal();
    void watchSignalsAndLine();
    void readMaster();
    void handle(const QByteArray& bytes, qint32 baud, qint64 arrived);
    void pumpOut();
    void awaitRequestHot();
    void logLine(char direction, const QString& text);
    void logTraffic();
    void finish();

    SimOptions options_;
    SimPhone phone_;
    LineStats stats_;
    int master_ = -1;
    int slave_ = -1;
    QSocketNotifier* readNotifier_ = nullptr;
    QTimer outTimer_;
    std::deque<OutChunk> out_;
    qint64 inLineFree_ = 0, outLineFree_ = 0; // modelled line busy until, micros
    qint64 replyEnd_ = -1; // end of the last reply on the wire, while no request came after it
    QFile log_;
    qsizetype trafficLogged_ = 0;
    int malformedReported_ = 0;
    qint32 lastOpenSpeed_ = 0;
    bool finished_ = false;
};

qint32 PtyPhone::toolSpeed() {
    // The slave's termios is what the tool's port set; the pty itself has no real speed. A port
    // that closes puts back the settings it found, which carry our marker speed: bytes read
    // after that were written while the port was open, at the speed it had then.
    termios t{};
    if (::tcgetattr(slave_, &t) != 0) return 0;
    if (::cfgetospeed(&t) == ClosedMarker) return lastOpenSpeed_;
    lastOpenSpeed_ = speedOf(::cfgetospeed(&t));
    return lastOpenSpeed_;
}

void PtyPhone::start() {
    loadPhone();
    const QByteArray name = openTerminal();
    watchSignalsAndLine();
    std::printf("%s\n", name.constData());
    std::fflush(stdout);
}

void PtyPhone::loadPhone() {
    if (!options_.eeprom.isEmpty()) {
        QFile file(options_.eeprom);
        if (!file.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read %1: %2").arg(options_.eeprom, file.errorString()));
        const x45::Result<x45::EepContents> contents =
            x45::parseEep(file.readAll(), options_.eeprom);
        if (!contents) fail(contents.message());
        if (!options_.hwidGiven && contents->hwid != 0) phone_.config().hwid = contents->hwid;
        phone_.setBlocks(contents->blocks);
    }
    phone_.faults().setSeed(options_.seed);
    for (const Fault& f : options_.faults)
        phone_.faults().add(f);
    if (!options_.log.isEmpty()) {
        log_.setFileName(options_.log);
        if (!log_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            fail(QStringLiteral("cannot write %1: %2").arg(options_.log, log_.errorString()));
    }
}

QByteArray PtyPhone::openTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        fail(QStringLiteral("cannot create a pseudo-terminal: %1").arg(std::strerror(errno)));
    const char* name = ::ptsname(master_);
    if (!name)
        fail(QStringLiteral("cannot name the pseudo-terminal: %1").arg(std::strerror(errno)));
    const QString slavePath = QString::fromLocal8Bit(name);
    // Holding the slave open ourselves keeps the master from seeing EIO between the tool's
    // sessions (when no one else has the slave open).
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) fail(QStringLiteral("cannot open %1: %2").arg(slavePath, std::strerror(errno)));
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, ClosedMarker);
    ::cfsetospeed(&t, ClosedMarker);
    ::tcsetattr(slave_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    if (!options_.link.isEmpty()) {
        const QByteArray link = QFile::encodeName(options_.link);
        struct stat st {};
        if (::lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(link.constData());
        if (::symlink(name, link.constData()) != 0)
            fail(QStringLiteral("cannot make the link %1: %2")
                     .arg(options_.link, std::strerror(errno)));
    }
    return QByteArray(name);
}

void PtyPhone::watchSignalsAndLine() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        fail(QStringLiteral("cannot set up signal handling: %1").arg(std::strerror(errno)));
    auto* sigNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(sigNotifier, &QSocketNotifier::activated, this, [this] { finish(); });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { readMaster(); });
    outTimer_.setSingleShot(true);
    outTimer_.setTimerType(Qt::PreciseTimer);
    connect(&outTimer_, &QTimer::timeout, this, [this] { pumpOut(); });
}

void PtyPhone::readMaster() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            const qint32 baud = toolSpeed();
            const qint64 t = now();
            const qint64 bt = options_.pace ? byteNanos(baud) : 0;
            // Bytes written at once travel one after another; the phone acts on them as the
            // last one arrives.
            const qint64 startOnWire = std::max(inLineFree_, t);
            if (replyEnd_ >= 0) {
                stats_.idleGap(replyEnd_, startOnWire);
                replyEnd_ = -1;
            }
            inLineFree_ = startOnWire + n * bt;
            stats_.toPhone(n, baud);
            handle(QByteArray(buf, n), baud, inLineFree_);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Should not happen while we hold the slave open; do not spin on a dead descriptor.
            std::fprintf(stderr, "x45sim: reading the pseudo-terminal: %s\n", std::strerror(errno));
            readNotifier_->setEnabled(false);
            QTimer::singleShot(100, this, [this] { readNotifier_->setEnabled(true); });
        }
        break; // drained
    }
    pumpOut();
}

void PtyPhone::handle(const QByteArray& bytes, qint32 baud, qint64 arrived) {
    // The request is carried out at once, but its answer starts on the modelled line only after
    // the request's last byte has arrived there; what the phone does before that cannot be seen
    // on the line, and this spares a timer tick per request.
    const qsizetype before = phone_.requests().size();
    const bool session = phone_.state() == SimState::Service;
    const Emissions replies = phone_.receive(bytes, baud);
    for (qsizetype i = before; i < phone_.requests().size(); ++i)
        stats_.request();
    logTraffic();
    // The program runs for as long as it is wanted: keep no frames once they are logged.
    phone_.clearTraffic();
    trafficLogged_ = 0;
    // A reply goes out at the speed its request came at (the speed switch follows it).
    const qint64 bt = options_.pace ? byteNanos(baud) : 0;
    qint64 t = std::max(now(), arrived);
    for (const Emission& e : replies) {
        qint64 start = std::max(t + qint64(e.delay.count()) * 1'000'000, outLineFree_);
        // Unpaced, the bytes come at once, but never sooner than the request and the reply
        // would take on the wire: the tool takes a reply that comes sooner for an earlier one.
        if (!options_.pace)
            start = std::max(start, arrived + (bytes.size() + e.bytes.size()) * byteNanos(baud));
        out_.push_back({e.bytes, start, bt, 0, baud, session});
        outLineFree_ = start + e.bytes.size() * bt;
        t = outLineFree_;
        logLine('<', x45::toHex(e.bytes));
    }
}

void PtyPhone::pumpOut() {
    while (!out_.empty()) {
        OutChunk& c = out_.front();
        // Bytes reach the tool in groups, as from a UART's receive FIFO or a USB adapter's
        // packets: the next write is due when a whole group (or the reply's last byte) is on the
        // wire. The last byte of every reply still arrives at its modelled time.
        const qsizetype target = std::min<qsizetype>(c.sent + ReceiveGroup, c.bytes.size());
        const qint64 wait = c.start + target * c.bt - now();
        if (wait > 1'000'000) {
            // Timers tick in whole milliseconds and never early: wake before the byte is due
            // and sleep the rest, so replies leave on time without spinning.
            outTimer_.start(static_cast<int>(wait / 1'000'000));
            return;
        }
        if (wait > 0) {
            const timespec pause{0, static_cast<long>(wait)};
            ::nanosleep(&pause, nullptr);
        }
        const qint64 t = now();
        qsizetype due =
            c.bt > 0 ? std::min<qsizetype>(c.bytes.size(), (t - c.start) / c.bt) : c.bytes.size();
        due = std::max(due, target);
        const ssize_t n = ::write(master_, c.bytes.constData() + c.sent, due - c.sent);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            fail(QStringLiteral("cannot write to the pseudo-terminal: %1")
                     .arg(std::strerror(errno)));
        if (n > 0) {
            stats_.fromPhone(n, c.baud);
            c.sent += n;
        }
        if (n <= 0) { // terminal full: try again shortly
            outTimer_.start(1);
            return;
        }
        if (c.sent < c.bytes.size()) continue;
        // The tool's idle time counts from when it could have had the last byte: the model's
        // end, or later when the simulator itself was late (that lag is reported on its own).
        const qint64 modelEnd = c.start + c.bytes.size() * c.bt;
        const qint64 end = std::max(modelEnd, now());
        if (c.bt > 0) stats_.lag((end - modelEnd) / 1000);
        replyEnd_ = c.session ? end : -1;
        if (c.session) stats_.sessionReply(end);
        // c is a reference into out_: read what is still needed before the chunk goes.
        const bool paced = c.bt > 0;
        out_.pop_front();
        if (out_.empty() && paced) QTimer::singleShot(0, this, [this] { awaitRequestHot(); });
    }
}

void PtyPhone::awaitRequestHot() {
    if (!out_.empty() || replyEnd_ < 0 || finished_) return;
    const qint64 until = now() + HotWaitNanos;
    while (now() < until) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            readMaster();
            return;
        }
        ::sched_yield(); // the tool may be waiting for this CPU
    }
}

void PtyPhone::logLine(char direction, const QString& text) {
    if (!log_.isOpen()) return;
    QTextStream s(&log_);
    s << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << direction << ' '
      << text << '\n';
}

void PtyPhone::logTraffic() {
    const auto& traffic = phone_.traffic();
    for (; trafficLogged_ < traffic.size(); ++trafficLogged_)
        if (traffic[trafficLogged_].fromTool)
            logLine('>', x45::toHex(traffic[trafficLogged_].bytes));
    const QStringList& reasons = phone_.malformedReasons();
    for (; malformedReported_ < reasons.size(); ++malformedReported_) {
        logLine('!', reasons[malformedReported_]);
        std::fprintf(stderr, "x45sim: malformed: %s\n", qPrintable(reasons[malformedReported_]));
    }
}

void PtyPhone::finish() {
    if (finished_) return; // a second signal while ending
    finished_ = true;
    readNotifier_->setEnabled(false);
    int code = 0;
    if (!options_.dump.isEmpty()) {
        QSaveFile file(options_.dump);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(x45::serializeEep(phone_.blocks(), phone_.config().hwid)) < 0 ||
            !file.commit()) {
            std::fprintf(stderr, "x45sim: cannot write %s: %s\n", qPrintable(options_.dump),
                         qPrintable(file.errorString()));
            code = 2;
        }
    }
    int struck = 0;
    for (const Fault& f : phone_.faults().list())
        struck += f.hits;
    const QString report = stats_.report() + QStringLiteral("faults struck: %1\n").arg(struck);
    for (const auto& [path, text] : {std::pair{options_.stats, report},
                                     std::pair{options_.gaps, stats_.timeline()}}) {
        if (path.isEmpty()) continue;
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(text.toUtf8()) < 0 ||
            !file.commit()) {
            std::fprintf(stderr, "x45sim: cannot write %s: %s\n", qPrintable(path),
                         qPrintable(file.errorString()));
            code = 2;
        }
    }
    if (!options_.link.isEmpty()) ::unlink(QFile::encodeName(options_.link).constData());
    if (options_.strict && phone_.malformedCount() > 0) {
        std::fprintf(stderr, "x45sim: %d malformed request(s):\n", phone_.malformedCount());
        for (const QString& r : phone_.malformedReasons())
            std::fprintf(stderr, "  %s\n", qPrintable(r));
        if (code == 0) code = 3;
    }
    log_.close();
    QCoreApplication::exit(code);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    x45::Result<SimOptions> parsed = parseSimOptions(args);
    if (!parsed) {
        std::fprintf(stderr, "x45sim: %s\n", qPrintable(parsed.message()));
        return 2;
    }
    SimOptions options = std::move(parsed).value();
    if (options.help) {
        std::fputs(qPrintable(simUsage()), stdout);
        return 0;
    }
#ifdef __linux__
    // The default 50 us timer slack would make every paced reply end late by about that much.
    if (options.pace) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    PtyPhone phone(std::move(options));
    phone.start();
    return app.exec();
}

#endif // Q_OS_UNIX
