#pragma once
// The small port interface the link layer talks to. One object owns the device; received bytes
// reach the rest of the program through the received() signal.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace x45 {

class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    // Device to open: a name as the system reports it ("ttyUSB0", "COM3") or a path.
    virtual void setPortName(const QString& name) = 0;
    [[nodiscard]] virtual QString portName() const = 0;

    // "57600,n,8,1": only the speed varies; 8 data bits, no parity, 1 stop bit otherwise.
    virtual void setSettings(const QString& settings) = 0;
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

    // True when bytes take their time on the line, as on a cable (and from a simulated phone
    // that keeps that time): a reply then never arrives complete sooner than its request and
    // itself take on the wire. Ports that hand replies over at once say false.
    [[nodiscard]] virtual bool keepsWireTime() const { return false; }

signals:
    // Bytes have arrived.
    void received();
    // The device went away (cable pulled, adapter unplugged); the port is unusable.
    void lost(const QString& reason);
};

// Parses the speed out of a settings text; 0 when it has none.
[[nodiscard]] qint32 baudOfSettings(const QString& settings);

} // namespace x45
