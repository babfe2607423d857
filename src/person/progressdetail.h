#pragma once
// What a long phone operation tells about its pace besides the progress bar: the block being
// worked on, the bytes per second on the wire and the time left. Computed in the core
// (transfer/progressrate.h); the front ends only show it.

#include <QtGlobal>
#include <optional>
#include <utility>

namespace x45 {

struct ProgressDetail {
    int step = 0;               // the step being worked on, 1..steps
    int steps = 0;              // blocks of the run; 0: no run, nothing to show
    double bytesPerSecond = -1; // both directions on the wire, over the last seconds; < 0 unknown
    qint64 secondsLeft = -1;    // estimated; < 0 not known yet
    std::optional<qint32> block; // the number of the block being read or written
    // Earlier conclusions being read again after a fault: the numbers from first to last.
    std::optional<std::pair<qint32, qint32>> recheck;

    [[nodiscard]] bool empty() const { return steps <= 0; }
};

} // namespace x45
