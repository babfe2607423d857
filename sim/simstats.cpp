#include "simstats.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace x45sim {

void LineStats::toPhone(qsizetype bytes, qint32 baud) {
    bytesIn_ += bytes;
    wireIn_ += bytes * byteNanos(baud);
}

void LineStats::fromPhone(qsizetype bytes, qint32 baud) {
    bytesOut_ += bytes;
    wireOut_ += bytes * byteNanos(baud);
}

qint64 LineStats::gapTotal() const {
    return std::accumulate(gaps_.begin(), gaps_.end(), qint64{0});
}

qint64 LineStats::gapPercentile(double percent) const {
    if (gaps_.empty()) return 0;
    std::vector<qint64> sorted = gaps_;
    std::sort(sorted.begin(), sorted.end());
    const double rank = std::ceil(percent / 100.0 * static_cast<double>(sorted.size()));
    const auto index = static_cast<size_t>(std::clamp(rank, 1.0, double(sorted.size()))) - 1;
    return sorted[index];
}

QString LineStats::report() const {
    const auto ms = [](qint64 micros) { return QString::number(micros / 1000.0, 'f', 3); };
    QStringList lines;
    lines << QStringLiteral("bytes to phone: %1").arg(bytesIn_)
          << QStringLiteral("bytes from phone: %1").arg(bytesOut_)
          << QStringLiteral("wire ms to phone: %1").arg(ms(wireMicrosToPhone()))
          << QStringLiteral("wire ms from phone: %1").arg(ms(wireMicrosFromPhone()))
          << QStringLiteral("requests: %1").arg(requests_)
          << QStringLiteral("idle gaps: %1").arg(gaps_.size())
          << QStringLiteral("idle ms total: %1").arg(ms(gapTotal()))
          << QStringLiteral("idle ms median: %1").arg(ms(gapPercentile(50)))
          << QStringLiteral("idle ms p99: %1").arg(ms(gapPercentile(99)))
          << QStringLiteral("simulator lag ms total: %1").arg(ms(lag_));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace x45sim
