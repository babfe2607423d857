#pragma once
// An in-process serial port wired to a SimPhone: what the tool writes goes to the phone together
// with the port's speed, and the phone's answers arrive asynchronously through the event loop,
// as they would from a real device.

#include "simphone.h"

#include <link/serialport.h>

#include <QTimer>
#include <deque>

namespace x45sim {

class SimPort final : public x45::SerialPort {
    Q_OBJECT
public:
    explicit SimPort(SimPhone& phone, QObject* parent = nullptr);

    void setPortName(const QString& name) override { name_ = name; }
    [[nodiscard]] QString portName() const override { return name_; }
    // The speed takes effect at the next open, as with a real port.
    void setSettings(const QString& settings) override;
    [[nodiscard]] qint32 baudRate() const override { return baud_; }
    bool open(QString* error) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return open_; }
    void discard() override { rx_.clear(); }
    [[nodiscard]] qint64 bytesAvailable() const override { return rx_.size(); }
    QByteArray read(qint64 maxBytes) override;
    void write(const QByteArray& bytes) override;

    // The next open() fails with this reason (an empty reason lets it succeed again).
    void failOpen(const QString& reason) { failOpen_ = reason; }
    // The device disappears: the port closes and lost() is emitted.
    void unplug(const QString& reason = QStringLiteral("The device was removed."));

    [[nodiscard]] SimPhone& phone() const { return phone_; }
    // The speed the line runs at while open.
    [[nodiscard]] qint32 lineSpeed() const { return lineBaud_; }
    // Everything written while open, in order.
    [[nodiscard]] const QByteArray& written() const { return written_; }
    // Answers still on their way.
    [[nodiscard]] bool replyPending() const { return !queue_.empty(); }

private:
    void deliverNext();
    void schedule();

    SimPhone& phone_;
    QString name_ = QStringLiteral("sim");
    qint32 baud_ = SimPhone::BootSpeed;     // from the settings text
    qint32 lineBaud_ = SimPhone::BootSpeed; // fixed when the port opens
    bool open_ = false;
    QString failOpen_;
    QByteArray rx_;
    QByteArray written_;
    std::deque<Emission> queue_;
    QTimer timer_;
};

} // namespace x45sim
