#pragma once
// Serial ports inside the process. What such a port receives is scheduled with the time it is due
// and arrives when a wait, a count or a read finds it due, as bytes reach a driver's buffer: no
// timer and no event loop runs behind the user's back. SimPort wires one to a SimPhone.

#include "simphone.h"

#include <link/serialport.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace x45sim {

// The receiving side every in-process port shares. The port is used from one thread; deliver()
// and unplug() may also come from another one, and wake a wait that is under way.
class QueuedPort : public x45::SerialPort {
    Q_OBJECT
public:
    // Time that passes only when a wait or a sleep moves it there: waits end at once at their
    // next event, so that long time-outs take no time (fuzzing).
    struct VirtualClock {
        Clock::time_point now{};
    };

    using x45::SerialPort::SerialPort;
    // nullptr (the default): steady time. Set it before the port is used.
    void setVirtualClock(VirtualClock* clock) { virtual_ = clock; }

    // Bytes that arrive after delay (at `at`); a port closed meanwhile never gets them.
    void deliver(const QByteArray& bytes, std::chrono::milliseconds delay = {});
    void deliverAt(const QByteArray& bytes, Clock::time_point at);
    // The device goes away after delay: the port closes and lost(reason) is emitted by the call
    // that finds it out. Only an open port can go away.
    void unplug(const QString& reason = QStringLiteral("The device was removed."),
                std::chrono::milliseconds delay = {});
    // Bytes scheduled that have not arrived yet, and when the last of them is due (now when none
    // is on its way).
    [[nodiscard]] int inFlight() const;
    [[nodiscard]] Clock::time_point busyUntil() const;

    [[nodiscard]] bool isOpen() const override;
    void discard() override;
    [[nodiscard]] qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxBytes) override;
    bool waitForReadyRead(std::chrono::milliseconds timeout) override;
    [[nodiscard]] Clock::time_point now() const override;
    void sleepUntil(Clock::time_point until) override;

protected:
    // Opened: the receive buffer starts empty. Closed: what is on its way is dropped.
    void openLine();
    void closeLine();

private:
    struct Due {
        Clock::time_point at;
        QByteArray bytes;
        std::optional<QString> loss; // set: the device goes away at `at`
        quint64 generation = 0;      // bytes sent to an earlier opening are dropped
    };
    void schedule(Due due);
    // Moves what is due into the receive buffer and carries out a due loss, then emits.
    void arrive() const;
    [[nodiscard]] Clock::time_point nowLocked() const;

    mutable std::mutex mutex_;
    std::condition_variable scheduled_;
    mutable std::deque<Due> due_; // by time; equal times in the order they were scheduled
    mutable QByteArray rx_;
    mutable bool open_ = false;
    mutable quint64 generation_ = 0;
    VirtualClock* virtual_ = nullptr;
};

// The simulated phone on an in-process port: what the tool writes goes to the phone together with
// the port's speed, and the phone's answers arrive after the delays it gives them, each counted
// from the one before (a phone answers in order).
class SimPort final : public QueuedPort {
    Q_OBJECT
public:
    explicit SimPort(SimPhone& phone, QObject* parent = nullptr);

    void setPortName(const QString& name) override { name_ = name; }
    [[nodiscard]] QString portName() const override { return name_; }
    // The speed takes effect at the next open, as with a real port.
    void setSettings(const x45::PortSettings& settings) override;
    [[nodiscard]] qint32 baudRate() const override { return baud_; }
    bool open(QString* error) override;
    void close() override;
    void write(const QByteArray& bytes) override;

    // The next open() fails with this reason (an empty reason lets it succeed again).
    void failOpen(const QString& reason) { failOpen_ = reason; }
    // Called with every write once the phone has it (a test pulls the cable at a chosen request).
    std::function<void(const QByteArray& written)> onWrite;

    [[nodiscard]] SimPhone& phone() const { return phone_; }
    // The speed the line runs at while open.
    [[nodiscard]] qint32 lineSpeed() const { return lineBaud_; }
    // Everything written while open, in order.
    [[nodiscard]] const QByteArray& written() const { return written_; }

private:
    SimPhone& phone_;
    QString name_ = QStringLiteral("sim");
    qint32 baud_ = SimPhone::BootSpeed;     // from the settings
    qint32 lineBaud_ = SimPhone::BootSpeed; // fixed when the port opens
    QString failOpen_;
    QByteArray written_;
};

} // namespace x45sim
