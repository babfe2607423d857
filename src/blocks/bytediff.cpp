#include "bytediff.h"

namespace x45 {

QVector<ByteRange> byteDiff(const ByteStr& a, const ByteStr& b) {
    QVector<ByteRange> ranges;
    const qsizetype common = qMin(a.size(), b.size());
    const char* pa = a.constData();
    const char* pb = b.constData();
    qsizetype i = 0;
    while (i < common) {
        if (pa[i] == pb[i]) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < common && pa[i] != pb[i])
            ++i;
        ranges.append({start, i - start});
    }
    const qsizetype longer = qMax(a.size(), b.size());
    if (longer > common) ranges.append({common, longer - common});
    return ranges;
}

qsizetype byteCount(const QVector<ByteRange>& ranges) {
    qsizetype n = 0;
    for (const ByteRange& r : ranges)
        n += r.length;
    return n;
}

} // namespace x45
