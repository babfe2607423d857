#pragma once
// Lenient number reading, shared by every reader of typed or stored numbers: blanks and tabs are
// ignored; an optional sign, decimal digits and an optional fraction (and exponent where allowed)
// are taken up to the first other character; &H and &O introduce hexadecimal and octal digits;
// text without a number reads as 0.

#include <QString>
#include <optional>

namespace x45 {

struct NumberOptions {
    bool exponent = false; // accept "1E3"
};

[[nodiscard]] double readNumber(const QString& text, NumberOptions options = {});

// The whole text (blanks and tabs at its ends aside) as one whole number: decimal digits (with a
// sign when `sign` is true), &H and hexadecimal digits, or &O and octal digits. nullopt for
// anything else: no digits, a fraction, an exponent, "0x", or characters after the number.
[[nodiscard]] std::optional<double> readStrictNumber(const QString& text, bool sign);

// Rounds to the nearest whole number, halves to the even neighbour, and checks the range; nullopt
// when the value does not fit.
[[nodiscard]] std::optional<qint64> roundedInRange(double value, qint64 lo, qint64 hi);

[[nodiscard]] std::optional<qint16> toInt16(double value);   // -32768..32767
[[nodiscard]] std::optional<quint8> toUInt8(double value);   // 0..255
// Hardware ids: any 16-bit pattern, written signed or unsigned (-32768..65535).
[[nodiscard]] std::optional<quint16> toHWid(double value);

} // namespace x45
