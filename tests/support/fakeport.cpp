#include "fakeport.h"

#include <QTimer>

namespace x45::test {

void FakePort::deliver(const QByteArray& bytes, int delayMs) {
    const quint64 gen = generation_;
    ++inFlight_;
    // Precise: a coarse timer may fire a little late, and a reply due a millisecond after
    // another would then overtake it, which no wire does.
    QTimer::singleShot(delayMs, Qt::PreciseTimer, this, [this, bytes, gen] {
        --inFlight_;
        if (!open_ || gen != generation_) return; // a closed port receives nothing
        rx_.append(bytes);
        emit received();
    });
}

void FakePort::play(const Script& script) {
    int at = 0;
    for (const Chunk& c : script) {
        at += c.delayMs;
        deliver(c.bytes, at);
    }
}

void FakePort::unplug(const QString& reason, int delayMs) {
    QTimer::singleShot(delayMs, this, [this, reason] {
        open_ = false;
        ++generation_;
        rx_.clear();
        emit lost(reason);
    });
}

QByteArray FakePort::allWritten() const {
    QByteArray out;
    for (const QByteArray& w : writes)
        out.append(w);
    return out;
}

void FakePort::setSettings(const QString& settings) {
    settingsHistory << settings;
    if (const qint32 baud = baudOfSettings(settings); baud > 0) baud_ = baud;
}

bool FakePort::open(QString* error) {
    if (!openFailure_.isEmpty()) {
        if (error) *error = openFailure_;
        openFailure_.clear();
        return false;
    }
    ++opens;
    open_ = true;
    rx_.clear();
    return true;
}

void FakePort::close() {
    if (!open_) return;
    ++closes;
    open_ = false;
    ++generation_;
    rx_.clear();
}

void FakePort::discard() {
    ++discards;
    rx_.clear();
}

QByteArray FakePort::read(qint64 maxBytes) {
    if (maxBytes <= 0 || maxBytes >= rx_.size()) {
        QByteArray all;
        all.swap(rx_);
        return all;
    }
    QByteArray part = rx_.left(maxBytes);
    rx_.remove(0, maxBytes);
    return part;
}

void FakePort::write(const QByteArray& bytes) {
    if (!open_) return;
    writes << bytes;
    writeBauds << baud_;
    if (!scripts_.empty()) {
        Script s = std::move(scripts_.front());
        scripts_.pop_front();
        play(s);
    } else if (onWrite) {
        onWrite(bytes);
    }
}

} // namespace x45::test
