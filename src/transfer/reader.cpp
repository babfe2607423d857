// Reading blocks: one block, the highest block numbers, and "Load all".

#include "request.h"

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
constexpr qint32 HighestEElite = proto::EEfullFirst - 1;

} // namespace

std::optional<qint32> PhoneTransfer::MaxBlockQuery(bool eefull) {
    Request req;
    req.sub = proto::areaSub(proto::MaxBlockQuery, eefull);
    req.frame = Link::blockFrame(req.sub, {});
    req.timeout = proto::ReadTimeout;
    req.minLength = 4; // SubCmd, two bytes of number, trailer
    for (int attempts = 0; attempts < proto::Attempts; ++attempts) {
        if (exchange(req) == Judged::Accepted) {
            // Read unsigned: a number past 32767 cannot be a block number, so it is taken as the
            // highest one there can be instead of wrapping to a negative bound.
            return std::min<qint32>(wordAt(link_.Reply.Buffer, 4), HighestBlock);
        }
        if (link_.portLost()) return std::nullopt;
    }
    return std::nullopt;
}

ReadOutcome PhoneTransfer::ReadBlock(qint32 n, ByteStr& data, quint8& version) {
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
    version = byteAt(link_.Reply.Buffer, 6);

    Request chunk;
    chunk.sub = proto::blockSub(proto::BlockDataQuery, n);
    chunk.timeout = proto::ReadTimeout;
    chunk.noSuchBlock = true;
    chunk.failText = readFailText(6, "BlockDataQuery", n);
    do {
        const qint32 count = std::min<qint32>(proto::ReadChunk, length - data.size());
        const qint32 offset = static_cast<qint32>(data.size());
        chunk.frame = Link::blockFrame(chunk.sub, word(n) + word(offset) + word(count));
        chunk.needData = count > 0;
        switch (request(chunk)) {
        case Try::Accepted: {
            const ReplyRecord& r = link_.Reply;
            data.append(r.Buffer.mid(4, r.Length - 2)); // whatever came, even more than asked
            break;
        }
        case Try::NoSuchBlock:
            return ReadOutcome::Partial;
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
    return ReadOutcome::Read;
}

RunResult PhoneTransfer::LoadAll(BlockList& PhoneBlocks) {
    RunResult result;
    startRun();
    ui_.setStatus(QStringLiteral("Reading..."));
    ui_.StopProcess = false;
    PhoneBlocks.clear();

    const auto stopped = [&](RunEnd end) {
        ui_.setStatus(QStringLiteral("Stopped."));
        ui_.setProgressValue(0);
        PhoneBlocks.clear(); // a run that did not complete leaves no block at all
        result.end = end;
        return result;
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
    const qint32 fullCount = std::max(0, lastFull - proto::EEfullFirst);
    const qint32 progressMax = lastLite + fullCount;
    ui_.setProgressRange(0, std::max(progressMax, 1));
    ui_.setProgressValue(0);
    // A "Stop" pressed during the two queries above takes effect before the first block.
    if (ui_.StopProcess) return stopped(RunEnd::Stopped);

    const auto readOne = [&](qint32 n, qint32 progress) -> bool {
        ByteStr data;
        quint8 version = 0;
        switch (ReadBlock(n, data, version)) {
        case ReadOutcome::Read: // an empty block the phone confirmed is kept too
            PhoneBlocks.append({static_cast<qint16>(n), data, version});
            ++result.done;
            break;
        case ReadOutcome::Partial:
            if (!data.isEmpty()) {
                PhoneBlocks.append({static_cast<qint16>(n), data, version});
                ++result.done;
            }
            break;
        case ReadOutcome::NoSuchBlock:
            break;
        case ReadOutcome::Skipped:
            ++result.skipped;
            break;
        case ReadOutcome::Aborted:
            ui_.StopProcess = true;
            break;
        case ReadOutcome::PortLost:
            return false;
        }
        ui_.setProgressValue(progress);
        return !ui_.StopProcess;
    };

    for (qint32 n = 0; n <= lastLite; ++n)
        if (!readOne(n, n)) return stopped(link_.portLost() ? RunEnd::PortLost : RunEnd::Stopped);
    for (qint32 n = proto::EEfullFirst; n <= lastFull; ++n)
        if (!readOne(n, lastLite + n - proto::EEfullFirst))
            return stopped(link_.portLost() ? RunEnd::PortLost : RunEnd::Stopped);
    if (progressMax < 1) ui_.setProgressValue(1);
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

} // namespace x45
