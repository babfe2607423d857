// Writing blocks: one block in three phases, the two preparing requests, "Save all" and
// "Save selected".

#include "request.h"

#include <QMap>
#include <QSet>
#include <QStringList>

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

} // namespace

StepOutcome PhoneTransfer::WriteBlock(const EEPBlock& block) {
    const qint32 n = block.BlockId;
    const qsizetype length = block.Data.size();
    // A length cut to 16 bits would store a wrong block.
    if (const QString why = uncarriableText({block}); !why.isEmpty()) {
        ui_.message(why + QStringLiteral("\nIt was not written."), QString(), Buttons::Ok,
                    Icon::Exclamation, Button::Ok);
        return StepOutcome::Skipped;
    }

    Request req;
    req.timeout = proto::WriteTimeout;
    req.hold = proto::WriteHold;
    req.interim = true;

    // Phase 1: announce.
    req.sub = proto::blockSub(proto::WBlockInfoQuery, n);
    req.frame = Link::blockFrame(req.sub, word(n) + word(static_cast<qint32>(length)) +
                                              ByteStr(1, static_cast<char>(block.BlockVer)));
    req.failText = writeFailText(15, "WBlockInfoQuery", n);
    switch (request(req)) {
    case Try::Accepted:
        break;
    case Try::Ignore:
    case Try::Unanswered:
        return StepOutcome::Skipped;
    case Try::Abort:
        return StepOutcome::Aborted;
    case Try::NoSuchBlock:
    case Try::Lost:
    case Try::Stopped: // writes are not stoppable mid-block
    case Try::Retry:   // request() retries itself
        return StepOutcome::Done;
    }

    // Phase 2: data. Runs once even for an empty block (a request with no data bytes).
    StepOutcome dataAnswer = StepOutcome::Done;
    req.sub = proto::blockSub(proto::WBlockDataQuery, n);
    req.failText = writeFailText(16, "WBlockDataQuery", n);
    qsizetype offset = 0;
    do {
        const qsizetype k = std::min<qsizetype>(proto::WriteChunk, length - offset);
        req.frame = Link::blockFrame(req.sub, word(n) + word(static_cast<qint32>(offset)) +
                                                  block.Data.mid(offset, k));
        const Try t = request(req);
        if (t == Try::Lost) return StepOutcome::Done;
        if (t == Try::Ignore || t == Try::Unanswered) {
            dataAnswer = StepOutcome::Skipped;
            break;
        }
        if (t == Try::Abort) {
            dataAnswer = StepOutcome::Aborted;
            break;
        }
        offset += k;
    } while (offset < length);

    // Phase 3: close. Sent even after a skipped data phase, so the phone does not keep the block
    // open; if that fails too, the person has already decided about this block.
    req.sub = proto::blockSub(proto::WBlockOKQuery, n);
    req.frame = Link::blockFrame(req.sub, word(n));
    req.interim = false;
    req.failText = writeFailText(17, "WBlockOKQuery", n);
    req.askOnFailure = dataAnswer == StepOutcome::Done;
    switch (request(req)) {
    case Try::Accepted:
    case Try::NoSuchBlock:
    case Try::Lost:
    case Try::Stopped:
    case Try::Retry:
    case Try::Unanswered:
        return dataAnswer;
    case Try::Ignore:
        return StepOutcome::Skipped;
    case Try::Abort:
        return StepOutcome::Aborted;
    }
    return dataAnswer;
}

StepOutcome PhoneTransfer::EraseEEP(int selector) {
    return areaRequest(proto::areaSub(proto::EraseEEPQuery, selector != 0),
                       QStringLiteral("Error №9 (EraseEEPQuery)..."));
}

StepOutcome PhoneTransfer::CollectEEFULLGarbage() {
    return areaRequest(proto::CollectEEFULLGarbageQuery,
                       QStringLiteral("Error №19 (CollectEEFULLGarbageQuery)..."));
}

StepOutcome PhoneTransfer::areaRequest(quint8 sub, const QString& failText) {
    Request req;
    req.sub = sub;
    req.frame = Link::blockFrame(req.sub, {});
    req.timeout = proto::WriteTimeout;
    req.failText = failText;
    switch (request(req)) {
    case Try::Ignore:
    case Try::Unanswered:
        return StepOutcome::Skipped;
    case Try::Abort:
        return StepOutcome::Aborted;
    default:
        return StepOutcome::Done;
    }
}

bool PhoneTransfer::clearedForWriting(const BlockList& toWrite,
                                      const std::optional<HWidRule>& hwidRule) {
    if (const QString text = uncarriableText(toWrite); !text.isEmpty()) {
        ui_.message(text + QStringLiteral("\nNothing was written; correct or leave out the "
                                          "block(s) named, then write again."),
                    QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
        return false;
    }
    if (!hwidRule || hwidRule->anyHWid) return true;
    const QVector<OtherHWid> other = otherHWids(*hwidRule, toWrite);
    return other.isEmpty() ||
           ui_.message(otherHWidQuestion(other, hwidRule->phoneHWid), QString(), Buttons::YesNo,
                       Icon::Exclamation, Button::No) == Button::Yes;
}

void PhoneTransfer::writeRun(const BlockList& blocks, const std::function<bool(int)>& selected,
                             RunResult& result, bool paceRows,
                             const std::function<QString(int row)>& refusal) {
    const qsizetype count = blocks.size(); // counted once, before the loop
    int reached = 0; // blocks of the run written or passed over, for the pace
    for (qsizetype i = 0; i < count; ++i) {
        // The window may sort the list while the run goes on; never read past its end.
        if (i < blocks.size() && (!selected || selected(static_cast<int>(i)))) {
            paceBlock(blocks.at(i).BlockId);
            const QString refused = refusal ? refusal(static_cast<int>(i)) : QString();
            if (!refused.isEmpty())
                ui_.message(refused + QStringLiteral("\nIt was not written."), QString(),
                            Buttons::Ok, Icon::Exclamation, Button::Ok);
            const StepOutcome outcome =
                refused.isEmpty() ? WriteBlock(blocks.at(i)) : StepOutcome::Skipped;
            if (link_.portLost()) {
                result.end = RunEnd::PortLost;
                return;
            }
            if (outcome == StepOutcome::Aborted)
                stop_.request();
            else if (outcome == StepOutcome::Skipped)
                result.skipped.append(blocks.at(i).BlockId);
            else {
                ++result.done;
                written_.append(blocks.at(i));
            }
            if (!paceRows) stepPace(++reached);
        }
        ui_.setProgressValue(static_cast<int>(i + 1));
        if (paceRows) stepPace(static_cast<int>(i + 1));
        if (stop_.requested()) {
            result.end = RunEnd::Stopped;
            return;
        }
    }
}

void PhoneTransfer::beginWriting(qsizetype count, int toWrite) {
    startRun();
    written_.clear();
    ui_.setStatus(QStringLiteral("Writing..."));
    ui_.setProgressRange(0, static_cast<int>(count));
    ui_.setProgressValue(0);
    beginPace(toWrite);
    stop_.clear();
}

RunResult PhoneTransfer::endStopped(RunResult result, RunEnd end) {
    countLink(result);
    ui_.setStatus(QStringLiteral("Stopped."));
    ui_.setProgressValue(0);
    result.end = end;
    return result;
}

RunResult PhoneTransfer::SaveAll(const BlockList& PhoneBlocks,
                                 const std::optional<HWidRule>& hwidRule) {
    RunResult result;
    // Everything that can be checked is checked before EEfull is compacted and EElite erased.
    if (PhoneBlocks.isEmpty() || !clearedForWriting(PhoneBlocks, hwidRule)) {
        result.end = RunEnd::Cancelled;
        return result;
    }
    const PaceEnd paceEnd{*this};
    beginWriting(PhoneBlocks.size(), static_cast<int>(PhoneBlocks.size()));
    const auto stopped = [&](RunEnd end) { return endStopped(result, end); };
    const auto prepare = [&](StepOutcome outcome) -> std::optional<RunEnd> {
        if (link_.portLost()) return RunEnd::PortLost;
        // A "Stop" pressed while the phone compacted EEfull is honoured before EElite is erased.
        if (outcome == StepOutcome::Aborted || stop_.requested()) return RunEnd::Stopped;
        return std::nullopt;
    };
    if (auto end = prepare(CollectEEFULLGarbage())) return stopped(*end);
    if (auto end = prepare(EraseEEP(0))) return stopped(*end);
    if (refreshSpace_) refreshSpace_();

    writeRun(PhoneBlocks, {}, result);
    if (result.end != RunEnd::Completed) {
        // The erase is done: the phone's EElite area now holds only what this run wrote.
        ui_.message(QStringLiteral("\"Save all\" ended after writing %1 of %2 blocks.\nThe EElite "
                                   "area was erased first, so of its blocks the phone now holds "
                                   "only the ones written; EEfull blocks not reached keep their "
                                   "earlier contents. Run \"Save all\" again before the phone "
                                   "is used.")
                        .arg(result.done)
                        .arg(PhoneBlocks.size()),
                    QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
        return stopped(result.end);
    }
    return finishWriting(result);
}

RunResult PhoneTransfer::SaveSelected(const BlockList& PhoneBlocks,
                                      const std::function<bool(int row)>& selected, int toWrite,
                                      const std::optional<HWidRule>& hwidRule) {
    RunResult result;
    if (PhoneBlocks.isEmpty()) {
        result.end = RunEnd::Cancelled;
        return result;
    }
    // The rows selected now are checked (and asked about) before anything is sent.
    QSet<int> checkedRows;
    BlockList chosen;
    for (int row = 0; selected && row < PhoneBlocks.size(); ++row)
        if (selected(row)) {
            checkedRows.insert(row);
            chosen.append(PhoneBlocks.at(row));
        }
    if (!clearedForWriting(chosen, hwidRule)) {
        result.end = RunEnd::Cancelled;
        return result;
    }
    // A row selected later gets no question in the middle of the run: it goes only when it
    // passes the checks as it is.
    const auto refusal = [&](int row) -> QString {
        if (checkedRows.contains(row)) return {};
        const EEPBlock& block = PhoneBlocks.at(row);
        if (QString why = uncarriableText({block}); !why.isEmpty()) return why;
        if (hwidRule && !hwidRule->anyHWid && !otherHWids(*hwidRule, {block}).isEmpty())
            return QStringLiteral("Block %1 was selected during the run and comes from another or "
                                  "no known hardware id.")
                .arg(block.BlockId);
        return {};
    };
    const PaceEnd paceEnd{*this};
    // The run asks for the selection again as it reaches each row: without the caller's count
    // the pace counts rows.
    const bool paceRows = toWrite < 0;
    beginWriting(PhoneBlocks.size(), paceRows ? static_cast<int>(PhoneBlocks.size()) : toWrite);
    writeRun(
        PhoneBlocks, selected ? selected : [](int) { return false; }, result, paceRows, refusal);
    if (result.end != RunEnd::Completed) return endStopped(result, result.end);
    return finishWriting(result);
}

RunResult PhoneTransfer::finishWriting(RunResult result) {
    if (refreshSpace_) refreshSpace_();
    if (verify_ && !written_.isEmpty()) {
        ui_.setStatus(QStringLiteral("Verifying..."));
        result.unverified = verifyWritten(written_, result);
        if (link_.portLost()) return endStopped(result, RunEnd::PortLost);
        if (stop_.requested()) return endStopped(result, RunEnd::Stopped);
        if (!result.unverified.isEmpty()) {
            QStringList ids;
            for (const qint16 id : result.unverified)
                ids << QString::number(id);
            ui_.message(QStringLiteral("Verification failed for block(s) %1: what the phone holds "
                                       "differs from what was written.\nWrite them again, or read "
                                       "them back to see what the phone holds.")
                            .arg(ids.join(QStringLiteral(", "))),
                        QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
            ui_.setStatus(QStringLiteral("Verification failed."));
            countLink(result);
            result.end = RunEnd::Unverified;
            return result;
        }
    }
    countLink(result);
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

QVector<qint16> PhoneTransfer::verifyWritten(const BlockList& written, RunResult& result) {
    beginReads();
    QMap<qint32, bool> same;
    const Conclude judge = [&](qint32 n, const BlockRead*, const BlockRead& read) {
        const qsizetype at = findBlock(written, n);
        same[n] = at >= 0 && read.outcome == ReadOutcome::Read &&
                  read.data == written.at(at).Data && read.version == written.at(at).BlockVer;
    };
    // What was written is the second copy to agree with: one read that matches it confirms the
    // block. Only a read that differs is confirmed by reading again before the block is named.
    const bool verifying = verify_;
    verify_ = false;
    ui_.setProgressRange(0, static_cast<int>(written.size()));
    ui_.setProgressValue(0);
    beginPace(static_cast<int>(written.size()));
    int checked = 0;
    std::optional<ReadOutcome> end;
    for (const EEPBlock& block : written) {
        const qint32 n = block.BlockId;
        end = readForRun(n, judge);
        if (!end && !same.value(n) && concluded_.contains(n)) {
            const BlockRead again = confirmRead(n, {concluded_.value(n)});
            if (again.endsRun()) end = again.outcome;
            else judge(n, nullptr, again);
        }
        if (end) break;
        ui_.setProgressValue(++checked);
        stepPace(checked);
    }
    verify_ = verifying;
    if (!end) end = finishReads(judge);
    if (end == ReadOutcome::Aborted) stop_.request(); // "Abort" ends the verification too
    if (link_.portLost()) return {};
    QVector<qint16> differing;
    for (auto it = same.cbegin(); it != same.cend(); ++it) {
        if (it.value())
            ++result.verified;
        else
            differing.append(static_cast<qint16>(it.key()));
    }
    // Blocks the run did not reach were not verified either.
    for (const EEPBlock& block : written)
        if (!same.contains(block.BlockId)) differing.append(block.BlockId);
    confirmed_ = 0; // counted above, block by block
    return differing;
}

} // namespace x45
