#include "simport.h"

namespace x45sim {

SimPort::SimPort(SimPhone& phone, QObject* parent) : x45::SerialPort(parent), phone_(phone) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &SimPort::deliverNext);
}

void SimPort::setSettings(const QString& settings) {
    if (const qint32 baud = x45::baudOfSettings(settings); baud > 0) baud_ = baud;
}

bool SimPort::open(QString* error) {
    if (!failOpen_.isEmpty()) {
        if (error) *error = failOpen_;
        return false;
    }
    if (open_) {
        if (error) *error = QStringLiteral("The port is already open.");
        return false;
    }
    open_ = true;
    lineBaud_ = baud_;
    rx_.clear();
    return true;
}

void SimPort::close() {
    open_ = false;
    rx_.clear();
    // Answers still on the wire are lost with the closed port; the phone does not notice.
    queue_.clear();
    timer_.stop();
}

QByteArray SimPort::read(qint64 maxBytes) {
    const qint64 n = maxBytes <= 0 ? rx_.size() : qMin<qint64>(maxBytes, rx_.size());
    QByteArray out = rx_.left(n);
    rx_.remove(0, n);
    return out;
}

void SimPort::write(const QByteArray& bytes) {
    if (!open_ || bytes.isEmpty()) return;
    written_.append(bytes);
    for (Emission& e : phone_.receive(bytes, lineBaud_))
        queue_.push_back(std::move(e));
    schedule();
}

void SimPort::schedule() {
    if (!queue_.empty() && !timer_.isActive()) timer_.start(queue_.front().delay);
}

void SimPort::deliverNext() {
    if (queue_.empty() || !open_) return;
    rx_.append(queue_.front().bytes);
    queue_.pop_front();
    schedule();
    emit received();
}

void SimPort::unplug(const QString& reason) {
    if (!open_) return;
    close();
    emit lost(reason);
}

} // namespace x45sim
