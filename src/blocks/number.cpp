#include "number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace x45 {

namespace {

// Digit value of an ASCII character in the given base, or -1.
int digitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int v = -1;
    if (u >= u'0' && u <= u'9')
        v = u - u'0';
    else if (u >= u'a' && u <= u'f')
        v = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        v = u - u'A' + 10;
    return v < base ? v : -1;
}

// Hexadecimal or octal digits. Accumulating in double keeps every value exact up to 2^53 and
// lets a runaway digit string end at infinity instead of overflowing an integer.
double readPrefixed(const QString& s, qsizetype pos, int base) {
    double value = 0;
    for (; pos < s.size(); ++pos) {
        const int d = digitValue(s.at(pos), base);
        if (d < 0) break;
        value = value * base + d;
    }
    return value;
}

// Rough decimal order of magnitude of a plain "ddd.ddde-dd" text, used only to tell a value too
// large for a double from one too small: leading zeros and the exponent decide, not the digits.
qint64 decimalMagnitude(const std::string& ascii) {
    const std::size_t ePos = ascii.find('e');
    const std::string mantissa = ascii.substr(0, ePos);
    const std::size_t dot = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t firstNonZero = mantissa.find_first_not_of("0.");
    if (firstNonZero == std::string::npos) return std::numeric_limits<qint64>::min(); // all zeros
    qint64 magnitude =
        firstNonZero < dot ? qint64(dot - firstNonZero) : -qint64(firstNonZero - dot - 1);
    if (ePos != std::string::npos) {
        qint64 exp = 0;
        bool negative = false;
        for (std::size_t i = ePos + 1; i < ascii.size(); ++i) {
            if (ascii[i] == '-')
                negative = true;
            else if (ascii[i] >= '0' && ascii[i] <= '9' && exp < 1'000'000'000)
                exp = exp * 10 + (ascii[i] - '0');
        }
        magnitude += negative ? -exp : exp;
    }
    return magnitude;
}

} // namespace

namespace {

bool isDigit(char16_t u) {
    return u >= u'0' && u <= u'9';
}

// The text without blanks and tabs: they count nowhere, not even between digits ("1 234" is
// 1234).
QString withoutBlanks(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (const QChar c : text)
        if (c != u' ' && c != u'\t') s.append(c);
    return s;
}

// Appends the digits at `pos` to `ascii`, moving `pos` past them; returns how many there were.
qsizetype takeDigits(const QString& s, qsizetype& pos, std::string& ascii) {
    qsizetype n = 0;
    for (; pos < s.size() && isDigit(s.at(pos).unicode()); ++pos, ++n)
        ascii.push_back(static_cast<char>(s.at(pos).unicode()));
    return n;
}

// An exponent at `pos` ("E3", "d-2"), appended to `ascii` only when it is complete: "1E" and
// "1E+" read as 1.
void takeExponent(const QString& s, qsizetype pos, std::string& ascii) {
    if (pos >= s.size()) return;
    const char16_t e = s.at(pos).unicode();
    if (e != u'e' && e != u'E' && e != u'd' && e != u'D') return;
    qsizetype look = pos + 1;
    std::string exp = "e";
    if (look < s.size() && (s.at(look) == u'+' || s.at(look) == u'-'))
        exp.push_back(static_cast<char>(s.at(look++).unicode()));
    if (takeDigits(s, look, exp) > 0) ascii += exp;
}

// A plain "ddd.ddde-dd" text as a double: locale-independent, correctly rounded, and safe with
// any number of digits; beyond a double's range it is infinity or 0.
double fromAscii(const std::string& ascii) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range)
        return decimalMagnitude(ascii) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return ec == std::errc() ? value : 0;
}

} // namespace

double readNumber(const QString& text, NumberOptions options) {
    const QString s = withoutBlanks(text);
    if (s.size() >= 2 && s.at(0) == u'&') {
        const QChar p = s.at(1).toUpper();
        if (p == u'H') return readPrefixed(s, 2, 16);
        if (p == u'O') return readPrefixed(s, 2, 8);
        return 0;
    }
    // The longest number at the start, collected as plain ASCII.
    std::string ascii;
    qsizetype pos = 0;
    bool negative = false;
    if (pos < s.size() && (s.at(pos) == u'+' || s.at(pos) == u'-')) {
        negative = s.at(pos) == u'-';
        ++pos;
    }
    qsizetype digits = takeDigits(s, pos, ascii);
    if (pos < s.size() && s.at(pos) == u'.') {
        ascii.push_back('.');
        ++pos;
        digits += takeDigits(s, pos, ascii);
    }
    if (digits == 0) return 0;
    if (options.exponent) takeExponent(s, pos, ascii);
    const double value = fromAscii(ascii);
    return negative ? -value : value;
}

std::optional<double> readStrictNumber(const QString& text, bool sign) {
    qsizetype from = 0, to = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (from < to && blank(text.at(from)))
        ++from;
    while (to > from && blank(text.at(to - 1)))
        --to;
    const QString s = text.mid(from, to - from);
    if (s.isEmpty()) return std::nullopt;
    int base = 10;
    qsizetype pos = 0;
    bool negative = false;
    if (s.size() >= 2 && s.at(0) == u'&') {
        const QChar p = s.at(1).toUpper();
        if (p == u'H')
            base = 16;
        else if (p == u'O')
            base = 8;
        else
            return std::nullopt;
        pos = 2;
    } else if (sign && (s.at(0) == u'+' || s.at(0) == u'-')) {
        negative = s.at(0) == u'-';
        pos = 1;
    }
    if (pos >= s.size()) return std::nullopt;
    double value = 0;
    for (; pos < s.size(); ++pos) {
        const int d = digitValue(s.at(pos), base);
        if (d < 0) return std::nullopt;
        value = value * base + d;
    }
    return negative ? -value : value;
}

std::optional<qint64> roundedInRange(double value, qint64 lo, qint64 hi) {
    if (!std::isfinite(value)) return std::nullopt;
    // The default floating-point environment rounds to nearest, ties to even.
    const double r = std::nearbyint(value);
    if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) return std::nullopt;
    return static_cast<qint64>(r);
}

std::optional<qint16> toInt16(double value) {
    if (const auto v = roundedInRange(value, std::numeric_limits<qint16>::min(),
                                      std::numeric_limits<qint16>::max()))
        return static_cast<qint16>(*v);
    return std::nullopt;
}

std::optional<quint8> toUInt8(double value) {
    if (const auto v = roundedInRange(value, 0, 255)) return static_cast<quint8>(*v);
    return std::nullopt;
}

std::optional<quint16> toHWid(double value) {
    if (const auto v = roundedInRange(value, -32768, 65535))
        return static_cast<quint16>(static_cast<qint32>(*v) & 0xFFFF);
    return std::nullopt;
}

} // namespace x45
