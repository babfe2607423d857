#pragma once
// A scripted serial port for unit tests of the link and the session: records every write and the
// port's settings, and delivers queued reply chunks asynchronously (through the event loop, as a
// real port does), optionally after a delay.

#include "link/serialport.h"

#include <QByteArray>
#include <QList>
#include <deque>
#include <functional>
#include <vector>

namespace x45::test {

class FakePort final : public SerialPort {
    Q_OBJECT
public:
    struct Chunk {
        QByteArray bytes;
        int delayMs = 0; // after the previous chunk of the same script (or after the write)
    };
    using Script = std::vector<Chunk>;

    explicit FakePort(QObject* parent = nullptr) : SerialPort(parent) {}

    // --- scripting ---
    // Bytes that arrive after delayMs, independent of any write.
    void deliver(const QByteArray& bytes, int delayMs = 0);
    // Bytes that are waiting in the receive buffer already (no receive event).
    void preload(const QByteArray& bytes) { rx_.append(bytes); }
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
    // The device goes away after delayMs: closed, lost() emitted.
    void unplug(const QString& reason, int delayMs = 0);

    // --- records ---
    QList<QByteArray> writes;
    QList<qint32> writeBauds; // the speed each write went out at
    QStringList settingsHistory;
    int opens = 0;
    int closes = 0;
    int discards = 0;
    [[nodiscard]] QByteArray allWritten() const;
    [[nodiscard]] qsizetype pendingScripts() const { return qsizetype(scripts_.size()); }
    // Bytes given to deliver() that have not arrived yet.
    [[nodiscard]] int inFlight() const { return inFlight_; }

    // --- SerialPort ---
    void setPortName(const QString& name) override { name_ = name; }
    [[nodiscard]] QString portName() const override { return name_; }
    void setSettings(const QString& settings) override;
    [[nodiscard]] qint32 baudRate() const override { return baud_; }
    bool open(QString* error) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return open_; }
    void discard() override;
    [[nodiscard]] qint64 bytesAvailable() const override { return rx_.size(); }
    QByteArray read(qint64 maxBytes) override;
    void write(const QByteArray& bytes) override;
    [[nodiscard]] bool keepsWireTime() const override { return wireTime; }

private:
    void play(const Script& script);

    QString name_ = QStringLiteral("/dev/ttyFAKE0");
    qint32 baud_ = 57600;
    bool open_ = false;
    QString openFailure_;
    QByteArray rx_;
    std::deque<Script> scripts_;
    quint64 generation_ = 0; // bumped on close so that bytes in flight are dropped
    int inFlight_ = 0;
};

} // namespace x45::test
