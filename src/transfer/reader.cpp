// Reading blocks: one block, the highest block numbers, and "Load all".

#include "request.h"

#include <QSet>

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

constexpr qint32 HighestBlock = 32767; // block numbers are 16-bit signed
constexpr qint32 HighestEElite = EEfullFirst - 1;
// Reads of one block before the person is asked, when no two of them agree.
constexpr int MaxReads = proto::Attempts;

QVector<qint32> sortedNumbers(const QSet<qint32>& numbers) {
    QVector<qint32> out(numbers.begin(), numbers.end());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

std::optional<qint32> PhoneTransfer::MaxBlockQuery(bool eefull) {
    BlockRequest req;
    req.sub = proto::areaSub(proto::MaxBlockQuery, eefull);
    req.frame = Link::blockFrame(req.sub, {});
    req.timeout = proto::ReadTimeout;
    req.minLength = 4; // SubCmd, two bytes of number, trailer
    if (link_.requestBlock(req, proto::Attempts) != Attempted::Accepted) return std::nullopt;
    // Read unsigned: a number past 32767 cannot be a block number, so it is taken as the highest
    // one there can be instead of wrapping to a negative bound.
    return std::min<qint32>(wordAt(link_.Reply.Buffer, 4), HighestBlock);
}

ReadOutcome PhoneTransfer::ReadBlock(qint32 n, ByteStr& data, quint8& version) {
    // "No such block" in the data phase means the info reply that announced the block was not
    // this request's (a reply that came twice shifts every later one by one): the read starts
    // again with the info query, once the link is back in step. Bounded: a phone that keeps
    // announcing the block and then denies it ends in the data phase's failure dialog.
    for (int restarts = 0;; ++restarts) {
        const std::optional<ReadOutcome> out = readBlockOnce(n, data, version, restarts < MaxReads);
        if (out) return *out;
        link_.refuseReply();
    }
}

std::optional<ReadOutcome> PhoneTransfer::readBlockOnce(qint32 n, ByteStr& data, quint8& version,
                                                        bool restartOnDenial) {
    data.clear();
    Request info;
    info.sub = proto::blockSub(proto::BlockInfoQuery, n);
    info.frame = Link::blockFrame(info.sub, word(n));
    info.timeout = proto::ReadTimeout;
    info.noSuchBlock = true;
    info.stoppable = true;
    info.minLength = 5; // SubCmd, length (2), version, trailer
    info.failText = readFailText(5, "BlockInfoQuery", n);
    // How the read ends after a request of it ended this way (Ignore, Abort, a stop, the port).
    const auto endOf = [](Try t) {
        return t == Try::Abort     ? ReadOutcome::Aborted
               : t == Try::Stopped ? ReadOutcome::Stopped
               : t == Try::Lost    ? ReadOutcome::PortLost
                                   : ReadOutcome::Skipped;
    };
    // Version untouched: only the data phase's failures reset it.
    if (const Try t = request(info); t != Try::Accepted)
        return t == Try::NoSuchBlock ? ReadOutcome::NoSuchBlock : endOf(t);
    // Lengths travel as 16 bits; read unsigned so a long block never turns negative.
    const qint32 length = wordAt(link_.Reply.Buffer, 4);
    const quint8 announced = byteAt(link_.Reply.Buffer, 6);

    const auto dataEnd = [&](Try t) {
        data.clear();
        version = 0;
        return endOf(t);
    };
    // The announcement may have been another request's reply, taken while the link was out of
    // step: asks again, now in step. False when it differs; `ended` then holds how the read
    // ends, or nothing when it starts over (the phone answered).
    std::optional<ReadOutcome> ended;
    const auto announcementStands = [&] {
        const Try again = request(info);
        if (again == Try::Accepted && wordAt(link_.Reply.Buffer, 4) == length &&
            byteAt(link_.Reply.Buffer, 6) == announced)
            return true;
        data.clear();
        if (again != Try::Accepted && again != Try::NoSuchBlock) ended = dataEnd(again);
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
        const qint32 count = std::min<qint32>(proto::ReadChunk, length - data.size());
        const qint32 offset = static_cast<qint32>(data.size());
        chunk.frame = Link::blockFrame(chunk.sub, word(n) + word(offset) + word(count));
        chunk.minData = count > 0 ? 1 : 0; // no data bytes: no progress, ask again
        chunk.maxData = count;
        const int before = link_.counters().disturbances();
        Try t = request(chunk);
        if (t == Try::Unanswered && restartOnDenial) {
            if (!announcementStands()) return ended;
            t = askAfterFailure(chunk);
            if (t == Try::Retry) continue;
        }
        if (t == Try::NoSuchBlock) {
            data.clear();
            return std::nullopt; // start again from the info query
        }
        if (t != Try::Accepted) return dataEnd(t);
        const ReplyRecord& r = link_.Reply;
        data.append(r.Buffer.mid(4, r.Length - 2));
        // The link was out of step during this chunk: the announcement is put to the test.
        if (restartOnDenial && link_.counters().disturbances() != before &&
            !announcementStands())
            return ended;
    } while (data.size() < length);
    version = announced;
    return ReadOutcome::Read;
}

bool PhoneTransfer::BlockRead::decided() const {
    return outcome != ReadOutcome::Read && outcome != ReadOutcome::NoSuchBlock;
}

bool PhoneTransfer::BlockRead::endsRun() const {
    return outcome == ReadOutcome::Aborted || outcome == ReadOutcome::Stopped ||
           outcome == ReadOutcome::PortLost;
}

PhoneTransfer::BlockRead PhoneTransfer::readOnce(qint32 n) {
    BlockRead r;
    r.outcome = ReadBlock(n, r.data, r.version);
    return r;
}

PhoneTransfer::BlockRead PhoneTransfer::confirmRead(qint32 n, QVector<BlockRead> reads) {
    for (;;) {
        const qsizetype limit = reads.size() + MaxReads - 1;
        while (reads.size() < limit) {
            if (stop_.requested()) return BlockRead{ReadOutcome::Stopped, {}, 0};
            BlockRead again = readOnce(n);
            if (again.decided()) return again;
            for (const BlockRead& earlier : std::as_const(reads))
                if (earlier.sameAs(again)) return again;
            reads.append(std::move(again));
        }
        // No two reads agree: the phase in which they differ decides the dialog's text.
        bool infoDiffers = false;
        for (const BlockRead& r : std::as_const(reads))
            infoDiffers = infoDiffers || r.outcome != reads[0].outcome ||
                          r.version != reads[0].version || r.data.size() != reads[0].data.size();
        const QString text = infoDiffers ? readFailText(5, "BlockInfoQuery", n)
                                         : readFailText(6, "BlockDataQuery", n);
        const Button b = ui_.message(text, QString(), Buttons::AbortRetryIgnore, Icon::Exclamation,
                                     Button::Ignore);
        if (b == Button::Ignore) return BlockRead{ReadOutcome::Skipped, {}, 0};
        if (b != Button::Retry) return BlockRead{ReadOutcome::Aborted, {}, 0};
        BlockRead first = readOnce(n);
        if (first.decided()) return first;
        reads = {std::move(first)};
    }
}

void PhoneTransfer::beginReads() {
    history_.clear();
    concluded_.clear();
    rechecks_.clear();
    checkpointsLeft_ = 0;
    confirmed_ = 0;
}

std::optional<ReadOutcome> PhoneTransfer::readForRun(qint32 n, const Conclude& conclude) {
    paceBlock(n);
    const LinkCounters before = link_.counters();
    BlockRead r = readOnce(n);
    if (verify_ && !r.decided()) {
        r = confirmRead(n, {r});
        if (!r.decided()) ++confirmed_;
    }
    if (r.outcome == ReadOutcome::Stopped || r.outcome == ReadOutcome::PortLost) return r.outcome;
    conclude(n, nullptr, r);
    if (r.outcome == ReadOutcome::Aborted) return r.outcome;
    if (!r.decided()) {
        concluded_.insert(n, r);
        history_.add(n, r.held());
    }
    return recover(before, conclude);
}

std::optional<ReadOutcome> PhoneTransfer::recover(const LinkCounters& before,
                                                  const Conclude& conclude) {
    const LinkCounters& now = link_.counters();
    if (now.disturbances() != before.disturbances()) checkpointsLeft_ = CheckpointsPerFault;
    if (const int lag = now.strayFrames - before.strayFrames; lag > 0)
        return recheck(lag, conclude);
    // After a fault, the stretches of absent numbers that follow are broken up by syncs, so that
    // a lag cannot grow unseen over them.
    if (checkpointsLeft_ > 0 && history_.absentRun() >= CheckpointEvery) {
        --checkpointsLeft_;
        if (stop_.requested()) return ReadOutcome::Stopped;
        const int stray = link_.counters().strayFrames;
        if (!link_.resync(proto::ReadTimeout)) return std::nullopt; // the next request syncs
        if (const int lag = link_.counters().strayFrames - stray; lag > 0)
            return recheck(lag, conclude);
        history_.anchor();
    }
    return std::nullopt;
}

std::optional<ReadOutcome> PhoneTransfer::recheck(int lag, const Conclude& conclude) {
    QVector<qint32> queue = history_.inDoubt(lag);
    bool undisturbed = true;
    const auto addInDoubt = [&queue](const QVector<qint32>& more) {
        for (const qint32 m : more)
            if (!queue.contains(m)) queue.append(m);
        std::sort(queue.begin(), queue.end());
    };
    while (!queue.isEmpty()) {
        const qint32 m = queue.takeFirst();
        // Skipped since by the person, or read alike this many times already.
        if (!concluded_.contains(m) || ++rechecks_[m] > MaxReads) continue;
        paceRecheck(std::pair{m, queue.isEmpty() ? m : queue.last()});
        const BlockRead before = concluded_.value(m);
        const LinkCounters counters = link_.counters();
        if (stop_.requested()) return ReadOutcome::Stopped;
        BlockRead again = readOnce(m);
        if (!again.decided() && !again.sameAs(before)) again = confirmRead(m, {before, again});
        if (again.outcome == ReadOutcome::Stopped || again.outcome == ReadOutcome::PortLost)
            return again.outcome;
        if (!again.sameAs(before)) {
            conclude(m, &before, again);
            if (again.decided())
                concluded_.remove(m);
            else
                concluded_.insert(m, again);
        }
        if (again.outcome == ReadOutcome::Aborted) return again.outcome;
        if (!again.decided()) history_.add(m, again.held());
        const LinkCounters& now = link_.counters();
        if (now.disturbances() != counters.disturbances()) undisturbed = false;
        if (const int more = now.strayFrames - counters.strayFrames; more > 0)
            addInDoubt(history_.inDoubt(more));
    }
    paceRecheck(std::nullopt);
    // The sync before the re-reads brought the link into step and nothing disturbed them: every
    // conclusion drawn so far stands.
    if (undisturbed) history_.anchor();
    return std::nullopt;
}

std::optional<ReadOutcome> PhoneTransfer::finishReads(const Conclude& conclude) {
    const int stray = link_.counters().strayFrames;
    if (!link_.settle(proto::SettleTime)) return std::nullopt;
    return recheck(std::max(1, link_.counters().strayFrames - stray), conclude);
}

void PhoneTransfer::countLink(RunResult& result) const {
    result.retried = link_.counters().failedAttempts - runStart_.failedAttempts;
    result.resyncs = link_.counters().syncs - runStart_.syncs;
    result.verified += confirmed_;
}

RunResult PhoneTransfer::LoadAll(BlockList& PhoneBlocks) {
    RunResult result;
    const PaceEnd paceEnd{*this};
    startRun();
    beginReads();
    ui_.setStatus(QStringLiteral("Reading..."));
    stop_.clear();
    PhoneBlocks.clear();
    QSet<qint32> skipped;

    const auto stopped = [&](RunEnd end) {
        result.done = int(PhoneBlocks.size()); // read, then discarded
        PhoneBlocks.clear(); // a run that did not complete leaves no block at all
        result.skipped = sortedNumbers(skipped);
        return endStopped(result, end);
    };

    const std::optional<qint32> highLite = MaxBlockQuery(false);
    const std::optional<qint32> highFull = highLite ? MaxBlockQuery(true) : std::nullopt;
    if (link_.portLost()) {
        reportLost();
        return stopped(RunEnd::PortLost);
    }
    if (!highLite || !highFull) {
        // Without both bounds the run would silently read only part of the EEPROM.
        ui_.message(QStringLiteral("The phone did not tell the highest block number of its %1 area "
                                   "(no valid reply to five requests).\nNothing was read. Check "
                                   "the cable and the phone, then try again.")
                        .arg(highLite ? QStringLiteral("EEfull") : QStringLiteral("EElite")),
                    QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
        return stopped(RunEnd::Failed);
    }
    // EElite numbers stop below 5000 whatever the phone says; each area is read on its own
    // bounds, so an empty EEfull area never cuts the EElite one short.
    const qint32 lastLite = std::min(*highLite, HighestEElite);
    const qint32 lastFull = *highFull;
    const qint32 fullCount = std::max(0, lastFull - EEfullFirst);
    const qint32 progressMax = lastLite + fullCount;
    ui_.setProgressRange(0, std::max(progressMax, 1));
    ui_.setProgressValue(0);
    beginPace(lastLite + 1 + std::max(0, lastFull - EEfullFirst + 1));
    int numbersDone = 0;
    // A "Stop" pressed during the two queries above takes effect before the first block.
    if (stop_.requested()) return stopped(RunEnd::Stopped);

    // Stores a block's conclusion in ascending order. Numbers come in that order, but a re-check
    // may amend a conclusion after later blocks were stored: its place is looked for from the end.
    const Conclude conclude = [&](qint32 n, const BlockRead*, const BlockRead& read) {
        qsizetype at = PhoneBlocks.size();
        while (at > 0 && PhoneBlocks.at(at - 1).BlockId > n)
            --at;
        if (at > 0 && PhoneBlocks.at(at - 1).BlockId == n) PhoneBlocks.removeAt(--at);
        skipped.remove(n);
        if (read.outcome == ReadOutcome::Read) // an empty block the phone confirmed is kept too
            PhoneBlocks.insert(at, {static_cast<qint16>(n), read.data, read.version});
        else if (read.outcome == ReadOutcome::Skipped)
            skipped.insert(n);
    };
    const auto ended = [&](ReadOutcome end) {
        if (end == ReadOutcome::PortLost || link_.portLost()) {
            reportLost();
            return stopped(RunEnd::PortLost);
        }
        return stopped(RunEnd::Stopped);
    };
    const auto readRange = [&](qint32 first, qint32 last, qint32 progressBase) {
        for (qint32 n = first; n <= last; ++n) {
            if (const std::optional<ReadOutcome> end = readForRun(n, conclude)) return end;
            ui_.setProgressValue(progressBase + n - first);
            stepPace(++numbersDone);
            if (stop_.requested()) return std::optional<ReadOutcome>(ReadOutcome::Stopped);
        }
        return std::optional<ReadOutcome>();
    };

    if (const auto end = readRange(0, lastLite, 0)) return ended(*end);
    if (const auto end = readRange(EEfullFirst, lastFull, lastLite)) return ended(*end);
    if (const auto end = finishReads(conclude)) return ended(*end);
    if (stop_.requested()) return stopped(RunEnd::Stopped);
    if (progressMax < 1) ui_.setProgressValue(1);
    result.done = int(PhoneBlocks.size());
    result.skipped = sortedNumbers(skipped);
    countLink(result);
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

} // namespace x45
