#pragma once
// The typed list of "Load custom blocks": numbers separated by blanks, "," or ";" in any mix,
// and inclusive ranges "lo-hi" (several hyphens count as one). A hyphen binds only to the text
// directly around it, so "-3" is 0..3 and "1 - 5" is 1, 0, 5.

#include "base/status.h"

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

// The list for operations that write or delete, where a typo must not name another block: the
// same separators, but every token is a block number (decimal digits, &H hexadecimal, &O octal)
// within 0..32767, or an ascending range "lo-hi" of two of them. Anything else ("abc", "-",
// "1.5", "0x10", "9-7", a list of separators only) fails with a message naming the token, and
// nothing is appended.
[[nodiscard]] Status ParseBlockListStrict(const QString& text, QVector<qint32>& numbers);

// The block numbers for a confirmation: all of them when there are at most `most`, otherwise
// the first `most`, "..." and the count.
[[nodiscard]] QString blockNamesText(const QVector<qint32>& ids, qsizetype most = 10);

} // namespace x45
