#pragma once
// Line figures of a paced run: bytes and modelled wire time each way, and the idle gaps in which
// the line waited for the tool between the end of a reply and the start of the next request.

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
    void idleGap(qint64 micros) { gaps_.push_back(micros); }
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
    [[nodiscard]] qint64 gapTotal() const;
    // Nearest-rank percentile of the idle gaps (0 when there are none); 50 is the median.
    [[nodiscard]] qint64 gapPercentile(double percent) const;

    // "key: value" lines, times in milliseconds with three decimals.
    [[nodiscard]] QString report() const;

private:
    qint64 bytesIn_ = 0, bytesOut_ = 0;
    qint64 wireIn_ = 0, wireOut_ = 0; // nanoseconds
    int requests_ = 0;
    qint64 lag_ = 0;
    std::vector<qint64> gaps_;
};

} // namespace x45sim
