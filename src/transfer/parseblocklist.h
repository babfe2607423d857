#pragma once
// The typed list of "Load custom blocks": numbers separated by blanks, "," or ";" in any mix,
// and inclusive ranges "lo-hi" (several hyphens count as one). A hyphen binds only to the text
// directly around it, so "-3" is 0..3 and "1 - 5" is 1, 0, 5.

#include "link/status.h"

#include <QString>
#include <QVector>

namespace x45 {

// A typed list may name at most this many numbers (repetitions and ranges included): four times
// every 16-bit block number, so no sensible list is refused and no typo allocates without bound.
constexpr qsizetype MaxListedBlocks = qsizetype{4} * 65536;

// Appends the numbers of `text` to `numbers` in the order written, repetitions kept. Every number
// must lie within -32768..32767 (numbers are read leniently, exponents allowed, rounded halves to
// even); otherwise, or when the list names more than MaxListedBlocks numbers, nothing is appended
// and the failure names the offending token.
[[nodiscard]] Status ParseBlockList(const QString& text, QVector<qint32>& numbers);

} // namespace x45
