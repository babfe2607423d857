// "Save all" and "Save selected": the checks before the first frame, the run, and the read-back
// of what was written when verifying.

#include "writer.h"

#include <QMap>
#include <QSet>
#include <QStringList>

namespace x45 {

RunResult BlockWriter::saveAll(const BlockList& blocks, const std::optional<HWidRule>& hwidRule) {
    RunResult result;
    // Everything that can be checked is checked before EEfull is compacted and EElite erased.
    if (blocks.isEmpty() || !clearedForWriting(blocks, hwidRule)) {
        result.end = Outcome::Cancelled;
        return result;
    }
    const TransferCore::PaceEnd paceEnd{core_};
    beginWriting(blocks.size(), static_cast<int>(blocks.size()));
    const auto prepare = [&](Outcome outcome) -> std::optional<Outcome> {
        if (core_.link.portLost()) return Outcome::PortLost;
        // A "Stop" pressed while the phone compacted EEfull is honoured before EElite is erased.
        if (outcome == Outcome::Aborted || core_.stop.requested()) return Outcome::Stopped;
        return std::nullopt;
    };
    if (auto end = prepare(collectGarbage())) return core_.endStopped(result, *end);
    const Outcome erased = eraseArea(false);
    if (auto end = prepare(erased)) return core_.endStopped(result, *end);
    core_.refresh();

    writeRun(blocks, {}, result);
    if (result.end != Outcome::Done) {
        // The erase is done: the phone's EElite area now holds only what this run wrote.
        core_.tell(QStringLiteral("\"Save all\" ended after writing %1 of %2 blocks.\nThe EElite "
                                  "area was erased first, so of its blocks the phone now holds "
                                  "only the ones written; EEfull blocks not reached keep their "
                                  "earlier contents. Run \"Save all\" again before the phone "
                                  "is used.")
                       .arg(result.done)
                       .arg(blocks.size()));
        return core_.endStopped(result, result.end);
    }
    result = finishWriting(result);
    if (erased != Outcome::Done && result.completed()) {
        // "Ignore" on the erase: blocks the list does not hold may still be on the phone.
        core_.tell(QStringLiteral("The phone did not confirm that it erased the EElite area, so "
                                  "EElite blocks that the list does not hold may still be on "
                                  "it.\nRead the phone back with \"Load all\" to check, or run "
                                  "\"Save all\" again."));
        core_.ui.setStatus(QStringLiteral("Erase not confirmed."));
        result.end = Outcome::Unverified;
    }
    return result;
}

RunResult BlockWriter::saveSelected(const BlockList& blocks,
                                    const std::function<bool(int row)>& selected, int toWrite,
                                    const std::optional<HWidRule>& hwidRule) {
    RunResult result;
    result.end = Outcome::Cancelled;
    if (blocks.isEmpty()) return result;
    // The rows selected now are checked (and asked about) before anything is sent.
    QSet<int> checkedRows;
    BlockList chosen;
    for (int row = 0; selected && row < blocks.size(); ++row)
        if (selected(row)) {
            checkedRows.insert(row);
            chosen.append(blocks.at(row));
        }
    if (!clearedForWriting(chosen, hwidRule)) return result;
    result.end = Outcome::Done;
    // A row selected later gets no question in the middle of the run: it goes only when it
    // passes the checks as it is.
    const auto refusal = [&](int row) -> Status {
        if (checkedRows.contains(row)) return Status::ok();
        const EEPBlock& block = blocks.at(row);
        if (Status carriable = checkCarriable({block}); !carriable) return carriable;
        if (hwidRule && !hwidRule->anyHWid && !otherHWids(*hwidRule, {block}).isEmpty())
            return Status::fail(ErrorKind::Refused,
                                QStringLiteral("Block %1 was selected during the run and comes "
                                               "from another or no known hardware id.")
                                    .arg(block.BlockId));
        return Status::ok();
    };
    const TransferCore::PaceEnd paceEnd{core_};
    // The run asks for the selection again as it reaches each row: without the caller's count
    // the pace counts rows.
    const bool paceRows = toWrite < 0;
    beginWriting(blocks.size(), paceRows ? static_cast<int>(blocks.size()) : toWrite);
    writeRun(blocks, selected ? selected : [](int) { return false; }, result, paceRows, refusal);
    if (result.end != Outcome::Done) return core_.endStopped(result, result.end);
    return finishWriting(result);
}

RunResult BlockWriter::finishWriting(RunResult result) {
    core_.refresh();
    if (!core_.verify || written_.isEmpty()) return core_.endReady(result);
    core_.ui.setStatus(QStringLiteral("Verifying..."));
    result.unverified = verifyWritten(result);
    if (core_.link.portLost()) return core_.endStopped(result, Outcome::PortLost);
    if (core_.stop.requested()) return core_.endStopped(result, Outcome::Stopped);
    if (result.unverified.isEmpty()) return core_.endReady(result);
    QStringList ids;
    for (const qint16 id : result.unverified)
        ids << QString::number(id);
    core_.tell(QStringLiteral("Verification failed for block(s) %1: what the phone holds "
                              "differs from what was written.\nWrite them again, or read "
                              "them back to see what the phone holds.")
                   .arg(ids.join(QStringLiteral(", "))));
    core_.ui.setStatus(QStringLiteral("Verification failed."));
    core_.countLink(result);
    result.end = Outcome::Unverified;
    return result;
}

QVector<qint16> BlockWriter::verifyWritten(RunResult& result) {
    reader_.begin();
    QMap<qint32, bool> same;
    const Conclude judge = [&](qint32 n, const BlockRead*, const BlockRead& read) {
        const qsizetype at = findBlock(written_, n);
        same[n] = at >= 0 && read.held() && read.data == written_.at(at).Data &&
                  read.version == written_.at(at).BlockVer;
    };
    // What was written is the second copy to agree with: one read that matches it confirms the
    // block. Only a read that differs is confirmed by reading again before the block is named.
    const bool verifying = core_.verify;
    core_.verify = false;
    core_.ui.setProgressRange(0, static_cast<int>(written_.size()));
    core_.ui.setProgressValue(0);
    core_.beginPace(static_cast<int>(written_.size()));
    int checked = 0;
    std::optional<Outcome> end;
    for (const EEPBlock& block : std::as_const(written_)) {
        const qint32 n = block.BlockId;
        end = reader_.readForRun(n, judge);
        if (const auto first = reader_.concluded(n); !end && !same.value(n) && first) {
            const BlockRead again = reader_.confirmRead(n, {*first});
            if (endsRun(again.outcome))
                end = again.outcome;
            else
                judge(n, nullptr, again);
        }
        if (end) break;
        core_.ui.setProgressValue(++checked);
        core_.stepPace(checked);
    }
    core_.verify = verifying;
    if (!end) end = reader_.finish(judge);
    if (end == Outcome::Aborted) core_.stop.request(); // "Abort" ends the verification too
    if (core_.link.portLost()) return {};
    QVector<qint16> differing;
    for (auto it = same.cbegin(); it != same.cend(); ++it) {
        if (it.value())
            ++result.verified;
        else
            differing.append(static_cast<qint16>(it.key()));
    }
    // Blocks the run did not reach were not verified either.
    for (const EEPBlock& block : std::as_const(written_))
        if (!same.contains(block.BlockId)) differing.append(block.BlockId);
    return differing;
}

} // namespace x45
