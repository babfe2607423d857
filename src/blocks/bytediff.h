#pragma once
// Where two byte strings differ, for the compare dialog and the command line: runs of differing
// offsets folded into ranges, and the tail that only the longer string has.

#include "base/bytes.h"

#include <QVector>

namespace x45 {

struct ByteRange {
    qsizetype offset = 0;
    qsizetype length = 0;
    [[nodiscard]] qsizetype end() const { return offset + length; } // one past the last
    [[nodiscard]] bool contains(qsizetype at) const { return at >= offset && at < end(); }
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// The ranges where a and b differ, ascending: each run of consecutive offsets below the shorter
// length at which the bytes differ is one range; when the lengths differ, the bytes beyond the
// shorter string are one more range, always the last (it starts at the shorter length, even right
// after a run). Empty when the strings are equal.
[[nodiscard]] QVector<ByteRange> byteDiff(const ByteStr& a, const ByteStr& b);

// True when the range is the tail that only the longer of two strings of these sizes has.
[[nodiscard]] inline bool isTail(const ByteRange& range, qsizetype sizeA, qsizetype sizeB) {
    return range.offset >= qMin(sizeA, sizeB);
}

// Number of bytes the ranges cover.
[[nodiscard]] qsizetype byteCount(const QVector<ByteRange>& ranges);

} // namespace x45
