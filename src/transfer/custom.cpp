// "Load custom...": reads the typed block numbers and merges them into the Phone's list.

#include "parseblocklist.h"
#include "request.h"

#include <algorithm>

namespace x45 {

RunResult PhoneTransfer::LoadCustom(BlockList& PhoneBlocks) {
    startRun();
    ui_.setStatus(QStringLiteral("Reading..."));
    ui_.StopProcess = false;
    return customRun(PhoneBlocks, ui_.askBlockList());
}

RunResult PhoneTransfer::LoadCustom(BlockList& PhoneBlocks, const QString& typedList) {
    startRun();
    ui_.setStatus(QStringLiteral("Reading..."));
    ui_.StopProcess = false;
    return customRun(PhoneBlocks, typedList);
}

RunResult PhoneTransfer::customRun(BlockList& PhoneBlocks, const QString& typedList) {
    RunResult result;
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

    const auto stopped = [&](RunEnd end) {
        ui_.setStatus(QStringLiteral("Stopped."));
        ui_.setProgressValue(0);
        result.end = end; // the blocks read so far stay in the list
        return result;
    };

    // An area whose highest number the phone did not tell is asked block by block: the phone's
    // own "no such block" answer then decides, instead of every number reading as not found.
    const std::optional<qint32> highLite = MaxBlockQuery(false);
    const std::optional<qint32> highFull = link_.portLost() ? std::nullopt : MaxBlockQuery(true);
    if (link_.portLost()) {
        reportLost();
        return stopped(RunEnd::PortLost);
    }
    const qint32 lastLite =
        std::min<qint32>(highLite.value_or(proto::EEfullFirst - 1), proto::EEfullFirst - 1);
    const qint32 lastFull = highFull.value_or(32767);
    const auto held = [&](qint32 n) {
        return (n >= 0 && n <= lastLite) || (n >= proto::EEfullFirst && n <= lastFull);
    };

    ui_.setProgressRange(0, std::max<int>(1, static_cast<int>(numbers.size())));
    ui_.setProgressValue(0);
    if (ui_.StopProcess) return stopped(RunEnd::Stopped);

    const auto notFound = [&](qint32 n) {
        ui_.message(QStringLiteral("Block number %1 not found.").arg(n), QStringLiteral("Error"),
                    Buttons::Ok, Icon::Exclamation, Button::Ok);
    };

    int last = 0; // the overwrite question's last answer in this run; none yet
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        const qint32 n = numbers[i];
        const qsizetype at = findBlock(PhoneBlocks, n);
        bool read = true;
        if (at >= 0) {
            if (last != RewriteYesAll && last != RewriteNoAll) {
                last = ui_.askRewrite(
                    QStringLiteral("Do you want to reload block %1 from phone?").arg(n));
                if (last < RewriteYes || last > RewriteCancel)
                    last = RewriteCancel; // a question closed without an answer
            }
            read = last == RewriteYes || last == RewriteYesAll;
            if (!read && last == RewriteCancel) ui_.StopProcess = true;
        }
        if (read && !held(n)) {
            notFound(n);
            ++result.notFound;
        } else if (read) {
            ByteStr data;
            quint8 version = 0;
            const ReadOutcome got = ReadBlock(n, data, version);
            if (got == ReadOutcome::PortLost) return stopped(RunEnd::PortLost);
            const bool store =
                got == ReadOutcome::Read || (got == ReadOutcome::Partial && !data.isEmpty());
            if (store) {
                if (at >= 0) {
                    PhoneBlocks[at].Data = data;
                    PhoneBlocks[at].BlockVer = version;
                } else {
                    PhoneBlocks.append({static_cast<qint16>(n), data, version});
                }
                ++result.done;
            } else {
                notFound(n);
                if (got == ReadOutcome::Skipped || got == ReadOutcome::Aborted)
                    ++result.skipped;
                else
                    ++result.notFound;
                if (got == ReadOutcome::Aborted) ui_.StopProcess = true;
            }
        }
        ui_.setProgressValue(static_cast<int>(i + 1));
        if (ui_.StopProcess) return stopped(RunEnd::Stopped);
    }
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

} // namespace x45
