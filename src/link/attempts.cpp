// The block protocol's request with attempts, and bringing the link back into step.
//
// Replies carry no block number, offset or sequence: a reply that arrives after its wait ended
// would be taken as the reply to the next request. So after any failed attempt a harmless query
// is sent and every frame before its reply is dropped; the phone answers in order, so what comes
// before the sync's reply belongs to earlier requests.

#include "link.h"

#include "protocol.h"

#include <QElapsedTimer>
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

} // namespace

void Link::refeed(const ByteStr& rest) {
    ResetReply();
    for (const char c : rest)
        feedByte(static_cast<quint8>(c));
}

void Link::dropStale() {
    // The port's own buffer count: no system call when nothing is waiting.
    if (port_.bytesAvailable() <= 0) return;
    (void)port_.read(0);
    ++counters_.staleReplies;
    needSync_ = true; // part of a frame may still be on its way
}

Link::Judged Link::exchangeBlock(const BlockRequest& req) {
    SendFrame(req.frame);
    ++counters_.requests;
    WaitReply(req.timeout, req.hold);
    const ReplyRecord& r = Reply;
    // Interim replies: the phone is still busy with a write; wait again, send nothing.
    for (int interims = 0; req.interim && !portLost() && r.State == Complete &&
                           r.Cmd == proto::BlockCmd && r.SubCmd == proto::Interim;
         ++interims) {
        if (interims == MaxInterimReplies) return Judged::Bad;
        ++counters_.interims;
        // The real reply may have come in the same read as the interim one; it then sits behind
        // the interim frame in Buffer.
        const ByteStr rest = r.Buffer.mid(qsizetype(r.Length) + 3);
        refeed(rest);
        if (r.State != Receiving) continue;
        waitMore(req.timeout, req.hold);
    }
    if (portLost() || r.State != Complete) return Judged::Bad;
    // Every check below also guards the marker: a garbled reply that merely has 0x32 in its fourth
    // byte must not pass a block over silently.
    if (req.noSuchBlock && blockReplyAccepted(proto::NoSuchBlock)) return Judged::NoSuchBlock;
    if (!blockReplyAccepted(req.sub) || r.Length < req.minLength) return Judged::Bad;
    const int data = r.Length - 2;
    if (data < req.minData || (req.maxData >= 0 && data > req.maxData)) return Judged::Bad;
    return Judged::Accepted;
}

Attempted Link::requestBlock(const BlockRequest& req, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (portLost()) return Attempted::Lost;
        dropStale();
        if (needSync_ && !resync(req.timeout, req.sub)) {
            if (portLost()) return Attempted::Lost;
            ++counters_.failedAttempts; // the request was not sent: still a failed attempt
            continue;
        }
        const Judged judged = exchangeBlock(req);
        if (portLost()) return Attempted::Lost;
        if (judged == Judged::Accepted) return Attempted::Accepted;
        if (judged == Judged::NoSuchBlock) return Attempted::NoSuchBlock;
        ++counters_.failedAttempts;
        needSync_ = true;
    }
    return Attempted::Failed;
}

bool Link::resync(std::chrono::milliseconds timeout, quint8 requestSub) {
    for (int attempt = 0; attempt < SyncTries && !portLost(); ++attempt) {
        // Never the request's own query: a late reply to it would pass for the sync's.
        quint8 sub = SyncSubs[syncTurn_++ % std::size(SyncSubs)];
        if (sub == requestSub) sub = SyncSubs[syncTurn_++ % std::size(SyncSubs)];
        if (port_.bytesAvailable() > 0) {
            (void)port_.read(0);
            ++counters_.staleReplies;
        }
        SendFrame(blockFrame(sub, {}));
        ++counters_.syncs;
        QElapsedTimer clock;
        clock.start();
        ResetReply();
        for (;;) {
            if (Reply.State == Complete) {
                const qsizetype end = qsizetype(Reply.Length) + 3;
                const bool ours = Reply.Cmd == proto::BlockCmd && Reply.SubCmd == sub &&
                                  byteAt(Reply.Buffer, end - 1) == XorSum(Reply.Buffer, end - 1);
                if (ours) {
                    if (Reply.Buffer.size() > end) ++counters_.staleReplies;
                    ResetReply();
                    needSync_ = false;
                    return true;
                }
                ++counters_.staleReplies; // a reply to an earlier request
                refeed(Reply.Buffer.mid(end));
                continue;
            }
            if (Reply.State == HeaderBad) {
                // No frame starts here: look for one from the next byte on.
                refeed(Reply.Buffer.mid(1));
                continue;
            }
            const auto left = timeout - std::chrono::milliseconds(clock.elapsed());
            if (left <= std::chrono::milliseconds(0) || portLost()) break;
            waitMore(left, INT_MAX); // a hard deadline: held bytes do not extend it
            if (Reply.State == Receiving) break;
        }
    }
    return false;
}

bool Link::settle(std::chrono::milliseconds quiet) {
    if (portLost()) return false;
    ResetReply();
    waitMore(quiet, INT_MAX);
    const bool stray = !Reply.Buffer.isEmpty() || port_.bytesAvailable() > 0;
    if (stray) {
        if (port_.bytesAvailable() > 0) (void)port_.read(0);
        ++counters_.staleReplies;
        needSync_ = true;
    }
    ResetReply();
    return stray;
}

} // namespace x45
