#pragma once
// The link layer: the receive state machine that assembles reply frames, and the exchange (send a
// frame, wait for its reply with a time-out) on which every query is built.

#include "base/bytes.h"
#include "base/result.h"
#include "base/stoprequest.h"
#include "linktrace.h"
#include "serialport.h"

#include <QElapsedTimer>
#include <QObject>
#include <chrono>

namespace x45 {

enum ReplyState : quint8 { Receiving = 0, Complete = 1, HeaderBad = 2 };

// What a reply must be to be accepted: the one acceptance check, used by every exchange and by
// the trace's verdict.
struct ReplyRule {
    quint8 cmd = 0x14;
    int sub = -1;            // SubCmd the reply repeats; -1: not checked
    bool complete = true;    // the frame must have come whole (its Length of bytes)
    bool wholeFrame = true;  // exactly one frame whose trailer is the XOR of the bytes before it
    bool inTime = false;     // a reply that came while the time ran out is refused
    bool noSuchBlock = false; // a well-formed 0x32 reply is the answer "no such block"
    int minLength = 0;       // smallest Length holding the fields read (SubCmd .. trailer)
    int minData = 0;         // data bytes (Length - 2) the reply must carry at least
    int maxData = -1;        // and at most; -1: no limit
    qsizetype minSize = 0;   // bytes received in all
    QByteArray tail;         // the reply ends with these bytes
};

// One block-protocol request and the rules its reply must meet.
struct BlockRequest {
    ByteStr frame;
    quint8 sub = 0; // SubCmd an accepted reply repeats
    std::chrono::milliseconds timeout{1000};
    int hold = 1;
    bool interim = false;     // 0x50 means "still working": wait again without resending
    bool noSuchBlock = false; // a well-formed 0x32 reply ends the request
    int minLength = 2;        // smallest Length holding the fields read (SubCmd .. trailer)
    int minData = 0;          // data bytes (Length - 2) the reply must carry at least
    int maxData = -1;         // and at most; -1: no limit

    [[nodiscard]] ReplyRule rule() const;
};

// A query outside the block protocol (the start sequence's queries): one exchange, no attempts.
struct Query {
    ByteStr frame;
    ReplyRule rule;
    std::chrono::milliseconds timeout{1000};
    int hold = 1;
};

// What the link went through since it was made; a read compares them before and after to know
// whether it saw anything but clean exchanges.
struct LinkCounters {
    int requests = 0;       // block requests sent (syncs not included)
    int failedAttempts = 0; // attempts whose reply was missing or refused
    int syncs = 0;          // resynchronising queries sent
    int staleReplies = 0;   // frames or bytes dropped as belonging to an earlier request
    // Frames on the line beyond the replies asked for: each one dropped, or found behind a reply,
    // means the tool was one reply behind, so that many earlier replies may each have been taken
    // for the request after their own. Counted per frame (bytes that hold none count as one).
    int strayFrames = 0;
    int interims = 0;       // interim replies taken
    qint64 bytesSent = 0;     // every byte written to the port through the link
    qint64 bytesReceived = 0; // every byte read from it

    [[nodiscard]] int disturbances() const { return failedAttempts + syncs + staleReplies; }
};

// The reply being received: written only by the receive handler, reset by resetReply.
struct ReplyRecord {
    quint8 Cmd = 0;    // byte 0
    quint8 SubCmd = 0; // byte 3, the first payload byte
    qint16 Length = 0; // byte 1, payload length
    ByteStr Buffer;    // every byte received since the reset, header included
    quint8 State = Receiving;
};

class Link : public QObject {
    Q_OBJECT
public:
    explicit Link(SerialPort& port, QObject* parent = nullptr);

    [[nodiscard]] SerialPort& port() const { return port_; }

    // Writes a frame that gets no reply (the end of the session).
    void sendFrame(const ByteStr& frame);
    // Waits out the given time (the boot handshake's pauses), leaving what arrives in the port;
    // ends early only when the port goes away.
    void pause(std::chrono::milliseconds duration);

    // Every time-out and pause is multiplied by this; 1 on a real line. Tests run the protocol's
    // timing faster with it, so that a run with many lost replies takes seconds.
    void setTimeScale(double scale) { timeScale_ = scale; }

    // The port went away during the session (cable pulled); every further wait ends at once.
    [[nodiscard]] bool portLost() const { return !lostReason_.isEmpty(); }
    [[nodiscard]] QString lostReason() const { return lostReason_; }
    void clearLost() { lostReason_.clear(); }
    // What the person is told when the port went away: which port, why, and what to do.
    [[nodiscard]] QString lostMessage() const;
    // A freshly opened port: nothing from an earlier line can be pending.
    void resetStep() { needSync_ = false; }

    // The trace the link feeds with every frame both ways and its verdict; nullptr: none. The
    // trace must outlive the link or be unset first.
    void setTrace(LinkTrace* trace) { trace_ = trace; }
    [[nodiscard]] LinkTrace* trace() const { return trace_; }
    // Bytes outside any frame (the boot handshake's scan byte and image), named in the trace.
    void writeRaw(const ByteStr& bytes, const QString& what);
    // Whatever the port holds (at most maxBytes; all when <= 0), read outside an exchange.
    QByteArray readRaw(qint64 maxBytes = 0);
    // One query of the start sequence: sent, its reply awaited, judged and traced. The reply as
    // received, or why none was accepted: NoReply (nothing, cut, or late), PortLost, or Refused.
    Result<ByteStr> query(const Query& q);
    // A line for bytes received outside the block protocol's exchanges, with their verdict.
    void traceIn(const ByteStr& bytes, TraceNote note) const {
        if (trace_) trace_->received(bytes, note);
    }

    // The one request-with-attempts routine of the block protocol: up to `attempts` exchanges.
    // After a failed attempt the link is brought back into step (resync) before the next request
    // leaves, whether that is the next attempt or a later request. Returns the accepted reply
    // frame, or why there is none: NoSuchBlock, NoReply (every attempt failed), PortLost, or
    // Stopped (with a stop request, a stop ends the request before its next exchange).
    Result<ByteStr> requestBlock(const BlockRequest& req, int attempts,
                                 const StopRequest* stop = nullptr);
    // Sends a harmless query and drops every reply before its own (the phone answers in order).
    // Bounded; false when no sync reply came. The sync is never a query with requestSub.
    bool resync(std::chrono::milliseconds timeout, quint8 requestSub = 0);
    // The caller found a well-formed reply that cannot be the one it asked for: it counts as a
    // failed attempt, and the link is brought back into step before the next request.
    void refuseReply();
    // True when an attempt failed and no sync has followed it yet.
    [[nodiscard]] bool outOfStep() const { return needSync_; }
    // Waits up to `quiet` for bytes nobody asked for; true (and out of step) when any came.
    bool settle(std::chrono::milliseconds quiet);
    [[nodiscard]] const LinkCounters& counters() const { return counters_; }

    // Cmd, Length, Cmd ^ Length, payload.
    [[nodiscard]] static ByteStr frame(quint8 cmd, const ByteStr& payload);
    // Block-protocol request: Cmd 0x14, SubCmd, arguments, trailer (XOR of all bytes before it).
    [[nodiscard]] static ByteStr blockFrame(quint8 subCmd, const ByteStr& args);

signals:
    // Every frame written, for logging and tests.
    void frameSent(const QByteArray& frame);

private:
    void resetReply();
    // One received byte through the frame-assembly table.
    void feedByte(quint8 byte);
    // Waits for a reply, blocking on the port. The time-out ends the wait only while fewer than
    // holdCount bytes have arrived; after that, a reply that stalls for timeout without a further
    // byte also ends it.
    void waitReply(std::chrono::milliseconds timeout, int holdCount);
    // Takes every byte the port holds into Reply; false when there was none.
    bool takeReceived();
    // Blocks on the port until bytes are there (true) or `until` (false), `now` being the time.
    bool waitOnPort(SerialPort::Clock::time_point now, SerialPort::Clock::time_point until);
    // Waits for more bytes of the reply being assembled, without resetting it.
    void waitMore(std::chrono::milliseconds timeout, int holdCount);
    // Drops bytes that arrived while nobody waited: they cannot be the next request's reply.
    void dropStale();
    // One attempt: send, wait (again after interim replies), judge.
    TraceNote exchangeBlock(const BlockRequest& req);
    // Waits again after "still working" replies; false when there were too many.
    bool waitOutInterims(const BlockRequest& req);
    // Re-assembles Reply from bytes that followed a complete frame in the same read.
    void refeed(const ByteStr& rest);
    // Bytes nobody asked for: traced as stale and counted as the frames they hold.
    void dropStray(const ByteStr& bytes);
    // Reads every byte waiting in the port and counts it.
    QByteArray readPort();
    // The reply in Reply came complete sooner after its request was written than the two take
    // on the wire at the port's speed (only on ports that keep wire time).
    [[nodiscard]] bool cameTooSoon(qsizetype requestBytes) const;
    // Why the reply in Reply passes or fails the rule.
    [[nodiscard]] TraceNote judge(const ReplyRule& rule) const;
    // The failure a verdict other than Accepted stands for.
    [[nodiscard]] Status failure(TraceNote note) const;

    [[nodiscard]] std::chrono::milliseconds scaled(std::chrono::milliseconds t) const {
        return std::chrono::milliseconds(qint64(double(t.count()) * timeScale_));
    }

    SerialPort& port_;
    ReplyRecord reply_;     // the reply being assembled
    bool timedOut_ = false; // the last wait ran out of time
    bool waiting_ = false;  // an exchange waits for its reply; received bytes are taken only then
    double timeScale_ = 1.0;
    QString lostReason_;
    LinkCounters counters_;
    bool needSync_ = false;
    unsigned syncTurn_ = 0;
    LinkTrace* trace_ = nullptr;
    bool syncing_ = false; // the frame being sent is a sync query
    QElapsedTimer wireClock_;
    qint64 sentAtNs_ = 0;       // when the last frame was handed to the port
    qint64 completeAtNs_ = -1;  // when Reply became complete; -1 not yet
};

} // namespace x45
