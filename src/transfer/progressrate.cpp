#include "progressrate.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <memory>

namespace x45 {

ProgressRate::ProgressRate(Clock clock) : clock_(std::move(clock)) {
    if (!clock_) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        clock_ = [timer] { return timer->elapsed(); };
    }
}

void ProgressRate::begin(int steps, qint64 wireBytes) {
    steps_ = std::max(steps, 0);
    first_ = {clock_(), 0, wireBytes};
    window_.assign(1, first_);
}

void ProgressRate::sample(int done, qint64 wireBytes) {
    if (steps_ <= 0) return;
    const Sample s{clock_(), std::clamp(done, 0, steps_), wireBytes};
    // Samples come after every exchange; one per SampleGapMs is plenty and keeps the window short.
    if (window_.size() >= 2 && s.ms - window_[window_.size() - 2].ms < SampleGapMs)
        window_.back() = s;
    else
        window_.push_back(s);
    // Keep one sample at or before the window's start, so the window spans all of it.
    while (window_.size() >= 2 && window_[1].ms <= s.ms - WindowMs)
        window_.pop_front();
}

ProgressDetail ProgressRate::detail() const {
    ProgressDetail d;
    if (steps_ <= 0 || window_.empty()) return d;
    const Sample& last = window_.back();
    const Sample& oldest = window_.front();
    d.steps = steps_;
    d.step = std::min(last.done + 1, steps_);
    const qint64 span = last.ms - oldest.ms;
    if (span >= MinSpanMs) d.bytesPerSecond = double(last.bytes - oldest.bytes) * 1000.0 / span;

    const int left = steps_ - last.done;
    if (left <= 0) {
        d.secondsLeft = 0;
        return d;
    }
    double msPerStep = -1;
    const int windowSteps = last.done - oldest.done;
    if (windowSteps >= MinWindowSteps && span >= MinSpanMs)
        msPerStep = double(span) / windowSteps;
    else if (last.done > 0 && last.ms - first_.ms >= MinSpanMs)
        msPerStep = double(last.ms - first_.ms) / last.done;
    if (msPerStep >= 0) d.secondsLeft = std::llround(msPerStep * left / 1000.0);
    return d;
}

} // namespace x45
