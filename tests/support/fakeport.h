#pragma once
// A scripted serial port for unit tests of the link and the session: records every write and the
// speed it went out at, and has queued reply chunks arrive after their delays (an in-process
// port: they arrive when a wait, a count or a read finds them due).

#include "simport.h"

#include <QByteArray>
#include <QList>
#include <deque>
#include <functional>
#include <vector>

namespace x45::test {

class FakePort final : public x45sim::QueuedPort {
    Q_OBJECT
public:
    struct Chunk {
        QByteArray bytes;
        int delayMs = 0; // after the previous chunk of the same script (or after the write)
    };
    using Script = std::vector<Chunk>;

    explicit FakePort(QObject* parent = nullptr) : QueuedPort(parent) {}

    // --- scripting ---
    // Bytes that arrive after delayMs, independent of any write.
    using QueuedPort::deliver;
    void deliver(const QByteArray& bytes, int delayMs) {
        deliver(bytes, std::chrono::milliseconds(delayMs));
    }
    // Bytes that are waiting in the receive buffer already.
    void preload(const QByteArray& bytes) { deliver(bytes); }
    // The next write is answered with this script; scripts are used one per write, in order.
    void replyNext(Script script) { scripts_.push_back(std::move(script)); }
    void replyNext(const QByteArray& bytes, int delayMs = 0) {
        replyNext(Script{{bytes, delayMs}});
    }
    // An empty script: the next write gets no answer.
    void silentNext() { replyNext(Script{}); }
    // Called for every write when no script is queued (may call deliver()).
    std::function<void(const QByteArray& written)> onWrite;
    // Whether the port says it keeps wire time (a reply then never completes sooner than the
    // request and the reply take on the wire).
    bool wireTime = false;
    // The next open fails with this reason.
    void failOpen(const QString& reason) { openFailure_ = reason; }
    // The device goes away after delayMs.
    void unplug(const QString& reason, int delayMs = 0) {
        QueuedPort::unplug(reason, std::chrono::milliseconds(delayMs));
    }

    // --- records ---
    QList<QByteArray> writes;
    QList<qint32> writeBauds; // the speed each write went out at
    [[nodiscard]] QByteArray allWritten() const { return writes.join(); }

    // --- SerialPort ---
    void setPortName(const QString& name) override { name_ = name; }
    [[nodiscard]] QString portName() const override { return name_; }
    void setSettings(const PortSettings& settings) override { baud_ = settings.baud; }
    [[nodiscard]] qint32 baudRate() const override { return baud_; }
    bool open(QString* error) override;
    void close() override { closeLine(); }
    void write(const QByteArray& bytes) override;
    [[nodiscard]] bool keepsWireTime() const override { return wireTime; }

private:
    QString name_ = QStringLiteral("/dev/ttyFAKE0");
    qint32 baud_ = 57600;
    QString openFailure_;
    std::deque<Script> scripts_;
};

} // namespace x45::test
