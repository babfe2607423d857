// "Load custom...": reads the typed block numbers and merges them into the Phone's list.

#include "blocks/copy.h"
#include "parseblocklist.h"
#include "reader.h"

#include <QHash>

#include <algorithm>

namespace x45 {

namespace {

// A run of "Load custom...": the blocks read so far stay in the list whatever the end.
struct LoadCustomRun {
    TransferCore& core;
    BlockReader& reader;
    BlockList& blocks;
    RunResult result;
    // Blocks this run replaced, as they were: a read that later proves untrustworthy puts the
    // old block back instead of leaving a doubtful one or none.
    QHash<qint32, EEPBlock> replaced;
    qint32 lastLite = EEfullFirst - 1;
    qint32 lastFull = HighestBlockNumber;

    void notFound(qint32 n) {
        core.tell(QStringLiteral("Block number %1 not found.").arg(n), QStringLiteral("Error"));
    }

    Status store(qint32 n, const BlockRead& read) {
        const qsizetype at = findBlock(blocks, n);
        if (at >= 0 && !replaced.contains(n)) replaced.insert(n, blocks[at]);
        const auto put = putBlock(blocks, {static_cast<qint16>(n), read.data, read.version});
        return put ? Status::ok() : put.status();
    }

    // A conclusion drawn, or one replaced by a re-check's confirmed read of the same block.
    void conclude(qint32 n, const BlockRead* before, const BlockRead& after) {
        if (before && before->held()) {
            --result.done;
            const qsizetype at = findBlock(blocks, n);
            if (replaced.contains(n))
                blocks[at] = replaced.value(n);
            else if (at >= 0)
                blocks.removeAt(at);
        } else if (before) {
            --result.notFound;
        }
        if (after.held()) {
            if (const Status stored = store(n, after); !stored) {
                core.tell(stored.message()); // the list is full: the block read is not kept
                result.skipped.append(n);
                return;
            }
            ++result.done;
            return;
        }
        notFound(n);
        if (after.outcome == Outcome::Skipped || after.outcome == Outcome::Aborted)
            result.skipped.append(n);
        else
            ++result.notFound;
    }

    // An area whose highest number the phone did not tell is asked block by block: the phone's
    // own "no such block" answer then decides, instead of every number reading as not found.
    void askBounds() {
        const std::optional<qint32> highLite = reader.maxBlockQuery(false);
        const std::optional<qint32> highFull =
            core.link.portLost() ? std::nullopt : reader.maxBlockQuery(true);
        lastLite = std::min<qint32>(highLite.value_or(EEfullFirst - 1), EEfullFirst - 1);
        lastFull = highFull.value_or(HighestBlockNumber);
    }
    [[nodiscard]] bool held(qint32 n) const {
        return (n >= 0 && n <= lastLite) || (n >= EEfullFirst && n <= lastFull);
    }

    // One typed number: asked about when the list holds it, then read; the run's end, if any.
    std::optional<Outcome> readOne(qint32 n, OverwriteAnswers& answers, const Conclude& c) {
        if (findBlock(blocks, n) >= 0) {
            const auto decision = answers.decide(
                QStringLiteral("Do you want to reload block %1 from phone?").arg(n));
            if (decision == OverwriteAnswers::Decision::Cancel) core.stop.request();
            if (decision != OverwriteAnswers::Decision::Overwrite) return std::nullopt;
        }
        if (held(n)) return reader.readForRun(n, c);
        notFound(n);
        ++result.notFound;
        return std::nullopt;
    }

    RunResult run(const QVector<qint32>& numbers) {
        askBounds();
        if (core.link.portLost()) return core.endBy(result, Outcome::PortLost);
        core.ui.setProgressRange(0, std::max<int>(1, static_cast<int>(numbers.size())));
        core.ui.setProgressValue(0);
        core.beginPace(static_cast<int>(numbers.size()));
        if (core.stop.requested()) return core.endBy(result, Outcome::Stopped);
        const Conclude concluder = [this](qint32 n, const BlockRead* before,
                                          const BlockRead& after) { conclude(n, before, after); };
        OverwriteAnswers answers(core.ui);
        for (qsizetype i = 0; i < numbers.size(); ++i) {
            if (const auto end = readOne(numbers[i], answers, concluder))
                return core.endBy(result, *end);
            core.ui.setProgressValue(static_cast<int>(i + 1));
            core.stepPace(static_cast<int>(i + 1));
            if (core.stop.requested()) return core.endBy(result, Outcome::Stopped);
        }
        if (const auto end = reader.finish(concluder)) return core.endBy(result, *end);
        if (core.stop.requested()) return core.endBy(result, Outcome::Stopped);
        result.verified += reader.confirmed();
        return core.endReady(result);
    }
};

} // namespace

RunResult loadCustom(TransferCore& core, BlockReader& reader, BlockList& blocks,
                     const QString& typedList) {
    const TransferCore::PaceEnd paceEnd{core};
    RunResult result;
    const QString text = typedList.trimmed();
    if (text.isEmpty()) {
        core.ui.setStatus(QStringLiteral("Ready"));
        result.end = Outcome::Cancelled;
        return result;
    }
    const Result<QVector<qint32>> parsed = parseBlockList(text);
    if (!parsed) {
        core.tell(parsed.message(), QStringLiteral("Error"));
        core.ui.setStatus(QStringLiteral("Ready"));
        result.end = Outcome::Failed;
        return result;
    }
    LoadCustomRun run{core, reader, blocks, {}, {}};
    return run.run(parsed.value());
}

} // namespace x45
