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

void Link::resetReply() {
    reply_.Buffer.clear();
    reply_.Length = 0;
    reply_.Cmd = 0;
    reply_.State = Receiving;
    reply_.SubCmd = 0;
    completeAtNs_ = -1;
}

bool Link::takeReceived() {
    const QByteArray bytes = readPort();
    if (bytes.isEmpty()) return false;
    for (const char c : bytes)
        feedByte(static_cast<quint8>(c));
    if (reply_.State == Complete && completeAtNs_ < 0) completeAtNs_ = wireClock_.nsecsElapsed();
    return true;
}

void Link::feedByte(quint8 byte) {
    const qsizetype before = reply_.Buffer.size();
    switch (before) {
    case 0:
        reply_.Cmd = byte;
        break;
    case 1:
        reply_.Length = byte;
        break;
    case 2:
        if (byte != xorSum(reply_.Buffer)) reply_.State = HeaderBad;
        break;
    case 3:
        reply_.SubCmd = byte;
        break;
    default:
        break;
    }
    reply_.Buffer.append(static_cast<char>(byte));
    // Completion is looked at only from the fourth byte on, and never undone before the reset.
    // A failed header check is final: the rest of the same chunk must not turn it into a
    // complete reply.
    if (before >= 3 && reply_.State == Receiving && reply_.Buffer.size() - 3 == reply_.Length)
        reply_.State = Complete;
}

void Link::sendFrame(const ByteStr& frame) {
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

QString Link::lostMessage() const {
    const QString name = port_.portName();
    return QStringLiteral("The connection to the phone on %1 was lost: %2.\nCheck the cable and "
                          "the phone, then start a new session.")
        .arg(name.isEmpty() ? QStringLiteral("the serial port") : name, lostReason_);
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
    const ReplyRecord& r = reply_;
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
    if (rule.inTime && timedOut_) return TraceNote::TimedOut; // came in while the time ran out
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
    sendFrame(q.frame);
    waitReply(q.timeout, q.hold);
    const TraceNote note = judge(q.rule);
    traceIn(reply_.Buffer, note);
    if (note != TraceNote::Accepted) return failure(note);
    return reply_.Buffer;
}

bool Link::waitOnPort(Clock::time_point now, Clock::time_point until) {
    if (port_.waitForReadyRead(leftUntil(now, until))) return true;
    // A port that says no at once without having gone away is closed: sleep instead of asking
    // it again and again.
    if (!portLost() && port_.now() < until) port_.sleepUntil(until);
    return false;
}

void Link::waitReply(std::chrono::milliseconds timeout, int holdCount) {
    resetReply();
    waitMore(timeout, holdCount);
}

void Link::waitMore(std::chrono::milliseconds timeout, int holdCount) {
    waiting_ = true;
    timedOut_ = false;
    const std::chrono::milliseconds limit = scaled(timeout);
    const Clock::time_point deadline = port_.now() + limit;
    std::optional<Clock::time_point> stallAt; // the last bytes came `limit` before it
    // Bytes that came while nobody waited are the start of this reply.
    if (port_.bytesAvailable() > 0 && takeReceived()) stallAt = port_.now() + limit;
    while (reply_.State == Receiving && !portLost()) {
        const Clock::time_point now = port_.now();
        if (now >= deadline) timedOut_ = true;
        const bool held = reply_.Buffer.size() >= holdCount;
        if (timedOut_ && !held) break;
        if (held && stallAt && now >= *stallAt) {
            timedOut_ = true; // a reply that stalled half-way counts as no reply
            break;
        }
        Clock::time_point until = deadline;
        if (held && stallAt)
            until = timedOut_ ? *stallAt : std::min(deadline, *stallAt);
        else if (timedOut_)
            break; // held without a byte: a hold count below one
        if (!waitOnPort(now, until)) continue;
        if (port_.now() >= deadline) timedOut_ = true; // the time ran out before the bytes came
        if (takeReceived()) stallAt = port_.now() + limit;
    }
    if (portLost() && reply_.State == Receiving) timedOut_ = true;
    waiting_ = false;
}

void Link::pause(std::chrono::milliseconds duration) {
    timedOut_ = false;
    const Clock::time_point end = port_.now() + scaled(duration);
    // Waiting on the port while it holds nothing notices a port that goes away; once bytes are
    // there, the rest is slept, and they stay for whoever reads next.
    for (Clock::time_point now = port_.now(); now < end && !portLost(); now = port_.now()) {
        if (port_.bytesAvailable() > 0)
            port_.sleepUntil(end);
        else
            (void)waitOnPort(now, end);
    }
    timedOut_ = port_.now() >= end;
}

bool Link::cameTooSoon(qsizetype requestBytes) const {
    const qint32 baud = port_.baudRate();
    if (!port_.keepsWireTime() || baud <= 0 || completeAtNs_ < 0) return false;
    constexpr qint64 BitsPerByte = 10; // start bit, 8 data bits, stop bit
    const qint64 bytes = requestBytes + reply_.Buffer.size();
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
    out.back() = static_cast<char>(xorSum(out, out.size() - 1));
    return out;
}

} // namespace x45
