// "Load all": every number of both areas, in ascending order, into an emptied list.

#include "reader.h"

#include <QSet>

#include <algorithm>

namespace x45 {

namespace {

constexpr qint32 HighestEElite = EEfullFirst - 1;

QVector<qint32> sortedNumbers(const QSet<qint32>& numbers) {
    QVector<qint32> out(numbers.begin(), numbers.end());
    std::sort(out.begin(), out.end());
    return out;
}

// A run of "Load all": the list it fills and the numbers the person skipped.
struct LoadAllRun {
    TransferCore& core;
    BlockReader& reader;
    BlockList& blocks;
    RunResult result;
    QSet<qint32> skipped;
    int numbersDone = 0;

    RunResult ended(Outcome end) {
        result.done = int(blocks.size()); // read, then discarded
        blocks.clear(); // a run that did not complete leaves no block at all
        result.skipped = sortedNumbers(skipped);
        result.verified += reader.confirmed();
        return core.endBy(result, end);
    }

    // Stores a block's conclusion in ascending order. Numbers come in that order, but a re-check
    // may amend a conclusion after later blocks were stored: its place is looked for from the end.
    void conclude(qint32 n, const BlockRead& read) {
        qsizetype at = blocks.size();
        while (at > 0 && blocks.at(at - 1).BlockId > n)
            --at;
        if (at > 0 && blocks.at(at - 1).BlockId == n) blocks.removeAt(--at);
        skipped.remove(n);
        if (read.held()) // an empty block the phone confirmed is kept too
            blocks.insert(at, {static_cast<qint16>(n), read.data, read.version});
        else if (read.outcome == Outcome::Skipped)
            skipped.insert(n);
    }

    std::optional<Outcome> readRange(qint32 first, qint32 last, qint32 progressBase,
                                     const Conclude& concluder) {
        for (qint32 n = first; n <= last; ++n) {
            if (const std::optional<Outcome> end = reader.readForRun(n, concluder)) return end;
            core.ui.setProgressValue(progressBase + n - first);
            core.stepPace(++numbersDone);
            if (core.stop.requested()) return Outcome::Stopped;
        }
        return std::nullopt;
    }

    // Both areas' highest numbers; nullopt (the person told) when the phone did not tell them.
    std::optional<std::pair<qint32, qint32>> bounds() {
        const std::optional<qint32> highLite = reader.maxBlockQuery(false);
        const std::optional<qint32> highFull =
            highLite ? reader.maxBlockQuery(true) : std::nullopt;
        if (core.link.portLost()) return std::nullopt;
        // EElite numbers stop below 5000 whatever the phone says; each area is read on its own
        // bounds, so an empty EEfull area never cuts the EElite one short.
        if (highLite && highFull) return std::pair{std::min(*highLite, HighestEElite), *highFull};
        // Without both bounds the run would silently read only part of the EEPROM.
        core.tell(QStringLiteral("The phone did not tell the highest block number of its %1 area "
                                 "(no valid reply to five requests).\nNothing was read. Check "
                                 "the cable and the phone, then try again.")
                      .arg(highLite ? QStringLiteral("EEfull") : QStringLiteral("EElite")));
        return std::nullopt;
    }

    RunResult run() {
        const auto high = bounds();
        if (!high) return ended(core.link.portLost() ? Outcome::PortLost : Outcome::Failed);
        const auto [lastLite, lastFull] = *high;
        const qint32 fullCount = std::max(0, lastFull - EEfullFirst);
        const qint32 progressMax = lastLite + fullCount;
        core.ui.setProgressRange(0, std::max(progressMax, 1));
        core.ui.setProgressValue(0);
        core.beginPace(lastLite + 1 + std::max(0, lastFull - EEfullFirst + 1));
        // A "Stop" pressed during the two queries above takes effect before the first block.
        if (core.stop.requested()) return ended(Outcome::Stopped);
        const Conclude concluder = [this](qint32 n, const BlockRead*, const BlockRead& read) {
            conclude(n, read);
        };
        if (const auto end = readRange(0, lastLite, 0, concluder)) return ended(*end);
        if (const auto end = readRange(EEfullFirst, lastFull, lastLite, concluder))
            return ended(*end);
        if (const auto end = reader.finish(concluder)) return ended(*end);
        if (core.stop.requested()) return ended(Outcome::Stopped);
        if (progressMax < 1) core.ui.setProgressValue(1);
        result.done = int(blocks.size());
        result.skipped = sortedNumbers(skipped);
        result.verified += reader.confirmed();
        return core.endReady(result);
    }
};

} // namespace

RunResult loadAll(TransferCore& core, BlockReader& reader, BlockList& blocks) {
    const TransferCore::PaceEnd paceEnd{core};
    core.startRun(QStringLiteral("Reading..."));
    reader.begin();
    blocks.clear();
    LoadAllRun run{core, reader, blocks, {}, {}, 0};
    return run.run();
}

} // namespace x45
