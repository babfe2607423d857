#pragma once
// A request to stop a running operation at its next safe point. Each operation that can be stopped
// owns one: it clears it when it starts and looks at it between steps; the person's "Stop" (or
// Ctrl-C) only sets it.

namespace x45 {

class StopRequest {
public:
    void request() { requested_ = true; }
    void clear() { requested_ = false; }
    [[nodiscard]] bool requested() const { return requested_; }

private:
    bool requested_ = false;
};

} // namespace x45
