#pragma once
// How a serial port runs: only the speed varies; 8 data bits, no parity and 1 stop bit always.

#include <QtGlobal>

namespace x45 {

struct PortSettings {
    qint32 baud = 57600;
    friend bool operator==(const PortSettings&, const PortSettings&) = default;
};

} // namespace x45
