#pragma once
// The hex dump of a block's bytes, one rule for the window's viewer and the command line: rows of
// 16 bytes, each an 8-digit hex offset, the bytes in hex and their ASCII (0x20..0x7E as
// themselves, every other byte as '.').

#include "base/bytes.h"

#include <QChar>
#include <QString>

namespace x45::hexdump {

constexpr int RowBytes = 16;

// Rows needed for `size` bytes; the last may be short, and 0 bytes need no row.
[[nodiscard]] qsizetype rowCount(qsizetype size);
// Offset of a row's first byte.
[[nodiscard]] constexpr qsizetype rowOffset(qsizetype row) {
    return row * RowBytes;
}
// Bytes a row holds of a string of `size` bytes: RowBytes, fewer in a short last row, 0 beyond.
[[nodiscard]] int rowLength(qsizetype size, qsizetype row);

// "0000ABCD".
[[nodiscard]] QString offsetText(qsizetype offset);
// "0A".
[[nodiscard]] QString byteText(quint8 value);
// What the ASCII column shows for one byte.
[[nodiscard]] QChar asciiChar(quint8 value);

// A row's bytes in hex, separated by blanks ("41 42 FF"), only as many as the row holds.
[[nodiscard]] QString rowHexText(const ByteStr& bytes, qsizetype row);
// A row's bytes as ASCII.
[[nodiscard]] QString rowAsciiText(const ByteStr& bytes, qsizetype row);

// Bytes from..from+count-1 (clipped to the string) in hex, separated by blanks, a line break after
// every RowBytes bytes: the text a copied selection gives.
[[nodiscard]] QString rangeHexText(const ByteStr& bytes, qsizetype from, qsizetype count);

// One line of the printed dump: offset, the hex bytes (a short row padded so that its ASCII lines
// up with the rows above) and the ASCII, separated by two blanks.
[[nodiscard]] QString dumpLine(const ByteStr& bytes, qsizetype row);

} // namespace x45::hexdump
