#pragma once
// Line figures of a paced run: bytes and modelled wire time each way, and the idle gaps in which
// the line waited for the tool between the end of a reply and the start of the next request.
// Only the service session counts: the boot handshake's waits are fixed by the scan cadence.

#include <QString>
#include <QtGlobal>
#include <vector>

namespace x45sim {

// Wire time of one byte (start bit, 8 data bits, stop bit) in nanoseconds.
[[nodiscard]] constexpr qint64 byteNanos(qint32 baud) {
    return baud > 0 ? 10'000'000'000LL / baud : 0;
}

class LineStats {
public:
    void toPhone(qsizetype bytes, qint32 baud);
    void fromPhone(qsizetype bytes, qint32 baud);
    // Times are nanoseconds of the system's monotonic clock.
    void idleGap(qint64 replyEnd, qint64 requestStart);
    // Marks a reply in the service session: the session's span runs from the first to the last.
    void sessionReply(qint64 end);
    void request() { ++requests_; }
    // A reply's last byte reached the tool this late against the model (timer resolution).
    void lag(qint64 micros) { lag_ += micros; }

    [[nodiscard]] qint64 bytesToPhone() const { return bytesIn_; }
    [[nodiscard]] qint64 bytesFromPhone() const { return bytesOut_; }
    [[nodiscard]] qint64 wireMicrosToPhone() const { return wireIn_ / 1000; }
    [[nodiscard]] qint64 wireMicrosFromPhone() const { return wireOut_ / 1000; }
    [[nodiscard]] int requests() const { return requests_; }
    [[nodiscard]] qint64 lagMicros() const { return lag_; }
    [[nodiscard]] qsizetype gapCount() const { return static_cast<qsizetype>(gaps_.size()); }
    [[nodiscard]] qint64 gapTotal() const; // micros
    [[nodiscard]] qint64 sessionMicros() const;
    // Nearest-rank percentile of the idle gaps (0 when there are none); 50 is the median.
    [[nodiscard]] qint64 gapPercentile(double percent) const;

    // "key: value" lines, times in milliseconds with three decimals.
    [[nodiscard]] QString report() const;
    // One line per idle gap: the reply's end and the request's arrival, in nanoseconds of the
    // monotonic clock, so that a tool's own timestamps can be set against them.
    [[nodiscard]] QString timeline() const;

private:
    qint64 bytesIn_ = 0, bytesOut_ = 0;
    qint64 wireIn_ = 0, wireOut_ = 0; // nanoseconds
    int requests_ = 0;
    qint64 lag_ = 0;
    struct Gap {
        qint64 replyEnd, requestStart;
        [[nodiscard]] qint64 micros() const { return (requestStart - replyEnd) / 1000; }
    };
    std::vector<Gap> gaps_;
    qint64 sessionStart_ = -1, sessionEnd_ = -1;
};

} // namespace x45sim
