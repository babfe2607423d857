#include "readhistory.h"

#include <algorithm>

namespace x45 {

namespace {
constexpr std::size_t KeepRecent = 2 * ReadHistory::MaxLag + 2;
constexpr std::size_t KeepHeld = ReadHistory::MaxLag + 1;

void push(std::deque<qint32>& q, qint32 n, std::size_t keep) {
    q.push_back(n);
    if (q.size() > keep) q.pop_front();
}
} // namespace

void ReadHistory::clear() {
    anchor();
}

void ReadHistory::add(qint32 n, bool held) {
    push(recent_, n, KeepRecent);
    if (held) push(held_, n, KeepHeld);
    absentRun_ = held ? 0 : absentRun_ + 1;
}

void ReadHistory::anchor() {
    recent_.clear();
    held_.clear();
    absentRun_ = 0;
}

QVector<qint32> ReadHistory::inDoubt(int lag) const {
    lag = std::clamp(lag, 0, MaxLag);
    QVector<qint32> out;
    const auto takeLast = [&out](const std::deque<qint32>& q, std::size_t count) {
        for (auto it = q.rbegin(); it != q.rend() && count > 0; ++it, --count)
            out.append(*it);
    };
    const auto span = static_cast<std::size_t>(lag);
    takeLast(recent_, 2 * span + 2);
    takeLast(held_, span + 1);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

} // namespace x45
