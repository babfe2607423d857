#pragma once
// The typed list of "Load custom blocks": numbers separated by blanks, "," or ";" in any mix,
// and inclusive ranges "lo-hi" (several hyphens count as one). A hyphen binds only to the text
// directly around it, so "-3" is 0..3 and "1 - 5" is 1, 0, 5.

#include "base/result.h"

#include <QString>
#include <QVector>

namespace x45 {

// A typed list may name at most this many numbers (repetitions and ranges included): four times
// every 16-bit block number, so no sensible list is refused and no typo allocates without bound.
constexpr qsizetype MaxListedBlocks = qsizetype{4} * 65536;

// The numbers of `text` in the order written, repetitions kept. Every number must lie within
// -32768..32767 (numbers are read leniently, exponents allowed, rounded halves to even);
// otherwise, or when the list names more than MaxListedBlocks numbers, the failure (kind
// BadInput) names the offending token.
[[nodiscard]] Result<QVector<qint32>> parseBlockList(const QString& text);
// The list for operations that write or delete, where a typo must not name another block: the
// same separators, but every token is a block number (decimal digits, &H hexadecimal, &O octal)
// within 0..32767, or an ascending range "lo-hi" of two of them. Anything else ("abc", "-",
// "1.5", "0x10", "9-7", a list of separators only) fails (kind BadInput) with a message naming
// the token.
[[nodiscard]] Result<QVector<qint32>> parseBlockListStrict(const QString& text);

// The block numbers for a confirmation: all of them when there are at most `most`, otherwise
// the first `most`, "..." and the count.
[[nodiscard]] QString blockNamesText(const QVector<qint32>& ids, qsizetype most = 10);

} // namespace x45
