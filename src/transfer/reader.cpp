// Reading blocks: one block, the highest block numbers, and the read run with its recovery.
//
// Replies carry no number, so a reply that came twice leaves every later request one reply
// behind (a lag). The link counts the stray frames its syncs drop; a read that saw any puts the
// conclusions a lag of that size can have changed to the test, now that the link is in step.

#include "reader.h"

#include <algorithm>

namespace x45 {

namespace {

QString readFailText(int error, const char* query, qint32 n) {
    return QStringLiteral(
               "Error №%1 (%2) while reading block №%3...\r\nYou can retry reading, skip "
               "this block or abort whole reading process.")
        .arg(error)
        .arg(QLatin1String(query), signedNumber(n));
}

// Reads of one block before the person is asked, when no two of them agree.
constexpr int MaxReads = proto::Attempts;

} // namespace

std::optional<qint32> BlockReader::maxBlockQuery(bool eefull) {
    BlockRequest req;
    req.sub = proto::areaSub(proto::MaxBlockQuery, eefull);
    req.frame = Link::blockFrame(req.sub, {});
    req.timeout = proto::ReadTimeout;
    req.minLength = 4; // SubCmd, two bytes of number, trailer
    const Result<ByteStr> reply = core_.link.requestBlock(req, proto::Attempts);
    if (!reply) return std::nullopt;
    // Read unsigned: a number past the highest cannot be a block number, so it is taken as the
    // highest one there can be instead of wrapping to a negative bound.
    return std::min<qint32>(wordAt(reply.value(), 4), HighestBlockNumber);
}

BlockRead BlockReader::readBlock(qint32 n) {
    // "No such block" in the data phase means the info reply that announced the block was not
    // this request's (a reply that came twice shifts every later one by one): the read starts
    // again with the info query, once the link is back in step. Bounded: a phone that keeps
    // announcing the block and then denies it ends in the data phase's failure box.
    for (int restarts = 0;; ++restarts) {
        if (std::optional<BlockRead> out = readBlockOnce(n, restarts < MaxReads)) return *out;
        core_.link.refuseReply();
    }
}

std::optional<BlockRead> BlockReader::readBlockOnce(qint32 n, bool restartOnDenial) {
    Request info;
    info.sub = proto::blockSub(proto::BlockInfoQuery, n);
    info.frame = Link::blockFrame(info.sub, word(n));
    info.timeout = proto::ReadTimeout;
    info.noSuchBlock = true;
    info.stoppable = true;
    info.minLength = 5; // SubCmd, length (2), version, trailer
    info.failText = readFailText(5, "BlockInfoQuery", n);
    ByteStr announcement;
    if (const Outcome got = core_.request(info, &announcement); got != Outcome::Done)
        return BlockRead{got, {}, 0};
    return readData(n, info, announcement, restartOnDenial);
}

std::optional<BlockRead> BlockReader::readData(qint32 n, const Request& info,
                                               const ByteStr& announcement,
                                               bool restartOnDenial) {
    // Lengths travel as 16 bits; read unsigned so a long block never turns negative.
    const qint32 length = wordAt(announcement, 4);
    BlockRead out{Outcome::Done, {}, byteAt(announcement, 6)};
    // The announcement may have been another request's reply, taken while the link was out of
    // step: asks again, now in step. False when it differs; `ended` then holds how the read
    // ends, or nothing when it starts over (the phone answered).
    std::optional<BlockRead> ended;
    const auto announcementStands = [&] {
        ByteStr again;
        const Outcome t = core_.request(info, &again);
        if (t == Outcome::Done && again.mid(4, 3) == announcement.mid(4, 3)) return true;
        if (t != Outcome::Done && t != Outcome::NoSuchBlock) ended = BlockRead{t, {}, 0};
        return false;
    };
    // A 0x32 marker here, after the phone announced the block, is never a block cut short: the
    // bytes before it are not kept. More data than asked for cannot be this chunk's reply either.
    Request chunk;
    chunk.sub = proto::blockSub(proto::BlockDataQuery, n);
    chunk.timeout = proto::ReadTimeout;
    chunk.noSuchBlock = restartOnDenial;
    chunk.stoppable = true;
    chunk.failText = readFailText(6, "BlockDataQuery", n);
    // While restarts are allowed, a chunk that fails five times puts the announcement to the
    // test before the person is asked: a wrong length asks for bytes the block does not have.
    chunk.askOnFailure = !restartOnDenial;
    do {
        const qint32 count = std::min<qint32>(proto::ReadChunk, length - out.data.size());
        chunk.frame = Link::blockFrame(
            chunk.sub, word(n) + word(static_cast<qint32>(out.data.size())) + word(count));
        chunk.minData = count > 0 ? 1 : 0; // no data bytes: no progress, ask again
        chunk.maxData = count;
        const int before = core_.link.counters().disturbances();
        ByteStr reply;
        Outcome t = core_.request(chunk, &reply);
        if (t == Outcome::Failed) {
            if (!announcementStands()) return ended;
            t = core_.askAfterFailure(chunk);
            if (t == Outcome::Retry) continue;
        }
        if (t == Outcome::NoSuchBlock) return std::nullopt; // start again from the info query
        if (t != Outcome::Done) return BlockRead{t, {}, 0};
        out.data.append(proto::replyData(reply));
        // The link was out of step during this chunk: the announcement is put to the test.
        if (restartOnDenial && core_.link.counters().disturbances() != before &&
            !announcementStands())
            return ended;
    } while (out.data.size() < length);
    return out;
}

BlockRead BlockReader::confirmRead(qint32 n, QVector<BlockRead> reads) {
    for (;;) {
        const qsizetype limit = reads.size() + MaxReads - 1;
        while (reads.size() < limit) {
            if (core_.stop.requested()) return BlockRead{Outcome::Stopped, {}, 0};
            BlockRead again = readBlock(n);
            if (again.decided()) return again;
            for (const BlockRead& earlier : std::as_const(reads))
                if (earlier.sameAs(again)) return again;
            reads.append(std::move(again));
        }
        // No two reads agree: the phase in which they differ decides the box's text.
        bool infoDiffers = false;
        for (const BlockRead& r : std::as_const(reads))
            infoDiffers = infoDiffers || r.outcome != reads[0].outcome ||
                          r.version != reads[0].version || r.data.size() != reads[0].data.size();
        const QString text = infoDiffers ? readFailText(5, "BlockInfoQuery", n)
                                         : readFailText(6, "BlockDataQuery", n);
        const Button b = core_.ui.message(text, QString(), Buttons::AbortRetryIgnore,
                                          Icon::Exclamation, Button::Ignore);
        if (b == Button::Ignore) return BlockRead{Outcome::Skipped, {}, 0};
        if (b != Button::Retry) return BlockRead{Outcome::Aborted, {}, 0};
        BlockRead first = readBlock(n);
        if (first.decided()) return first;
        reads = {std::move(first)};
    }
}

void BlockReader::begin() {
    history_.clear();
    concluded_.clear();
    rechecks_.clear();
    checkpointsLeft_ = 0;
    confirmed_ = 0;
}

std::optional<BlockRead> BlockReader::concluded(qint32 n) const {
    if (!concluded_.contains(n)) return std::nullopt;
    return concluded_.value(n);
}

std::optional<Outcome> BlockReader::readForRun(qint32 n, const Conclude& conclude) {
    core_.paceBlock(n);
    const LinkCounters before = core_.link.counters();
    BlockRead r = readBlock(n);
    if (core_.verify && !r.decided()) {
        r = confirmRead(n, {r});
        if (!r.decided()) ++confirmed_;
    }
    if (r.outcome == Outcome::Stopped || r.outcome == Outcome::PortLost) return r.outcome;
    conclude(n, nullptr, r);
    if (r.outcome == Outcome::Aborted) return r.outcome;
    if (!r.decided()) {
        concluded_.insert(n, r);
        history_.add(n, r.held());
    }
    return recover(before, conclude);
}

std::optional<Outcome> BlockReader::recover(const LinkCounters& before, const Conclude& conclude) {
    const LinkCounters& now = core_.link.counters();
    if (now.disturbances() != before.disturbances()) checkpointsLeft_ = CheckpointsPerFault;
    if (const int lag = now.strayFrames - before.strayFrames; lag > 0)
        return recheck(lag, conclude);
    // After a fault, the stretches of absent numbers that follow are broken up by syncs, so that
    // a lag cannot grow unseen over them.
    if (checkpointsLeft_ > 0 && history_.absentRun() >= CheckpointEvery) {
        --checkpointsLeft_;
        if (core_.stop.requested()) return Outcome::Stopped;
        const int stray = core_.link.counters().strayFrames;
        if (!core_.link.resync(proto::ReadTimeout)) return std::nullopt; // the next request syncs
        if (const int lag = core_.link.counters().strayFrames - stray; lag > 0)
            return recheck(lag, conclude);
        history_.anchor();
    }
    return std::nullopt;
}

std::optional<Outcome> BlockReader::recheck(int lag, const Conclude& conclude) {
    QVector<qint32> queue = history_.inDoubt(lag);
    bool undisturbed = true;
    while (!queue.isEmpty()) {
        const qint32 m = queue.takeFirst();
        // Skipped since by the person, or read alike this many times already.
        if (!concluded_.contains(m) || ++rechecks_[m] > MaxReads) continue;
        if (const auto end = recheckOne(m, queue, undisturbed, conclude)) return end;
    }
    core_.paceRecheck(std::nullopt);
    // The sync before the re-reads brought the link into step and nothing disturbed them: every
    // conclusion drawn so far stands.
    if (undisturbed) history_.anchor();
    return std::nullopt;
}

std::optional<Outcome> BlockReader::recheckOne(qint32 m, QVector<qint32>& queue,
                                               bool& undisturbed, const Conclude& conclude) {
    core_.paceRecheck(std::pair{m, queue.isEmpty() ? m : queue.last()});
    const BlockRead before = concluded_.value(m);
    const LinkCounters counters = core_.link.counters();
    if (core_.stop.requested()) return Outcome::Stopped;
    BlockRead again = readBlock(m);
    if (!again.decided() && !again.sameAs(before)) again = confirmRead(m, {before, again});
    if (again.outcome == Outcome::Stopped || again.outcome == Outcome::PortLost)
        return again.outcome;
    if (!again.sameAs(before)) {
        conclude(m, &before, again);
        if (again.decided())
            concluded_.remove(m);
        else
            concluded_.insert(m, again);
    }
    if (again.outcome == Outcome::Aborted) return again.outcome;
    if (!again.decided()) history_.add(m, again.held());
    const LinkCounters& now = core_.link.counters();
    if (now.disturbances() != counters.disturbances()) undisturbed = false;
    if (const int more = now.strayFrames - counters.strayFrames; more > 0) {
        for (const qint32 k : history_.inDoubt(more))
            if (!queue.contains(k)) queue.append(k);
        std::sort(queue.begin(), queue.end());
    }
    return std::nullopt;
}

std::optional<Outcome> BlockReader::finish(const Conclude& conclude) {
    const int stray = core_.link.counters().strayFrames;
    if (!core_.link.settle(proto::SettleTime)) return std::nullopt;
    return recheck(std::max(1, core_.link.counters().strayFrames - stray), conclude);
}

} // namespace x45
