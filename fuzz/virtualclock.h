#pragma once
// An event dispatcher with a virtual clock, for fuzzing code that waits on timers. Posted events
// and due timers run as usual; when a wait would block, the clock jumps to the next timer instead
// of sleeping, so a time-out of seconds passes in microseconds and runs stay fast and repeatable.
// Install it with QCoreApplication::setEventDispatcher before the application object exists.

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimerEvent>

#include <algorithm>
#include <atomic>
#include <functional>
#include <vector>

namespace x45::fuzz {

class VirtualClock final : public QAbstractEventDispatcher {
public:
    // Called when a wait would block with no timer left to end it: nothing can ever wake it.
    std::function<void()> onStuck;

    [[nodiscard]] qint64 nowMs() const { return now_; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override {
        emit awake();
        bool any = posted_.exchange(false);
        QCoreApplication::sendPostedEvents();
        any = fireDue() || any;
        if (any || posted_ || !(flags & QEventLoop::WaitForMoreEvents)) return any;
        if (timers_.empty()) {
            if (onStuck) onStuck();
            return false;
        }
        const auto next =
            std::min_element(timers_.begin(), timers_.end(),
                             [](const Timer& a, const Timer& b) { return a.due < b.due; });
        now_ = std::max(now_, next->due);
        fireDue();
        return true;
    }

    void registerSocketNotifier(QSocketNotifier*) override {}
    void unregisterSocketNotifier(QSocketNotifier*) override {}

    void registerTimer(int id, qint64 interval, Qt::TimerType type, QObject* object) override {
        timers_.push_back({id, interval, type, object, now_ + interval, seq_++});
    }
    bool unregisterTimer(int id) override {
        const auto it = std::find_if(timers_.begin(), timers_.end(),
                                     [id](const Timer& t) { return t.id == id; });
        if (it == timers_.end()) return false;
        timers_.erase(it);
        return true;
    }
    bool unregisterTimers(QObject* object) override {
        const auto before = timers_.size();
        std::erase_if(timers_, [object](const Timer& t) { return t.object == object; });
        return timers_.size() != before;
    }
    [[nodiscard]] QList<TimerInfo> registeredTimers(QObject* object) const override {
        QList<TimerInfo> out;
        for (const Timer& t : timers_)
            if (t.object == object) out.append(TimerInfo(t.id, int(t.interval), t.type));
        return out;
    }
    int remainingTime(int id) override {
        for (const Timer& t : timers_)
            if (t.id == id) return int(std::max<qint64>(0, t.due - now_));
        return -1;
    }
    void wakeUp() override { posted_ = true; }
    void interrupt() override { posted_ = true; }

private:
    struct Timer {
        int id;
        qint64 interval;
        Qt::TimerType type;
        QObject* object;
        qint64 due;
        quint64 seq; // equal due times fire in the order they were started
    };

    // Fires every timer due now, each once, earliest first. A timer may stop or start others.
    bool fireDue() {
        std::vector<Timer> due;
        for (const Timer& t : timers_)
            if (t.due <= now_) due.push_back(t);
        std::sort(due.begin(), due.end(), [](const Timer& a, const Timer& b) {
            return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
        for (const Timer& d : due) {
            const auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) {
                return t.id == d.id && t.seq == d.seq;
            });
            if (it == timers_.end()) continue; // stopped by an earlier one
            it->due = now_ + it->interval;     // repeating timers run on; single shots stop
            QTimerEvent event(d.id);
            QCoreApplication::sendEvent(d.object, &event);
        }
        return !due.empty();
    }

    std::vector<Timer> timers_;
    qint64 now_ = 0;
    quint64 seq_ = 0;
    std::atomic<bool> posted_{false};
};

} // namespace x45::fuzz
