// "Load custom...": reads the typed block numbers and merges them into the Phone's list.

#include "parseblocklist.h"
#include "blocks/copy.h"
#include "request.h"

#include <QHash>

#include <algorithm>

namespace x45 {

RunResult PhoneTransfer::LoadCustom(BlockList& PhoneBlocks) {
    startRun();
    beginReads();
    ui_.setStatus(QStringLiteral("Reading..."));
    stop_.clear();
    return customRun(PhoneBlocks, ui_.askBlockList());
}

RunResult PhoneTransfer::LoadCustom(BlockList& PhoneBlocks, const QString& typedList) {
    startRun();
    beginReads();
    ui_.setStatus(QStringLiteral("Reading..."));
    stop_.clear();
    return customRun(PhoneBlocks, typedList);
}

RunResult PhoneTransfer::customRun(BlockList& PhoneBlocks, const QString& typedList) {
    RunResult result;
    const PaceEnd paceEnd{*this};
    const QString text = typedList.trimmed();
    if (text.isEmpty()) {
        ui_.setStatus(QStringLiteral("Ready"));
        result.end = RunEnd::Cancelled;
        return result;
    }
    QVector<qint32> numbers;
    if (const Status parsed = ParseBlockList(text, numbers); !parsed) {
        ui_.message(parsed.message(), QStringLiteral("Error"), Buttons::Ok, Icon::Exclamation,
                    Button::Ok);
        ui_.setStatus(QStringLiteral("Ready"));
        result.end = RunEnd::Failed;
        return result;
    }

    // The blocks read so far stay in the list.
    const auto stopped = [&](RunEnd end) { return endStopped(result, end); };

    // An area whose highest number the phone did not tell is asked block by block: the phone's
    // own "no such block" answer then decides, instead of every number reading as not found.
    const std::optional<qint32> highLite = MaxBlockQuery(false);
    const std::optional<qint32> highFull = link_.portLost() ? std::nullopt : MaxBlockQuery(true);
    if (link_.portLost()) {
        reportLost();
        return stopped(RunEnd::PortLost);
    }
    const qint32 lastLite =
        std::min<qint32>(highLite.value_or(EEfullFirst - 1), EEfullFirst - 1);
    const qint32 lastFull = highFull.value_or(32767);
    const auto held = [&](qint32 n) {
        return (n >= 0 && n <= lastLite) || (n >= EEfullFirst && n <= lastFull);
    };

    ui_.setProgressRange(0, std::max<int>(1, static_cast<int>(numbers.size())));
    ui_.setProgressValue(0);
    beginPace(static_cast<int>(numbers.size()));
    if (stop_.requested()) return stopped(RunEnd::Stopped);

    const auto notFound = [&](qint32 n) {
        ui_.message(QStringLiteral("Block number %1 not found.").arg(n), QStringLiteral("Error"),
                    Buttons::Ok, Icon::Exclamation, Button::Ok);
    };

    // Blocks this run replaced, as they were: a read that later proves untrustworthy puts the
    // old block back instead of leaving a doubtful one or none.
    QHash<qint32, EEPBlock> replaced;
    const auto store = [&](qint32 n, const BlockRead& read) {
        const qsizetype at = findBlock(PhoneBlocks, n);
        if (at >= 0) {
            if (!replaced.contains(n)) replaced.insert(n, PhoneBlocks[at]);
            PhoneBlocks[at].Data = read.data;
            PhoneBlocks[at].BlockVer = read.version;
        } else {
            PhoneBlocks.append({static_cast<qint16>(n), read.data, read.version});
        }
    };
    const auto missed = [&](qint32 n, const BlockRead& read) {
        notFound(n);
        if (read.outcome == ReadOutcome::Skipped || read.outcome == ReadOutcome::Aborted)
            result.skipped.append(n);
        else
            ++result.notFound;
    };
    // A conclusion drawn, or one replaced by a re-check's confirmed read of the same block.
    const Conclude conclude = [&](qint32 n, const BlockRead* before, const BlockRead& after) {
        if (before && before->held()) {
            --result.done;
            const qsizetype at = findBlock(PhoneBlocks, n);
            if (replaced.contains(n))
                PhoneBlocks[at] = replaced.value(n);
            else if (at >= 0)
                PhoneBlocks.removeAt(at);
        } else if (before) {
            --result.notFound;
        }
        if (after.held()) {
            store(n, after);
            ++result.done;
        } else {
            missed(n, after);
        }
    };

    OverwriteAnswers answers(ui_);
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        const qint32 n = numbers[i];
        const qsizetype at = findBlock(PhoneBlocks, n);
        bool read = true;
        if (at >= 0) {
            const auto decision = answers.decide(
                QStringLiteral("Do you want to reload block %1 from phone?").arg(n));
            read = decision == OverwriteAnswers::Decision::Overwrite;
            if (decision == OverwriteAnswers::Decision::Cancel) stop_.request();
        }
        if (read && !held(n)) {
            notFound(n);
            ++result.notFound;
        } else if (read) {
            if (const std::optional<ReadOutcome> end = readForRun(n, conclude)) {
                if (*end == ReadOutcome::PortLost || link_.portLost()) {
                    reportLost();
                    return stopped(RunEnd::PortLost);
                }
                return stopped(RunEnd::Stopped);
            }
        }
        ui_.setProgressValue(static_cast<int>(i + 1));
        stepPace(static_cast<int>(i + 1));
        if (stop_.requested()) return stopped(RunEnd::Stopped);
    }
    if (const std::optional<ReadOutcome> end = finishReads(conclude)) {
        if (*end == ReadOutcome::PortLost || link_.portLost()) {
            reportLost();
            return stopped(RunEnd::PortLost);
        }
        return stopped(RunEnd::Stopped);
    }
    if (stop_.requested()) return stopped(RunEnd::Stopped);
    countLink(result);
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

} // namespace x45
