#pragma once
// Byte strings: every message, reply and block content is a QByteArray holding one 8-bit value
// per element, so that its size is its number of bytes.

#include <QByteArray>
#include <QtGlobal>

namespace x45 {

using ByteStr = QByteArray;

// One byte per element of the array, lowest index first.
[[nodiscard]] ByteStr bytesToStr(const char* data, qsizetype size);

// XOR of all bytes, starting from 0 (0 for an empty string).
[[nodiscard]] quint8 xorSum(const ByteStr& bytes);
[[nodiscard]] quint8 xorSum(const ByteStr& bytes, qsizetype count);

// A 16-bit value as two bytes, low byte first.
[[nodiscard]] ByteStr wordToStr(quint16 value);

// Byte at a 0-based position as an unsigned value (0 when out of range).
[[nodiscard]] inline quint8 byteAt(const ByteStr& bytes, qsizetype pos) {
    return pos >= 0 && pos < bytes.size() ? static_cast<quint8>(bytes.at(pos)) : 0;
}

// 16-bit little-endian word at a 0-based position.
[[nodiscard]] inline quint16 wordAt(const ByteStr& bytes, qsizetype pos) {
    return static_cast<quint16>(byteAt(bytes, pos) | (byteAt(bytes, pos + 1) << 8));
}

// Hex dump with blanks between bytes, upper case ("14 02 16 08 08").
[[nodiscard]] QString toHex(const ByteStr& bytes);

} // namespace x45
