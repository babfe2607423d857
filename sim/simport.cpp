#include "simport.h"

#include <algorithm>

namespace x45sim {

// ---- QueuedPort ----

x45::SerialPort::Clock::time_point QueuedPort::nowLocked() const {
    return virtual_ ? virtual_->now : Clock::now();
}

x45::SerialPort::Clock::time_point QueuedPort::now() const {
    const std::lock_guard lock(mutex_);
    return nowLocked();
}

void QueuedPort::sleepUntil(Clock::time_point until) {
    if (!virtual_) {
        std::this_thread::sleep_until(until);
        return;
    }
    const std::lock_guard lock(mutex_);
    virtual_->now = std::max(virtual_->now, until);
}

void QueuedPort::schedule(Due due) {
    {
        const std::lock_guard lock(mutex_);
        const auto after = std::upper_bound(due_.begin(), due_.end(), due.at,
                                            [](auto at, const Due& d) { return at < d.at; });
        due_.insert(after, std::move(due));
    }
    scheduled_.notify_all();
}

void QueuedPort::deliverAt(const QByteArray& bytes, Clock::time_point at) {
    quint64 generation = 0;
    {
        const std::lock_guard lock(mutex_);
        generation = generation_;
    }
    schedule({at, bytes, std::nullopt, generation});
}

void QueuedPort::deliver(const QByteArray& bytes, std::chrono::milliseconds delay) {
    deliverAt(bytes, now() + delay);
}

void QueuedPort::unplug(const QString& reason, std::chrono::milliseconds delay) {
    schedule({now() + delay, {}, reason, 0});
}

int QueuedPort::inFlight() const {
    const std::lock_guard lock(mutex_);
    return int(std::count_if(due_.begin(), due_.end(), [](const Due& d) { return !d.loss; }));
}

x45::SerialPort::Clock::time_point QueuedPort::busyUntil() const {
    const std::lock_guard lock(mutex_);
    Clock::time_point last = nowLocked();
    for (const Due& d : due_)
        if (!d.loss) last = std::max(last, d.at);
    return last;
}

void QueuedPort::arrive() const {
    bool received = false;
    std::optional<QString> lost;
    {
        const std::lock_guard lock(mutex_);
        const Clock::time_point now = nowLocked();
        while (!due_.empty() && due_.front().at <= now) {
            Due d = std::move(due_.front());
            due_.pop_front();
            if (d.loss && open_) {
                open_ = false;
                ++generation_;
                rx_.clear();
                received = false;
                lost = d.loss;
            } else if (!d.loss && open_ && d.generation == generation_) {
                rx_ += d.bytes;
                received = true;
            }
        }
    }
    // Signals are not const; they go out on the thread that made the call, with no lock held.
    auto* self = const_cast<QueuedPort*>(this);
    if (lost) emit self->lost(*lost);
    if (received) emit self->received();
}

bool QueuedPort::isOpen() const {
    arrive();
    const std::lock_guard lock(mutex_);
    return open_;
}

void QueuedPort::discard() {
    arrive();
    const std::lock_guard lock(mutex_);
    rx_.clear();
}

qint64 QueuedPort::bytesAvailable() const {
    arrive();
    const std::lock_guard lock(mutex_);
    return rx_.size();
}

QByteArray QueuedPort::read(qint64 maxBytes) {
    arrive();
    const std::lock_guard lock(mutex_);
    const qint64 n = maxBytes <= 0 ? rx_.size() : std::min<qint64>(maxBytes, rx_.size());
    QByteArray out = rx_.left(n);
    rx_.remove(0, n);
    return out;
}

bool QueuedPort::waitForReadyRead(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = now() + timeout;
    for (;;) {
        arrive();
        std::unique_lock lock(mutex_);
        if (!rx_.isEmpty()) return true;
        const Clock::time_point now = nowLocked();
        if (!open_ || now >= deadline) return false;
        const Clock::time_point until =
            due_.empty() ? deadline : std::min(deadline, due_.front().at);
        if (virtual_)
            virtual_->now = std::max(now, until);
        else
            scheduled_.wait_until(lock, until); // or until deliver() or unplug() comes
    }
}

void QueuedPort::openLine() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    rx_.clear();
}

void QueuedPort::closeLine() {
    const std::lock_guard lock(mutex_);
    open_ = false;
    ++generation_;
    rx_.clear();
}

// ---- SimPort ----

SimPort::SimPort(SimPhone& phone, QObject* parent) : QueuedPort(parent), phone_(phone) {}

void SimPort::setSettings(const x45::PortSettings& settings) {
    if (settings.baud > 0) baud_ = settings.baud;
}

bool SimPort::open(QString* error) {
    if (!failOpen_.isEmpty()) {
        if (error) *error = failOpen_;
        return false;
    }
    if (isOpen()) {
        if (error) *error = QStringLiteral("The port is already open.");
        return false;
    }
    lineBaud_ = baud_;
    openLine();
    return true;
}

void SimPort::close() {
    // Answers still on the wire are lost with the closed port; the phone does not notice.
    closeLine();
}

void SimPort::write(const QByteArray& bytes) {
    if (!isOpen() || bytes.isEmpty()) return;
    written_.append(bytes);
    Clock::time_point at = busyUntil();
    for (const Emission& e : phone_.receive(bytes, lineBaud_)) {
        at += e.delay;
        deliverAt(e.bytes, at);
    }
    if (onWrite) onWrite(bytes);
}

} // namespace x45sim
