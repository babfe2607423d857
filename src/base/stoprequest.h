#pragma once
// A request to stop a running operation at its next safe point. Each operation that can be stopped
// owns one: it clears it when it starts and looks at it between steps; the person's "Stop" (or
// Ctrl-C) only sets it. Safe to set from another thread and from a signal handler (a lock-free
// atomic flag) while the operation waits.

#include <atomic>

namespace x45 {

class StopRequest {
public:
    void request() { requested_.store(true); }
    void clear() { requested_.store(false); }
    [[nodiscard]] bool requested() const { return requested_.load(); }

private:
    std::atomic<bool> requested_{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace x45
