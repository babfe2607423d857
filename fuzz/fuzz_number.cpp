// Lenient number reading on any text, with and without exponents, and the range checks built on it.

#include "blocks/number.h"
#include "fuzz_common.h"

#include <cmath>

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QString& text : {QString::fromLatin1(bytes), QString::fromUtf8(bytes)}) {
        for (const bool exponent : {false, true}) {
            const double value = readNumber(text, {.exponent = exponent});
            fuzz::require(!std::isnan(value), "a read number is never NaN");
            if (const auto v = toInt16(value))
                fuzz::require(std::fabs(*v - value) <= 0.5, "int16 rounds to the nearest");
            if (const auto v = toUInt8(value))
                fuzz::require(std::fabs(*v - value) <= 0.5, "uint8 rounds to the nearest");
            if (const auto v = roundedInRange(value, -5, 5))
                fuzz::require(*v >= -5 && *v <= 5, "range respected");
            (void)toHWid(value);
        }
    }
    return 0;
}
