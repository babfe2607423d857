#include "qtserialport.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>
#include <chrono>
#ifdef Q_OS_UNIX
#include <cerrno>
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

#ifdef Q_OS_UNIX
// Writes what the driver takes at once; returns how many bytes that was.
qsizetype writeDirect(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // driver full or an error: QSerialPort takes the rest and reports failures
    }
    return done;
}

// Waits, within a bound, until the driver has sent what it was given.
void drainOutput(int fd, std::chrono::milliseconds bound) {
    const QDeadlineTimer deadline(bound);
    int pending = 0;
    while (::ioctl(fd, TIOCOUTQ, &pending) == 0 && pending > 0 && !deadline.hasExpired())
        QThread::msleep(static_cast<unsigned long>(DrainPoll.count()));
}
#endif
} // namespace

qint32 baudOfSettings(const QString& settings) {
    bool ok = false;
    const qint32 baud = settings.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    return ok ? baud : 0;
}

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
            emit lost(reason);
        }
    });
}

QtSerialPort::~QtSerialPort() = default;

void QtSerialPort::setPortName(const QString& name) {
    name_ = name;
    port_->setPortName(name);
}

QString QtSerialPort::portName() const {
    return name_;
}

void QtSerialPort::setSettings(const QString& settings) {
    if (const qint32 baud = baudOfSettings(settings); baud > 0) baud_ = baud;
}

bool QtSerialPort::open(QString* error) {
    port_->setBaudRate(baud_);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
        if (error) *error = port_->errorString();
        return false;
    }
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
    QByteArray rest = bytes;
#ifdef Q_OS_UNIX
    // QSerialPort queues every write and switches a write notifier on and off around it: two
    // wake-ups of the event loop and an extra turn of it per request, which delay the request
    // and cost CPU. The driver takes a request at once, so it gets it straight away; anything it
    // cannot take goes through QSerialPort, behind which nothing may overtake.
    if (port_->bytesToWrite() == 0) rest.remove(0, writeDirect(int(port_->handle()), bytes));
    if (rest.isEmpty()) return;
#endif
    port_->write(rest);
    // Hand the bytes to the driver now rather than at the next turn of the event loop.
    port_->flush();
}

} // namespace x45
