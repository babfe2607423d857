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
    info.minLength = 5; // SubCmd, length (2), version, trailer
    info.failText = readFailText(5, "BlockInfoQuery", n);
    switch (request(info)) {
    case Try::Accepted:
        break;
    case Try::NoSuchBlock:
        return ReadOutcome::NoSuchBlock;
    case Try::Ignore:
    case Try::Unanswered:
        return ReadOutcome::Skipped;
    case Try::Abort:
        return ReadOutcome::Aborted;
    case Try::Lost:
        return ReadOutcome::PortLost;
    }
    // Lengths travel as 16 bits; read unsigned so a long block never turns negative.
    const qint32 length = wordAt(link_.Reply.Buffer, 4);
    const quint8 announced = byteAt(link_.Reply.Buffer, 6);

    // A 0x32 marker here, after the phone announced the block, is never a block cut short: the
    // bytes before it are not kept. More data than asked for cannot be this chunk's reply either.
    Request chunk;
    chunk.sub = proto::blockSub(proto::BlockDataQuery, n);
    chunk.timeout = proto::ReadTimeout;
    chunk.noSuchBlock = restartOnDenial;
    chunk.failText = readFailText(6, "BlockDataQuery", n);
    do {
        const qint32 count = std::min<qint32>(proto::ReadChunk, length - data.size());
        const qint32 offset = static_cast<qint32>(data.size());
        chunk.frame = Link::blockFrame(chunk.sub, word(n) + word(offset) + word(count));
        chunk.minData = count > 0 ? 1 : 0; // no data bytes: no progress, ask again
        chunk.maxData = count;
        const int before = link_.counters().disturbances();
        switch (request(chunk)) {
        case Try::Accepted: {
            const ReplyRecord& r = link_.Reply;
            data.append(r.Buffer.mid(4, r.Length - 2));
            // The link was out of step during this chunk, so the announcement may have been
            // another request's reply: ask again, now in step; when it differs, start over.
            if (restartOnDenial && link_.counters().disturbances() != before) {
                const Try again = request(info);
                if (again == Try::Accepted && wordAt(link_.Reply.Buffer, 4) == length &&
                    byteAt(link_.Reply.Buffer, 6) == announced)
                    break;
                data.clear();
                if (again == Try::Accepted || again == Try::NoSuchBlock) return std::nullopt;
                version = 0;
                return again == Try::Abort  ? ReadOutcome::Aborted
                       : again == Try::Lost ? ReadOutcome::PortLost
                                            : ReadOutcome::Skipped;
            }
            break;
        }
        case Try::NoSuchBlock:
            data.clear();
            return std::nullopt; // start again from the info query
        case Try::Ignore:
        case Try::Unanswered:
            data.clear();
            version = 0;
            return ReadOutcome::Skipped;
        case Try::Abort:
            data.clear();
            version = 0;
            return ReadOutcome::Aborted;
        case Try::Lost:
            data.clear();
            version = 0;
            return ReadOutcome::PortLost;
        }
    } while (data.size() < length);
    version = announced;
    return ReadOutcome::Read;
}

bool PhoneTransfer::BlockRead::decided() const {
    return outcome == ReadOutcome::Skipped || outcome == ReadOutcome::Aborted ||
           outcome == ReadOutcome::PortLost;
}

PhoneTransfer::BlockRead PhoneTransfer::readOnce(qint32 n) {
    BlockRead r;
    const int before = link_.counters().disturbances();
    r.outcome = ReadBlock(n, r.data, r.version);
    const int after = link_.counters().disturbances();
    r.disturbed = after != before;
    return r;
}

PhoneTransfer::BlockRead PhoneTransfer::confirmRead(qint32 n, BlockRead first) {
    for (;;) {
        QVector<BlockRead> reads{first};
        while (reads.size() < MaxReads) {
            BlockRead again = readOnce(n);
            if (again.decided()) return again;
            for (const BlockRead& earlier : reads)
                if (earlier.sameAs(again)) return again;
            reads.append(std::move(again));
        }
        // No two reads agree: the phase in which they differ decides the dialog's text.
        bool infoDiffers = false;
        for (const BlockRead& r : reads)
            infoDiffers = infoDiffers || r.outcome != reads[0].outcome ||
                          r.version != reads[0].version || r.data.size() != reads[0].data.size();
        const QString text = infoDiffers ? readFailText(5, "BlockInfoQuery", n)
                                         : readFailText(6, "BlockDataQuery", n);
        const Button b = ui_.message(text, QString(), Buttons::AbortRetryIgnore, Icon::Exclamation,
                                     Button::Ignore);
        if (b == Button::Ignore) return BlockRead{ReadOutcome::Skipped, {}, 0, true};
        if (b != Button::Retry) return BlockRead{ReadOutcome::Aborted, {}, 0, true};
        first = readOnce(n);
        if (first.decided()) return first;
    }
}

void PhoneTransfer::beginReads() {
    inDoubt_.clear();
    confirmed_ = 0;
}

void PhoneTransfer::keepInDoubt(qint32 n, const BlockRead& r) {
    if (r.decided()) return;
    if (r.outcome == ReadOutcome::Read) inDoubt_.clear();
    inDoubt_.append({n, r});
}

std::optional<ReadOutcome> PhoneTransfer::settleDoubts(const Amend& amend, bool lastIsCurrent) {
    // Passes over every conclusion in doubt until one goes by with the link undisturbed: a pass
    // that was disturbed may itself have been shifted.
    for (int pass = 0; pass < MaxReads && !inDoubt_.isEmpty(); ++pass) {
        if (link_.outOfStep()) (void)link_.resync(proto::ReadTimeout);
        const int before = link_.counters().disturbances();
        QVector<Concluded> kept;
        for (qsizetype i = 0; i < inDoubt_.size(); ++i) {
            const Concluded& c = inDoubt_[i];
            const BlockRead again = confirmRead(c.n, c.read);
            const bool current = lastIsCurrent && i + 1 == inDoubt_.size();
            if (!current && !again.sameAs(c.read)) amend(c.n, c.read, again);
            if (again.outcome == ReadOutcome::Aborted || again.outcome == ReadOutcome::PortLost) {
                inDoubt_.clear();
                return again.outcome;
            }
            if (!again.decided() || current) kept.append({c.n, again});
        }
        inDoubt_ = std::move(kept);
        if (link_.counters().disturbances() == before) break;
    }
    return std::nullopt;
}

PhoneTransfer::BlockRead PhoneTransfer::readForRun(qint32 n, const Amend& amend) {
    const int before = link_.counters().disturbances();
    BlockRead r = readOnce(n);
    if (r.outcome == ReadOutcome::Aborted || r.outcome == ReadOutcome::PortLost) {
        inDoubt_.clear();
        return r;
    }
    if (verify_ && !r.decided()) r = confirmRead(n, r);
    if (link_.counters().disturbances() == before) {
        if (verify_ && !r.decided()) ++confirmed_;
        keepInDoubt(n, r);
        return r;
    }
    // A reply that came twice shifts every later one by one, unseen while they are all "no such
    // block": the first request whose reply differs shows it, at a held block's request at the
    // latest. So when the link was disturbed, this block and every conclusion since the last
    // held block (that one included) are read again until two reads agree.
    inDoubt_.append({n, r});
    if (const std::optional<ReadOutcome> end = settleDoubts(amend, true))
        return BlockRead{*end, {}, 0, true};
    r = inDoubt_.takeLast().read;
    if (!r.decided()) ++confirmed_;
    keepInDoubt(n, r);
    return r;
}

void PhoneTransfer::finishReads(const Amend& amend) {
    if (link_.settle(proto::SettleTime)) (void)settleDoubts(amend, false);
    inDoubt_.clear();
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

    // Stores a block's conclusion in ascending order. Numbers come in that order, but a
    // conclusion in doubt may be amended after later blocks were stored: its place is looked
    // for from the end.
    const auto conclude = [&](qint32 n, const BlockRead& read) {
        qsizetype at = PhoneBlocks.size();
        while (at > 0 && PhoneBlocks.at(at - 1).BlockId > n)
            --at;
        if (at > 0 && PhoneBlocks.at(at - 1).BlockId == n) PhoneBlocks.removeAt(--at);
        skipped.remove(n);
        if (read.outcome == ReadOutcome::Read) // an empty block the phone confirmed is kept too
            PhoneBlocks.insert(at, {static_cast<qint16>(n), read.data, read.version});
        else if (read.outcome == ReadOutcome::Skipped)
            skipped.insert(n);
        else if (read.outcome == ReadOutcome::Aborted)
            stop_.request();
    };

    const auto amend = [&](qint32 n, const BlockRead&, const BlockRead& after) {
        conclude(n, after);
    };
    const auto readOne = [&](qint32 n, qint32 progress) -> bool {
        const BlockRead read = readForRun(n, amend);
        if (read.outcome == ReadOutcome::PortLost || link_.portLost()) return false;
        conclude(n, read);
        ui_.setProgressValue(progress);
        stepPace(++numbersDone);
        return !stop_.requested();
    };

    for (qint32 n = 0; n <= lastLite; ++n)
        if (!readOne(n, n)) return stopped(link_.portLost() ? RunEnd::PortLost : RunEnd::Stopped);
    for (qint32 n = EEfullFirst; n <= lastFull; ++n)
        if (!readOne(n, lastLite + n - EEfullFirst))
            return stopped(link_.portLost() ? RunEnd::PortLost : RunEnd::Stopped);
    finishReads(amend);
    if (link_.portLost()) {
        reportLost();
        return stopped(RunEnd::PortLost);
    }
    if (stop_.requested()) return stopped(RunEnd::Stopped);
    if (progressMax < 1) ui_.setProgressValue(1);
    result.done = int(PhoneBlocks.size());
    result.skipped = sortedNumbers(skipped);
    countLink(result);
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

} // namespace x45
