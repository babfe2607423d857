// Writing blocks: one block in three phases, the two whole-area requests, and the run over a
// list's rows that "Save all" and "Save selected" share.

#include "writer.h"

#include <algorithm>

namespace x45 {

namespace {

QString writeFailText(int error, const char* query, qint32 n) {
    return QStringLiteral(
               "Error №%1 (%2) while writing block №%3...\r\nYou can retry writing, skip "
               "this block or abort whole writing process.")
        .arg(error)
        .arg(QLatin1String(query), signedNumber(n));
}

// What a failed request leaves of the block: the person's Ignore (or no box) skips it, Abort
// ends the run; anything else (no such block, a stop, a lost port) lets the write go on.
Outcome settled(Outcome t) {
    if (t == Outcome::Skipped || t == Outcome::Failed) return Outcome::Skipped;
    if (t == Outcome::Aborted) return Outcome::Aborted;
    return Outcome::Done;
}

} // namespace

Outcome BlockWriter::writeBlock(const EEPBlock& block) {
    const qint32 n = block.BlockId;
    // A length cut to 16 bits would store a wrong block.
    if (const Status carriable = checkCarriable({block}); !carriable) {
        core_.tell(carriable.message() + QStringLiteral("\nIt was not written."));
        return Outcome::Skipped;
    }
    Request req;
    req.timeout = proto::WriteTimeout;
    req.hold = proto::WriteHold;
    req.interim = true;

    // Phase 1: announce.
    req.sub = proto::blockSub(proto::WBlockInfoQuery, n);
    req.frame = Link::blockFrame(req.sub, word(n) + word(static_cast<qint32>(block.Data.size())) +
                                              ByteStr(1, static_cast<char>(block.BlockVer)));
    req.failText = writeFailText(15, "WBlockInfoQuery", n);
    if (const Outcome t = core_.request(req); t != Outcome::Done) return settled(t);

    const Outcome dataAnswer = writeData(block, req);
    if (dataAnswer == Outcome::PortLost) return Outcome::Done;

    // Phase 3: close. Sent even after a skipped data phase, so the phone does not keep the block
    // open; if that fails too, the person has already decided about this block.
    req.sub = proto::blockSub(proto::WBlockOKQuery, n);
    req.frame = Link::blockFrame(req.sub, word(n));
    req.interim = false;
    req.failText = writeFailText(17, "WBlockOKQuery", n);
    req.askOnFailure = dataAnswer == Outcome::Done;
    const Outcome t = core_.request(req);
    return t == Outcome::Skipped || t == Outcome::Aborted ? t : dataAnswer;
}

Outcome BlockWriter::writeData(const EEPBlock& block, Request& req) {
    // Runs once even for an empty block (a request with no data bytes).
    const qint32 n = block.BlockId;
    const qsizetype length = block.Data.size();
    req.sub = proto::blockSub(proto::WBlockDataQuery, n);
    req.failText = writeFailText(16, "WBlockDataQuery", n);
    qsizetype offset = 0;
    do {
        const qsizetype k = std::min<qsizetype>(proto::WriteChunk, length - offset);
        req.frame = Link::blockFrame(req.sub, word(n) + word(static_cast<qint32>(offset)) +
                                                  block.Data.mid(offset, k));
        const Outcome t = core_.request(req);
        if (t == Outcome::PortLost) return t;
        if (const Outcome s = settled(t); s != Outcome::Done) return s;
        offset += k;
    } while (offset < length);
    return Outcome::Done;
}

Outcome BlockWriter::eraseArea(bool eefull) {
    return areaRequest(proto::areaSub(proto::EraseEEPQuery, eefull),
                       QStringLiteral("Error №9 (EraseEEPQuery)..."));
}

Outcome BlockWriter::collectGarbage() {
    return areaRequest(proto::CollectEEFULLGarbageQuery,
                       QStringLiteral("Error №19 (CollectEEFULLGarbageQuery)..."));
}

Outcome BlockWriter::areaRequest(quint8 sub, const QString& failText) {
    Request req;
    req.sub = sub;
    req.frame = Link::blockFrame(req.sub, {});
    req.timeout = proto::WriteTimeout;
    req.failText = failText;
    return settled(core_.request(req));
}

bool BlockWriter::clearedForWriting(const BlockList& toWrite,
                                    const std::optional<HWidRule>& hwidRule) {
    if (const Status carriable = checkCarriable(toWrite); !carriable) {
        core_.tell(carriable.message() +
                   QStringLiteral("\nNothing was written; correct or leave out the block(s) "
                                  "named, then write again."));
        return false;
    }
    if (!hwidRule || hwidRule->anyHWid) return true;
    const QVector<OtherHWid> other = otherHWids(*hwidRule, toWrite);
    return other.isEmpty() ||
           core_.ui.message(otherHWidQuestion(other, hwidRule->phoneHWid), QString(),
                            Buttons::YesNo, Icon::Exclamation, Button::No) == Button::Yes;
}

bool BlockWriter::writeRow(const EEPBlock& block, const Status& refused, RunResult& result) {
    core_.paceBlock(block.BlockId);
    if (!refused) core_.tell(refused.message() + QStringLiteral("\nIt was not written."));
    const Outcome outcome = refused ? writeBlock(block) : Outcome::Skipped;
    if (core_.link.portLost()) {
        result.end = Outcome::PortLost;
        return false;
    }
    if (outcome == Outcome::Aborted) {
        core_.stop.request();
    } else if (outcome == Outcome::Skipped) {
        result.skipped.append(block.BlockId);
    } else {
        ++result.done;
        written_.append(block);
    }
    return true;
}

void BlockWriter::writeRun(const BlockList& blocks, const std::function<bool(int)>& selected,
                           RunResult& result, bool paceRows,
                           const std::function<Status(int row)>& refusal) {
    const qsizetype count = blocks.size(); // counted once, before the loop
    int reached = 0; // blocks of the run written or passed over, for the pace
    for (qsizetype i = 0; i < count; ++i) {
        const int row = static_cast<int>(i);
        // The caller may change the list while the run goes on; never read past its end.
        if (i < blocks.size() && (!selected || selected(row))) {
            if (!writeRow(blocks.at(i), refusal ? refusal(row) : Status::ok(), result)) return;
            if (!paceRows) core_.stepPace(++reached);
        }
        core_.ui.setProgressValue(row + 1);
        if (paceRows) core_.stepPace(row + 1);
        if (core_.stop.requested()) {
            result.end = Outcome::Stopped;
            return;
        }
    }
}

void BlockWriter::beginWriting(qsizetype count, int toWrite) {
    core_.startRun(QStringLiteral("Writing..."));
    written_.clear();
    core_.ui.setProgressRange(0, static_cast<int>(count));
    core_.ui.setProgressValue(0);
    core_.beginPace(toWrite);
}

} // namespace x45
