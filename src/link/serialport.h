#pragma once
// The small port interface the link layer talks to. One object owns the device and is used from
// one thread; the link waits for bytes by blocking in waitForReadyRead, never through an event
// loop.

#include "portsettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <thread>

namespace x45 {

class SerialPort : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    using QObject::QObject;
    ~SerialPort() override = default;

    // Device to open: a name as the system reports it ("ttyUSB0", "COM3") or a path.
    virtual void setPortName(const QString& name) = 0;
    [[nodiscard]] virtual QString portName() const = 0;

    // Takes effect at the next open.
    virtual void setSettings(const PortSettings& settings) = 0;
    [[nodiscard]] virtual qint32 baudRate() const = 0;

    // On failure returns false and sets *error to the system's reason.
    virtual bool open(QString* error) = 0;
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;

    // Drops whatever the receive buffer holds.
    virtual void discard() = 0;
    [[nodiscard]] virtual qint64 bytesAvailable() const = 0;
    // At most maxBytes bytes (all waiting bytes when maxBytes <= 0); empty when nothing came.
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual void write(const QByteArray& bytes) = 0;

    // Blocks until bytes are available: true as soon as there are (at once when some are
    // already), false when the time-out passes first or the port went away (lost() was emitted
    // by then). What arrives stays in the port until it is read.
    virtual bool waitForReadyRead(std::chrono::milliseconds timeout) = 0;

    // The clock the port's waits run on, and a plain sleep on it that leaves arriving bytes in
    // the port. Steady time; an in-process port may run its own time (a fuzzer's virtual clock),
    // so that the link's deadlines and the port's deliveries agree.
    [[nodiscard]] virtual Clock::time_point now() const { return Clock::now(); }
    virtual void sleepUntil(Clock::time_point until) { std::this_thread::sleep_until(until); }

    // True when bytes take their time on the line, as on a cable (and from a simulated phone
    // that keeps that time): a reply then never arrives complete sooner than its request and
    // itself take on the wire. Ports that hand replies over at once say false.
    [[nodiscard]] virtual bool keepsWireTime() const { return false; }

signals:
    // Bytes have arrived in the port (emitted on the thread that uses the port), for observers
    // such as benchmarks; the link itself reads after its waits.
    void received();
    // The device went away (cable pulled, adapter unplugged); the port is unusable. Emitted on
    // the thread that uses the port, inside the call that found it out.
    void lost(const QString& reason);
};

} // namespace x45
