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

void LineStats::idleGap(qint64 replyEnd, qint64 requestStart) {
    gaps_.push_back({replyEnd, std::max(replyEnd, requestStart)});
}

void LineStats::sessionReply(qint64 end) {
    if (sessionStart_ < 0) sessionStart_ = end;
    sessionEnd_ = end;
}

qint64 LineStats::gapTotal() const {
    return std::accumulate(gaps_.begin(), gaps_.end(), qint64{0},
                           [](qint64 sum, const Gap& g) { return sum + g.micros(); });
}

qint64 LineStats::sessionMicros() const {
    return sessionStart_ < 0 ? 0 : (sessionEnd_ - sessionStart_) / 1000;
}

qint64 LineStats::gapPercentile(double percent) const {
    if (gaps_.empty()) return 0;
    std::vector<qint64> sorted;
    sorted.reserve(gaps_.size());
    for (const Gap& g : gaps_)
        sorted.push_back(g.micros());
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
          << QStringLiteral("session ms: %1").arg(ms(sessionMicros()))
          << QStringLiteral("idle gaps: %1").arg(gaps_.size())
          << QStringLiteral("idle ms total: %1").arg(ms(gapTotal()))
          << QStringLiteral("idle ms median: %1").arg(ms(gapPercentile(50)))
          << QStringLiteral("idle ms p99: %1").arg(ms(gapPercentile(99)))
          << QStringLiteral("simulator lag ms total: %1").arg(ms(lag_));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString LineStats::timeline() const {
    QString out;
    for (const Gap& g : gaps_)
        out += QStringLiteral("%1 %2\n").arg(g.replyEnd).arg(g.requestStart);
    return out;
}

} // namespace x45sim
