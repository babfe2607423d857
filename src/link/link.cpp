#include "link.h"

#include "protocol.h"

#include <optional>

namespace x45 {

namespace {
using Clock = SerialPort::Clock;

// The time left until `until`, rounded up so that a wait for it never ends short of it.
std::chrono::milliseconds leftUntil(Clock::time_point now, Clock::time_point until) {
    return std::chrono::ceil<std::chrono::milliseconds>(until - now);
}
} // namespace

Link::Link(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    wireClock_.start();
    // Direct: the port tells inside the wait that found it out, on the thread that runs the
    // link, wherever the link object was made.
    connect(
        &port_, &SerialPort::lost, this,
        [this](const QString& reason) {
            lostReason_ = reason.isEmpty() ? QStringLiteral("the device went away") : reason;
            if (trace_) trace_->remark(QStringLiteral("port lost: ") + lostReason_);
        },
        Qt::DirectConnection);
}

void Link::ResetReply() {
    Reply.Buffer.clear();
    Reply.Length = 0;
    Reply.Cmd = 0;
    Reply.State = Receiving;
    Reply.SubCmd = 0;
    completeAtNs_ = -1;
}

bool Link::takeReceived() {
    const QByteArray bytes = readPort();
    if (bytes.isEmpty()) return false;
    for (const char c : bytes)
        feedByte(static_cast<quint8>(c));
    if (Reply.State == Complete && completeAtNs_ < 0) completeAtNs_ = wireClock_.nsecsElapsed();
    return true;
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
    if (r.Length < rule.minLength || (rule.minData > 0 && data < rule.minData) ||
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

bool Link::waitOnPort(Clock::time_point now, Clock::time_point until) {
    if (port_.waitForReadyRead(leftUntil(now, until))) return true;
    // A port that says no at once without having gone away is closed: sleep instead of asking
    // it again and again.
    if (!portLost() && port_.now() < until) port_.sleepUntil(until);
    return false;
}

void Link::WaitReply(std::chrono::milliseconds timeout, int holdCount) {
    ResetReply();
    waitMore(timeout, holdCount);
}

void Link::waitMore(std::chrono::milliseconds timeout, int holdCount) {
    ReadState = 1;
    TimedOut = false;
    const std::chrono::milliseconds limit = scaled(timeout);
    const Clock::time_point deadline = port_.now() + limit;
    std::optional<Clock::time_point> stallAt; // the last bytes came `limit` before it
    // Bytes that came while nobody waited are the start of this reply.
    if (port_.bytesAvailable() > 0 && takeReceived()) stallAt = port_.now() + limit;
    while (Reply.State == Receiving && !portLost()) {
        const Clock::time_point now = port_.now();
        if (now >= deadline) TimedOut = true;
        const bool held = Reply.Buffer.size() >= holdCount;
        if (TimedOut && !held) break;
        if (held && stallAt && now >= *stallAt) {
            TimedOut = true; // a reply that stalled half-way counts as no reply
            break;
        }
        Clock::time_point until = deadline;
        if (held && stallAt)
            until = TimedOut ? *stallAt : std::min(deadline, *stallAt);
        else if (TimedOut)
            break; // held without a byte: a hold count below one
        if (!waitOnPort(now, until)) continue;
        if (port_.now() >= deadline) TimedOut = true; // the time ran out before the bytes came
        if (takeReceived()) stallAt = port_.now() + limit;
    }
    if (portLost() && Reply.State == Receiving) TimedOut = true;
    ReadState = 0;
}

void Link::Pause(std::chrono::milliseconds duration) {
    TimedOut = false;
    const Clock::time_point end = port_.now() + scaled(duration);
    // Waiting on the port while it holds nothing notices a port that goes away; once bytes are
    // there, the rest is slept, and they stay for whoever reads next.
    for (Clock::time_point now = port_.now(); now < end && !portLost(); now = port_.now()) {
        if (port_.bytesAvailable() > 0)
            port_.sleepUntil(end);
        else
            (void)waitOnPort(now, end);
    }
    TimedOut = port_.now() >= end;
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
