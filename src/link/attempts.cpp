// The block protocol's request with attempts, and bringing the link back into step.
//
// Replies carry no block number, offset or sequence: a reply that arrives after its wait ended
// would be taken as the reply to the next request. So after any failed attempt a harmless query
// is sent and every frame before its reply is dropped; the phone answers in order, so what comes
// before the sync's reply belongs to earlier requests.

#include "link.h"

#include "protocol.h"

#include <QElapsedTimer>
#include <algorithm>
#include <climits>

namespace x45 {

namespace {

// Sync queries take turns, so that a late reply to one sync cannot pass for the next one's.
constexpr quint8 SyncSubs[] = {
    proto::EEPSpaceQuery,
    proto::EEPSpaceQuery | proto::EEfullBit,
    proto::MaxBlockQuery,
    proto::MaxBlockQuery | proto::EEfullBit,
};
constexpr int SyncTries = 2; // syncs before the attempt counts as failed

// A phone that keeps answering "still working" is given up on after this many interim replies
// in a row; the attempt then counts as failed (each one already took up to the time-out).
constexpr int MaxInterimReplies = 50;

// The frames in bytes nobody asked for, at least one: a header that checks starts a frame of
// Length + 3 bytes; bytes that start none are passed over.
int framesIn(const ByteStr& bytes) {
    int frames = 0;
    for (qsizetype i = 0; i + 2 < bytes.size();) {
        if ((byteAt(bytes, i) ^ byteAt(bytes, i + 1)) == byteAt(bytes, i + 2)) {
            ++frames;
            i += qsizetype(byteAt(bytes, i + 1)) + 3;
        } else {
            ++i;
        }
    }
    return std::max(frames, 1);
}

} // namespace

void Link::refeed(const ByteStr& rest) {
    resetReply();
    for (const char c : rest)
        feedByte(static_cast<quint8>(c));
}

void Link::refuseReply() {
    ++counters_.failedAttempts;
    needSync_ = true;
    if (trace_)
        trace_->remark(QStringLiteral("the reply above cannot be the one asked for: refused"));
}

void Link::dropStray(const ByteStr& bytes) {
    traceIn(bytes, TraceNote::Stale);
    ++counters_.staleReplies;
    counters_.strayFrames += framesIn(bytes);
}

void Link::dropStale() {
    // The port's own buffer count: no system call when nothing is waiting.
    if (port_.bytesAvailable() <= 0) return;
    dropStray(readPort());
    needSync_ = true; // part of a frame may still be on its way
}

bool Link::waitOutInterims(const BlockRequest& req) {
    const ReplyRecord& r = reply_;
    for (int interims = 0; req.interim && !portLost() && r.State == Complete &&
                           r.Cmd == proto::BlockCmd && r.SubCmd == proto::Interim;
         ++interims) {
        const qsizetype end = proto::frameEnd(r.Buffer);
        if (interims == MaxInterimReplies) return false;
        ++counters_.interims;
        traceIn(r.Buffer.left(end), TraceNote::Interim);
        // The real reply may have come in the same read as the interim one; it then sits behind
        // the interim frame in Buffer.
        refeed(r.Buffer.mid(end));
        if (r.State == Receiving) waitMore(req.timeout, req.hold);
    }
    return true;
}

TraceNote Link::exchangeBlock(const BlockRequest& req) {
    const int interimsBefore = counters_.interims;
    sendFrame(req.frame);
    ++counters_.requests;
    waitReply(req.timeout, req.hold);
    // Interim replies: the phone is still busy with a write; wait again, send nothing.
    TraceNote note = waitOutInterims(req) ? judge(req.rule()) : TraceNote::TooManyInterims;
    // A reply that looks right but was on its way before the request: a copy of an earlier
    // reply, which would leave every later reply one request late. (Not after interim replies:
    // the wait then started later than the write.)
    if ((note == TraceNote::Accepted || note == TraceNote::NoSuchBlock) &&
        counters_.interims == interimsBefore && cameTooSoon(req.frame.size())) {
        note = TraceNote::TooSoon;
        ++counters_.strayFrames;
    }
    traceIn(reply_.Buffer, note);
    // A reply with another frame behind it: the first may be an earlier request's.
    if (note == TraceNote::ExtraBytes)
        counters_.strayFrames += framesIn(reply_.Buffer.mid(proto::frameEnd(reply_.Buffer)));
    return note;
}

Result<ByteStr> Link::requestBlock(const BlockRequest& req, int attempts, const StopRequest* stop) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (portLost()) return failure(TraceNote::PortLost);
        if (stop && stop->requested())
            return Status::fail(ErrorKind::Stopped, QStringLiteral("stopped"));
        dropStale();
        if (needSync_ && !resync(req.timeout, req.sub)) {
            if (portLost()) return failure(TraceNote::PortLost);
            ++counters_.failedAttempts; // the request was not sent: still a failed attempt
            continue;
        }
        const TraceNote note = exchangeBlock(req);
        if (portLost()) return failure(TraceNote::PortLost);
        if (note == TraceNote::Accepted) return reply_.Buffer;
        if (note == TraceNote::NoSuchBlock) return failure(note);
        ++counters_.failedAttempts;
        needSync_ = true;
    }
    return Status::fail(ErrorKind::NoReply,
                        QStringLiteral("no acceptable reply after %1 attempts").arg(attempts));
}

bool Link::resync(std::chrono::milliseconds timeout, quint8 requestSub) {
    for (int attempt = 0; attempt < SyncTries && !portLost(); ++attempt) {
        // Never the request's own query: a late reply to it would pass for the sync's.
        quint8 sub = SyncSubs[syncTurn_++ % std::size(SyncSubs)];
        if (sub == requestSub) sub = SyncSubs[syncTurn_++ % std::size(SyncSubs)];
        if (port_.bytesAvailable() > 0) dropStray(readPort());
        syncing_ = true;
        sendFrame(blockFrame(sub, {}));
        syncing_ = false;
        ++counters_.syncs;
        QElapsedTimer clock;
        clock.start();
        resetReply();
        ByteStr junk; // bytes passed over while looking for the start of a frame, for the trace
        const auto dropJunk = [&] {
            if (!junk.isEmpty()) {
                traceIn(junk, TraceNote::Stale);
                ++counters_.strayFrames; // what is left of a frame whose header was damaged
            }
            junk.clear();
        };
        for (;;) {
            if (reply_.State == Complete) {
                const qsizetype end = proto::frameEnd(reply_.Buffer);
                const bool ours = reply_.Cmd == proto::BlockCmd && reply_.SubCmd == sub &&
                                  proto::trailerRight(reply_.Buffer);
                dropJunk();
                if (ours) {
                    traceIn(reply_.Buffer.left(end), TraceNote::Resynchronised);
                    if (reply_.Buffer.size() > end) dropStray(reply_.Buffer.mid(end));
                    resetReply();
                    needSync_ = false;
                    return true;
                }
                dropStray(reply_.Buffer.left(end)); // a reply to an earlier request
                refeed(reply_.Buffer.mid(end));
                continue;
            }
            if (reply_.State == HeaderBad) {
                // No frame starts here: look for one from the next byte on.
                junk += reply_.Buffer.left(1);
                refeed(reply_.Buffer.mid(1));
                continue;
            }
            const auto left =
                timeout - std::chrono::milliseconds(qint64(double(clock.elapsed()) / timeScale_));
            if (left <= std::chrono::milliseconds(0) || portLost()) break;
            waitMore(left, INT_MAX); // a hard deadline: held bytes do not extend it
            if (reply_.State == Receiving) break;
        }
        // The sync's own reply did not come in time.
        dropJunk();
        traceIn(reply_.Buffer, portLost()               ? TraceNote::PortLost
                              : reply_.Buffer.isEmpty() ? TraceNote::TimedOut
                                                       : TraceNote::Cut);
    }
    return false;
}

bool Link::settle(std::chrono::milliseconds quiet) {
    if (portLost()) return false;
    resetReply();
    waitMore(quiet, INT_MAX);
    const bool stray = !reply_.Buffer.isEmpty() || port_.bytesAvailable() > 0;
    if (stray) {
        ByteStr bytes = reply_.Buffer;
        if (port_.bytesAvailable() > 0) bytes += readPort();
        dropStray(bytes);
        needSync_ = true;
    }
    resetReply();
    return stray;
}

} // namespace x45
