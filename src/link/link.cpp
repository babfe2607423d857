#include "link.h"

#include "protocol.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace x45 {

Link::Link(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    wireClock_.start();
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
        if (trace_) trace_->remark(QStringLiteral("port lost: ") + lostReason_);
    });
}

void Link::ResetReply() {
    Reply.Buffer.clear();
    Reply.Length = 0;
    Reply.Cmd = 0;
    Reply.State = Receiving;
    Reply.SubCmd = 0;
    completeAtNs_ = -1;
}

void Link::Com_OnComm() {
    if (ReadState != 1) return; // bytes stay in the port's buffer for the next exchange
    const QByteArray bytes = readPort();
    if (bytes.isEmpty()) return;
    for (const char c : bytes)
        feedByte(static_cast<quint8>(c));
    if (Reply.State == Complete && completeAtNs_ < 0) completeAtNs_ = wireClock_.nsecsElapsed();
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
    sentAtNs_ = wireClock_.nsecsElapsed(); // before the write: the wire cannot start earlier
    port_.write(frame);
    counters_.bytesSent += frame.size();
    if (trace_) trace_->sent(frame, syncing_);
    emit frameSent(frame);
}

void Link::writeRaw(const ByteStr& bytes, const QString& what) {
    port_.write(bytes);
    counters_.bytesSent += bytes.size();
    if (trace_) trace_->sent(bytes, false, what);
}

QByteArray Link::readPort() {
    QByteArray bytes = port_.read(0);
    counters_.bytesReceived += bytes.size();
    return bytes;
}

QByteArray Link::readRaw(qint64 maxBytes) {
    QByteArray bytes = port_.read(maxBytes);
    counters_.bytesReceived += bytes.size();
    return bytes;
}

ReplyRule BlockRequest::rule() const {
    ReplyRule r;
    r.cmd = proto::BlockCmd;
    r.sub = sub;
    r.noSuchBlock = noSuchBlock;
    r.minLength = minLength;
    r.minData = minData;
    r.maxData = maxData;
    return r;
}

TraceNote Link::judge(const ReplyRule& rule) const {
    const ReplyRecord& r = Reply;
    if (r.State == HeaderBad) return TraceNote::BadHeader;
    if (portLost()) return TraceNote::PortLost;
    if (r.State != Complete && (rule.complete || r.Buffer.isEmpty()))
        return r.Buffer.isEmpty() ? TraceNote::TimedOut : TraceNote::Cut;
    if (rule.wholeFrame) {
        // The frame's own integrity first: a damaged byte may be the one compared next.
        if (!proto::trailerRight(r.Buffer)) return TraceNote::BadTrailer;
        if (r.Buffer.size() > proto::frameEnd(r.Buffer)) return TraceNote::ExtraBytes;
    }
    if (r.Cmd != rule.cmd) return TraceNote::WrongCommand;
    // Every check above also guards the marker: a garbled reply that merely has 0x32 in its
    // fourth byte must not pass a block over silently.
    if (rule.noSuchBlock && r.SubCmd == proto::NoSuchBlock) return TraceNote::NoSuchBlock;
    if (rule.sub >= 0 && r.SubCmd != rule.sub) return TraceNote::WrongSub;
    const int data = r.Length - 2;
    if (r.Length < rule.minLength || data < rule.minData ||
        (rule.maxData >= 0 && data > rule.maxData) || r.Buffer.size() < rule.minSize)
        return TraceNote::WrongLength;
    if (!r.Buffer.endsWith(rule.tail)) return TraceNote::Refused;
    if (rule.inTime && TimedOut) return TraceNote::TimedOut; // came in while the time ran out
    return TraceNote::Accepted;
}

Status Link::failure(TraceNote note) const {
    const QString why = LinkTrace::noteText(note);
    switch (note) {
    case TraceNote::NoSuchBlock:
        return Status::fail(ErrorKind::NoSuchBlock, why);
    case TraceNote::PortLost:
        return Status::fail(ErrorKind::PortLost, lostReason_);
    case TraceNote::TimedOut:
    case TraceNote::Cut:
        return Status::fail(ErrorKind::NoReply, why);
    default:
        return Status::fail(ErrorKind::Refused, why);
    }
}

Result<ByteStr> Link::query(const Query& q) {
    SendFrame(q.frame);
    WaitReply(q.timeout, q.hold);
    const TraceNote note = judge(q.rule);
    traceIn(Reply.Buffer, note);
    if (note != TraceNote::Accepted) return failure(note);
    return Reply.Buffer;
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
    timer_.start(scaled(timeout));
    idle_.setInterval(scaled(timeout));
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
    timer_.start(scaled(duration));
    while (!TimedOut && !portLost())
        yieldOnce();
    timer_.stop();
}

bool Link::cameTooSoon(qsizetype requestBytes) const {
    const qint32 baud = port_.baudRate();
    if (!port_.keepsWireTime() || baud <= 0 || completeAtNs_ < 0) return false;
    constexpr qint64 BitsPerByte = 10; // start bit, 8 data bits, stop bit
    const qint64 bytes = requestBytes + Reply.Buffer.size();
    return (completeAtNs_ - sentAtNs_) * baud < bytes * BitsPerByte * 1'000'000'000;
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
