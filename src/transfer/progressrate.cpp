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

qint64 ProgressRate::now() const {
    return (pauses_ > 0 ? pausedAt_ : clock_()) - pausedMs_;
}

void ProgressRate::pause() {
    if (pauses_++ == 0) pausedAt_ = clock_();
}

void ProgressRate::resume() {
    if (pauses_ > 0 && --pauses_ == 0) pausedMs_ += clock_() - pausedAt_;
}

void ProgressRate::begin(int steps, qint64 wireBytes) {
    steps_ = std::max(steps, 0);
    first_ = {now(), 0, wireBytes};
    window_.assign(1, first_);
}

void ProgressRate::sample(int done, qint64 wireBytes) {
    if (steps_ <= 0) return;
    const Sample s{now(), std::clamp(done, 0, steps_), wireBytes};
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

QStringList paceParts(const ProgressDetail& d) {
    if (d.empty()) return {};
    QStringList parts;
    if (d.recheck)
        parts << (d.recheck->second != d.recheck->first
                      ? QStringLiteral("Re-checking %1 to %2").arg(d.recheck->first).arg(d.recheck->second)
                      : QStringLiteral("Re-checking %1").arg(d.recheck->first));
    else if (d.block)
        parts << QStringLiteral("Block %1 (%2 of %3)").arg(*d.block).arg(d.step).arg(d.steps);
    else
        parts << QStringLiteral("Block %1 of %2").arg(d.step).arg(d.steps);
    if (d.bytesPerSecond >= 0)
        parts << (d.bytesPerSecond < 1000
                      ? QStringLiteral("%1 B/s").arg(qRound(d.bytesPerSecond))
                      : QStringLiteral("%1 kB/s").arg(d.bytesPerSecond / 1000, 0, 'f', 1));
    if (d.secondsLeft >= 0) {
        const qint64 s = d.secondsLeft;
        const QLatin1Char zero('0');
        parts << (s < 60     ? QStringLiteral("%1 s left").arg(s)
                  : s < 3600 ? QStringLiteral("%1 min %2 s left").arg(s / 60).arg(s % 60, 2, 10, zero)
                             : QStringLiteral("%1 h %2 min left")
                                   .arg(s / 3600)
                                   .arg(s / 60 % 60, 2, 10, zero));
    }
    return parts;
}

} // namespace x45
