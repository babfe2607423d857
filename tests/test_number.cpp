// Lenient number reading: the table of typed and stored texts and what they read as.

#include "blocks/number.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>

using namespace x45;

TEST(ReadNumber, TypedAndStoredTexts) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"  5077  ", 5077}, {"50 77", 5077}, {"\t-12", -12},     {"+7", 7},
        {"- 3", -3},        {"1.5", 1.5},    {".25", 0.25},      {"7.", 7},
        {"12abc", 12},      {"3-4", 3},      {"1.2.3", 1.2},     {"", 0},
        {"abc", 0},         {"-", 0},        {".", 0},           {"+-5", 0},
        {"00042", 42},      {"1,5", 1},      {"1E3", 1},         {"-32768", -32768},
        {"&H10", 16},       {"&h1f", 31},    {"&HFFFF", 65535},  {"&H 1 0", 16},
        {"&H", 0},          {"&Hxyz", 0},    {"&HFG", 15},       {"&O17", 15},
        {"&o777", 511},     {"&O8", 0},      {"&O78", 7},        {"&X12", 0},
        {"&", 0},           {"-&H10", 0},    {"&H8001", 0x8001}, {"&H7FFFFFFF", 2147483647.0},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(ReadNumber(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(ReadNumber, ExponentOnlyWhereAllowed) {
    const NumberOptions withExp{true};
    EXPECT_DOUBLE_EQ(ReadNumber(QStringLiteral("2.5e+2"), withExp), 250);
    EXPECT_DOUBLE_EQ(ReadNumber(QStringLiteral("5e-1"), withExp), 0.5);
    EXPECT_DOUBLE_EQ(ReadNumber(QStringLiteral("1D2"), withExp), 100);
    // An exponent without digits is not part of the number.
    EXPECT_DOUBLE_EQ(ReadNumber(QStringLiteral("7E+"), withExp), 7);
    EXPECT_DOUBLE_EQ(ReadNumber(QStringLiteral("E5"), withExp), 0);
}

TEST(ReadNumber, RunawayDigitStringsStayFiniteOrFail) {
    const QString huge = QStringLiteral("9").repeated(100000);
    EXPECT_FALSE(toInt16(ReadNumber(huge)));
    EXPECT_FALSE(toInt16(ReadNumber("-" + huge)));
    EXPECT_FALSE(toHWid(ReadNumber(QStringLiteral("&H") + QStringLiteral("F").repeated(5000))));
    EXPECT_FALSE(toInt16(ReadNumber(QStringLiteral("1e999999"), {true})));
    EXPECT_DOUBLE_EQ(ReadNumber(QStringLiteral("1e-999999"), {true}), 0);
    EXPECT_DOUBLE_EQ(ReadNumber("0." + QStringLiteral("0").repeated(5000) + "1"), 0);
}

// Halves go to the even neighbour; what does not fit is refused, never wrapped.
TEST(Rounding, SixteenBitNumbers) {
    const struct {
        double value;
        std::optional<qint16> result;
    } cases[] = {
        {0.5, 0},     {1.5, 2},    {2.5, 2},           {-2.5, -2},     {-3.5, -4},
        {2.4999, 2},  {2.5001, 3}, {32767.4, 32767},   {32767.5, {}},  {-32768.5, -32768},
        {-32769, {}}, {65535, {}}, {std::nan(""), {}}, {INFINITY, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toInt16(c.value), c.result) << c.value;
}

TEST(Rounding, VersionsAndRanges) {
    EXPECT_EQ(toUInt8(254.5), quint8(254));
    EXPECT_EQ(toUInt8(255), quint8(255));
    EXPECT_EQ(toUInt8(-0.4), quint8(0));
    EXPECT_FALSE(toUInt8(255.5));
    EXPECT_FALSE(toUInt8(-1));
    EXPECT_EQ(roundedInRange(-0.5, 0, 100), 0);
    EXPECT_FALSE(roundedInRange(100.6, 0, 100));
    EXPECT_FALSE(roundedInRange(-0.6, 0, 100));
}

TEST(Rounding, HardwareIdsAcceptBothSignedAndUnsignedSpelling) {
    EXPECT_EQ(toHWid(65535), quint16(0xFFFF));
    EXPECT_EQ(toHWid(-1), quint16(0xFFFF));
    EXPECT_EQ(toHWid(-32767), quint16(0x8001));
    EXPECT_EQ(toHWid(32769), quint16(0x8001));
    EXPECT_EQ(toHWid(-32768), quint16(0x8000));
    EXPECT_FALSE(toHWid(65536));
    EXPECT_FALSE(toHWid(-32769));
}
