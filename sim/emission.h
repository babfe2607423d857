#pragma once
// What the simulated phone puts on the line: a run of bytes and the pause before it.

#include <QByteArray>
#include <chrono>
#include <vector>

namespace x45sim {

struct Emission {
    QByteArray bytes;
    std::chrono::milliseconds delay{0}; // after the previous emission (or the request) went out
};

using Emissions = std::vector<Emission>;

} // namespace x45sim
