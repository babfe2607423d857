#pragma once
// What the window says at the end of a phone run: the status bar's line, and after a read that
// skipped blocks the message that names them. The counts are those of the command line's summary.

#include <QString>
#include <QVector>

namespace x45 {
struct RunResult;
}

namespace x45::ui {

enum class RunKind {
    LoadAll,    // a run that did not complete keeps nothing
    LoadCustom, // the blocks read before a stop stay in the list
    Write,
    Delete,
};

// "Ready: 219 blocks read, 219 verified" only for a run that did all it was asked with nothing
// skipped, missing or unverified; otherwise what happened ("Done: 218 blocks read, 1 skipped
// (55)", "Stopped: 40 blocks written"). Empty when the run's own status is to stay (nothing was
// done: cancelled, or the port went away and the person was told).
[[nodiscard]] QString runSummary(const RunResult& result, RunKind kind);

// After a read: the blocks passed over with "Ignore" that the Phone's list therefore lacks; empty
// when there are none (or the list kept nothing).
[[nodiscard]] QString skippedMessage(const RunResult& result, RunKind kind);

// "1 block", "219 blocks".
[[nodiscard]] QString blockCount(qsizetype n);

// "5, 7, 9" with at most `most` numbers, then ", ... (12 in all)".
[[nodiscard]] QString numberList(const QVector<qint32>& numbers, int most);

} // namespace x45::ui
