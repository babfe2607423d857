#pragma once
// The pace of a run of blocks: bytes per second on the wire and the time left.
//
// The rate is taken over a sliding window of the last seconds, so that a stretch of long blocks
// or a spell of retries shows within seconds and an earlier one stops counting. The time left is
// the number of blocks still to come times the time per block over the same window (over the
// whole run while the window holds too few finished blocks). Blocks rather than bytes, because a
// read does not know how long the blocks still to come are, and most numbers of a "Load all" hold
// no block and cost one short exchange: the mix seen over the last seconds is the best guess at
// the mix still to come, for reads and writes alike.

#include "person/progressdetail.h"

#include <QStringList>
#include <QtGlobal>
#include <deque>
#include <functional>

namespace x45 {

class ProgressRate {
public:
    // Milliseconds on a monotonic clock; tests give their own.
    using Clock = std::function<qint64()>;
    static constexpr qint64 WindowMs = 10000;   // the sliding window
    static constexpr qint64 MinSpanMs = 1000;   // no rate is given over a shorter time
    static constexpr qint64 SampleGapMs = 100;  // samples closer than this are merged
    static constexpr int MinWindowSteps = 3;    // fewer finished blocks: time per block of the run

    explicit ProgressRate(Clock clock = {});

    // A run of `steps` blocks starts; wireBytes counts the bytes on the wire both ways so far.
    void begin(int steps, qint64 wireBytes);
    // `done` blocks are finished (the next one is being worked on); the bytes counted so far.
    void sample(int done, qint64 wireBytes);
    void end() { steps_ = 0; }
    // The clock stands still from pause() to resume() (a question waiting for the person);
    // nested pairs count once.
    void pause();
    void resume();

    [[nodiscard]] ProgressDetail detail() const;
    [[nodiscard]] bool running() const { return steps_ > 0; }
    [[nodiscard]] int steps() const { return steps_; }
    // Milliseconds of the run's own time: the clock less the time spent paused.
    [[nodiscard]] qint64 now() const;

private:
    struct Sample {
        qint64 ms;
        int done;
        qint64 bytes;
    };
    Clock clock_;
    qint64 pausedMs_ = 0;
    qint64 pausedAt_ = 0;
    int pauses_ = 0;
    std::deque<Sample> window_;
    Sample first_{0, 0, 0};
    int steps_ = 0;
};

// The pace as the front ends show it, part by part: what is being done ("Block 60 (61 of 5582)",
// "Re-checking 470-479"), the rate, the time left. Empty when no run is going on.
[[nodiscard]] QStringList paceParts(const ProgressDetail& detail);

} // namespace x45
