#include "link.h"

#include "protocol.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace x45 {

Link::Link(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    timer_.setSingleShot(true);
    idle_.setSingleShot(true);
    // Coarse timers may fire up to 5% early; reply time-outs are short enough for that to matter.
    timer_.setTimerType(Qt::PreciseTimer);
    idle_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { TimedOut = true; });
    connect(&idle_, &QTimer::timeout, this, [this] { idleExpired_ = true; });
    connect(&port_, &SerialPort::received, this, &Link::Com_OnComm);
    connect(&port_, &SerialPort::lost, this, [this](const QString& reason) {
        lostReason_ = reason.isEmpty() ? QStringLiteral("the device went away") : reason;
    });
}

void Link::ResetReply() {
    Reply.Buffer.clear();
    Reply.Length = 0;
    Reply.Cmd = 0;
    Reply.State = Receiving;
    Reply.SubCmd = 0;
}

void Link::Com_OnComm() {
    if (ReadState != 1) return; // bytes stay in the port's buffer for the next exchange
    const QByteArray bytes = port_.read(0);
    if (bytes.isEmpty()) return;
    for (const char c : bytes)
        feedByte(static_cast<quint8>(c));
    idleExpired_ = false;
    idle_.start();
}

void Link::feedByte(quint8 byte) {
    const qsizetype before = Reply.Buffer.size();
    switch (before) {
    case 0:
        Reply.Cmd = byte;
        break;
    case 1:
        Reply.Length = byte;
        break;
    case 2:
        if (byte != XorSum(Reply.Buffer)) Reply.State = HeaderBad;
        break;
    case 3:
        Reply.SubCmd = byte;
        break;
    default:
        break;
    }
    Reply.Buffer.append(static_cast<char>(byte));
    // Completion is looked at only from the fourth byte on, and never undone before the reset.
    // A failed header check is final: the rest of the same chunk must not turn it into a
    // complete reply.
    if (before >= 3 && Reply.State == Receiving && Reply.Buffer.size() - 3 == Reply.Length)
        Reply.State = Complete;
}

void Link::SendFrame(const ByteStr& frame) {
    port_.write(frame);
    emit frameSent(frame);
}

void Link::yieldOnce() {
    // Blocks until the next event (serial, timer, user) rather than spinning.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
}

void Link::WaitReply(std::chrono::milliseconds timeout, int holdCount) {
    ResetReply();
    waitMore(timeout, holdCount);
}

void Link::waitMore(std::chrono::milliseconds timeout, int holdCount) {
    ReadState = 1;
    TimedOut = false;
    idleExpired_ = false;
    timer_.start(timeout);
    idle_.setInterval(timeout);
    // Bytes that came while nobody waited are the start of this reply.
    if (port_.bytesAvailable() > 0) Com_OnComm();
    while (Reply.State == Receiving && !portLost()) {
        const bool held = Reply.Buffer.size() >= holdCount;
        if (TimedOut && !held) break;
        if (held && idleExpired_) {
            TimedOut = true; // a reply that stalled half-way counts as no reply
            break;
        }
        yieldOnce();
    }
    if (portLost() && Reply.State == Receiving) TimedOut = true;
    timer_.stop();
    idle_.stop();
    ReadState = 0;
}

void Link::Pause(std::chrono::milliseconds duration) {
    TimedOut = false;
    timer_.start(duration);
    while (!TimedOut && !portLost())
        yieldOnce();
    timer_.stop();
}

bool ReplyRecord::wholeFrame() const {
    const qsizetype end = qsizetype(Length) + 3;
    return State != HeaderBad && Buffer.size() == end &&
           byteAt(Buffer, end - 1) == XorSum(Buffer, end - 1);
}

bool Link::blockReplyAccepted(quint8 subCmd) const {
    return Reply.answers(proto::BlockCmd, subCmd) && Reply.wholeFrame();
}

ByteStr Link::frame(quint8 cmd, const ByteStr& payload) {
    ByteStr out;
    const auto length = static_cast<quint8>(payload.size());
    out.append(static_cast<char>(cmd));
    out.append(static_cast<char>(length));
    out.append(static_cast<char>(cmd ^ length));
    out.append(payload);
    return out;
}

ByteStr Link::blockFrame(quint8 subCmd, const ByteStr& args) {
    ByteStr payload;
    payload.append(static_cast<char>(subCmd));
    payload.append(args);
    payload.append('\0'); // room for the trailer, counted in Length
    ByteStr out = frame(proto::BlockCmd, payload);
    out.back() = static_cast<char>(XorSum(out, out.size() - 1));
    return out;
}

} // namespace x45
