#include "qtserialport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>
#include <chrono>
#include <utility>
#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace x45 {

namespace {
constexpr std::chrono::milliseconds CloseDrain{200};
constexpr std::chrono::milliseconds DrainPoll{2};
// Far above the wire time of any request: a write that the driver cannot take within it has met
// a line that does not move.
constexpr std::chrono::milliseconds WriteBound{1000};

#ifdef Q_OS_UNIX
// Waits, within a bound, until the driver has sent what it was given. QSerialPort only waits
// until its own buffer is handed to the driver; closing puts the line's old settings back at
// once, so bytes still queued in the driver would go out at the wrong speed.
void drainOutput(int fd, std::chrono::milliseconds bound) {
    const QDeadlineTimer deadline(bound);
    int pending = 0;
    while (::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && !deadline.hasExpired())
        QThread::msleep(static_cast<unsigned long>(DrainPoll.count()));
}
#endif
#ifdef Q_OS_UNIX
// Where QSerialPort looks for a name: a path starting with "/", "./" or "../" as it is, any other
// name in /dev.
QString deviceLocation(const QString& name) {
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
        name.startsWith(QLatin1String("../")))
        return name;
    return QStringLiteral("/dev/") + name;
}

// The lock file another program holds on the device, with who holds it; empty when there is
// none. Programs that share serial ports leave "LCK.." and the device name in one of the usual
// lock folders, holding their process id and name.
QString lockHolder(const QString& location) {
    QString device = location;
    if (device.startsWith(QLatin1String("/dev/"))) device = device.mid(5);
    device.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QStringList folders{QStringLiteral("/var/lock"),       QStringLiteral("/run/lock"),
                              QStringLiteral("/etc/locks"),      QStringLiteral("/var/spool/locks"),
                              QStringLiteral("/var/spool/uucp"), QStringLiteral("/tmp"),
                              QStringLiteral("/var/tmp"),        QDir::tempPath()};
    for (const QString& folder : folders) {
        const QString path = folder + QStringLiteral("/LCK..") + device;
        if (!QFileInfo::exists(path)) continue;
        QLockFile lock(path);
        qint64 pid = 0;
        QString host, app;
        if (!lock.getLockInfo(&pid, &host, &app)) continue;
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) continue;
        return QStringLiteral("%1, process %2, holds its lock file %3")
            .arg(app.isEmpty() ? QStringLiteral("a program") : app)
            .arg(pid)
            .arg(path);
    }
    return {};
}

// The device itself behind a name: symbolic links (such as /dev/serial/by-id/...) resolved, so
// that every name of one device is held by one lock.
QString resolvedDevice(const QString& name) {
    const QString location = deviceLocation(name);
    const QString real = QFileInfo(location).canonicalFilePath();
    return real.isEmpty() ? location : real;
}

QString inUseByAnother(const QString& device) {
    const QString holder = lockHolder(device);
    return holder.isEmpty()
               ? QStringLiteral("the port is in use by another program (it holds %1)").arg(device)
               : QStringLiteral("the port is in use by another program (%1)").arg(holder);
}

// The reason for a refused open, in terms of its real cause. QSerialPort reports a lock held by
// another program as a permission error; whether we may use the device at all tells them apart.
QString openFailure(const QString& name, QSerialPort::SerialPortError error,
                    const QString& qtReason) {
    if (name.isEmpty()) return qtReason;
    const QString location = deviceLocation(name);
    if (!QFileInfo::exists(location)) {
        if (name.startsWith(QLatin1Char('/')))
            return QStringLiteral("no such device \"%1\"").arg(location);
        if (location != name)
            return QStringLiteral("no such device \"%1\" (a name that does not start with "
                                  "\"/\", \"./\" or \"../\" is looked for in /dev)")
                .arg(location);
        return QStringLiteral("no such device \"%1\" in the folder \"%2\"")
            .arg(location, QDir::currentPath());
    }
    if (error == QSerialPort::PermissionError) {
        if (::access(QFile::encodeName(location).constData(), R_OK | W_OK) != 0)
            return QStringLiteral("permission denied for %1").arg(location);
        // We may read and write the device, so the refusal is a hold on it: another program's
        // lock file, the exclusive mode a program sets on a port it has open, or a lock file
        // that could not be made.
        if (const QString holder = lockHolder(resolvedDevice(name)); !holder.isEmpty())
            return QStringLiteral("the port is in use by another program (%1)").arg(holder);
        if (qtReason.contains(QLatin1String("lock"), Qt::CaseInsensitive))
            // Worded so that the advice added to it is the general one, not "close the program".
            return QStringLiteral("no other program holds the port, but the file that reserves "
                                  "it for this program (LCK..%1) could not be created; check "
                                  "that the system's folder for such files is writable and not "
                                  "full, and that no file size limit is set")
                .arg(QFileInfo(location).fileName());
        return QStringLiteral("the device is busy: it is in use by another program, which has "
                              "it open for its own use");
    }
    return qtReason;
}
#endif

} // namespace

QtSerialPort::QtSerialPort(QObject* parent) : SerialPort(parent), port_(new QSerialPort(this)) {
    connect(port_, &QSerialPort::readyRead, this, &SerialPort::received);
    connect(port_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A USB adapter that is unplugged reports a resource error; a terminal whose other end
        // went away reports read errors first, over and over. Either way the port is gone for
        // good, and keeping it open would spin on the errors.
        if ((e == QSerialPort::ResourceError || e == QSerialPort::ReadError) && port_->isOpen()) {
            // After a hang-up the system's error text is left over from an earlier call.
            const QString reason = e == QSerialPort::ReadError
                                       ? QStringLiteral("the device hung up or was removed")
                                       : port_->errorString();
            restoreLowLatency();
            port_->close();
            releaseDevice();
            emit lost(reason);
        }
    });
}

QtSerialPort::~QtSerialPort() {
    releaseDevice();
}

void QtSerialPort::setPortName(const QString& name) {
    name_ = name;
    port_->setPortName(name);
}

QString QtSerialPort::portName() const {
    return name_;
}

void QtSerialPort::setSettings(const PortSettings& settings) {
    if (settings.baud > 0) baud_ = settings.baud;
}

bool QtSerialPort::holdDevice(QString* error) {
#ifdef Q_OS_UNIX
    // The device itself is taken, whatever name reached it, before anything is set or sent: a
    // second program (or a second window of this one) that comes by another name is refused
    // instead of mixing its bytes into a running session. An open that fails here is left to
    // QSerialPort, which reports it with its reason.
    const QString device = name_.isEmpty() ? name_ : resolvedDevice(name_);
    port_->setPortName(device); // its lock file and exclusive mode then belong to the device too
    if (device.isEmpty()) return true;
    held_ =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (held_ >= 0 && ::flock(held_, LOCK_EX | LOCK_NB) != 0) {
        releaseDevice();
        if (error) *error = inUseByAnother(device);
        return false;
    }
#else
    (void)error;
#endif
    return true;
}

void QtSerialPort::releaseDevice() {
#ifdef Q_OS_UNIX
    if (held_ >= 0) ::close(std::exchange(held_, -1));
#endif
}

bool QtSerialPort::open(QString* error) {
    if (!holdDevice(error)) return false;
    port_->setBaudRate(baud_);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
#ifdef Q_OS_UNIX
        if (error) *error = openFailure(name_, port_->error(), port_->errorString());
#else
        if (error) *error = port_->errorString();
#endif
        releaseDevice();
        return false;
    }
#ifdef Q_OS_UNIX
    // Others who are not privileged cannot open the device while it is ours. QSerialPort has no
    // call for the terminal's exclusive mode, nor for the low latency and the driver's output
    // queue below: those are the only uses of its handle; every byte goes through QSerialPort.
    (void)::ioctl(int(port_->handle()), TIOCEXCL);
#endif
    // The cable draws its power from DTR/RTS on many adapters; keep both raised.
    port_->setDataTerminalReady(true);
    port_->setRequestToSend(true);
    port_->clear(QSerialPort::AllDirections);
    requestLowLatency();
    return true;
}

void QtSerialPort::requestLowLatency() {
    lowLatency_ = LowLatency::Unsupported;
    lowLatencyChanged_ = false;
#ifdef Q_OS_LINUX
    // A port without this setting (a pseudo-terminal, some drivers) is used as it is.
    const int fd = int(port_->handle());
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return;
    if (!(info.flags & ASYNC_LOW_LATENCY)) {
        info.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &info) == 0) lowLatencyChanged_ = true;
    }
    serial_struct now{};
    if (::ioctl(fd, TIOCGSERIAL, &now) != 0) return;
    lowLatency_ = (now.flags & ASYNC_LOW_LATENCY) ? LowLatency::On : LowLatency::Off;
#endif
}

void QtSerialPort::restoreLowLatency() {
#ifdef Q_OS_LINUX
    // The driver keeps the flag after close: put back what the port had before this program.
    if (lowLatencyChanged_) {
        const int fd = int(port_->handle());
        serial_struct info{};
        if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
            info.flags &= ~ASYNC_LOW_LATENCY;
            (void)::ioctl(fd, TIOCSSERIAL, &info);
        }
    }
#endif
    lowLatencyChanged_ = false;
    lowLatency_ = LowLatency::Unsupported;
}

void QtSerialPort::close() {
    if (!port_->isOpen()) return;
    // The last request (the end-of-session message, the speed switch) must leave the wire
    // before the line is dropped and its settings put back.
    if (port_->bytesToWrite() > 0) port_->waitForBytesWritten(int(CloseDrain.count()));
#ifdef Q_OS_UNIX
    drainOutput(int(port_->handle()), CloseDrain);
#endif
    restoreLowLatency();
    port_->close();
    releaseDevice();
}

bool QtSerialPort::isOpen() const {
    return port_->isOpen();
}

void QtSerialPort::discard() {
    if (port_->isOpen()) {
        port_->clear(QSerialPort::Input);
        port_->readAll();
    }
}

qint64 QtSerialPort::bytesAvailable() const {
    return port_->bytesAvailable();
}

QByteArray QtSerialPort::read(qint64 maxBytes) {
    if (!port_->isOpen()) return {};
    return maxBytes <= 0 ? port_->readAll() : port_->read(maxBytes);
}

void QtSerialPort::write(const QByteArray& bytes) {
    if (!port_->isOpen()) return;
    port_->write(bytes);
    // No event loop hands the bytes on later: give them to the driver now, and wait (within a
    // bound) for whatever it could not take at once.
    port_->flush();
    if (port_->bytesToWrite() > 0) port_->waitForBytesWritten(int(WriteBound.count()));
}

bool QtSerialPort::waitForReadyRead(std::chrono::milliseconds timeout) {
    if (!port_->isOpen()) return false;
    if (port_->bytesAvailable() > 0) return true;
    const QDeadlineTimer deadline(timeout);
    // QSerialPort's wait also returns early without bytes (a signal interrupted it, the line only
    // became writable): wait again for the rest of the time. A device that went away closes the
    // port from the error handler inside the wait.
    while (port_->isOpen()) {
        if (port_->waitForReadyRead(int(deadline.remainingTime())) && port_->bytesAvailable() > 0)
            return true;
        if (deadline.hasExpired()) break;
    }
    return false;
}

} // namespace x45
