// Typed and stored numbers: the lenient reading and its rounding, the typed list of block numbers
// with its separators and ranges, and the strict list of the commands that write or delete.

#include "blocks/eepblock.h"
#include "blocks/number.h"
#include "transfer/parseblocklist.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace x45;

TEST(ReadNumber, TypedAndStoredTexts) {
    const struct {
        const char* text;
        double value;
        bool exponent = false;
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
        // An exponent only where allowed, and only with its digits.
        {"2.5e+2", 250, true}, {"5e-1", 0.5, true}, {"1D2", 100, true}, {"7E+", 7, true},
        {"E5", 0, true}, {"1e-999999", 0, true},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(readNumber(QString::fromLatin1(c.text), {c.exponent}), c.value) << c.text;
    // Runaway digit strings stay finite or fail; none wraps into a block number.
    const QString huge = QStringLiteral("9").repeated(100000);
    EXPECT_FALSE(toInt16(readNumber(huge)));
    EXPECT_FALSE(toInt16(readNumber("-" + huge)));
    EXPECT_FALSE(toHWid(readNumber(QStringLiteral("&H") + QStringLiteral("F").repeated(5000))));
    EXPECT_FALSE(toInt16(readNumber(QStringLiteral("1e999999"), {true})));
    EXPECT_DOUBLE_EQ(readNumber("0." + QStringLiteral("0").repeated(5000) + "1"), 0);
}

// Halves go to the even neighbour; what does not fit is refused, never wrapped.
TEST(ReadNumber, RoundingIntoRanges) {
    const struct {
        double value;
        std::optional<qint16> result;
    } int16s[] = {
        {0.5, 0},     {1.5, 2},    {2.5, 2},           {-2.5, -2},     {-3.5, -4},
        {2.4999, 2},  {2.5001, 3}, {32767.4, 32767},   {32767.5, {}},  {-32768.5, -32768},
        {-32769, {}}, {65535, {}}, {std::nan(""), {}}, {INFINITY, {}},
    };
    for (const auto& c : int16s)
        EXPECT_EQ(toInt16(c.value), c.result) << c.value;
    EXPECT_EQ(toUInt8(254.5), quint8(254));
    EXPECT_EQ(toUInt8(-0.4), quint8(0));
    EXPECT_FALSE(toUInt8(255.5));
    EXPECT_FALSE(toUInt8(-1));
    EXPECT_FALSE(roundedInRange(100.6, 0, 100));
    // Hardware ids: any 16-bit pattern, written signed or unsigned.
    for (const auto& [value, id] : {std::pair{65535.0, 0xFFFF}, {-1.0, 0xFFFF}, {-32767.0, 0x8001},
                                    {32769.0, 0x8001}, {-32768.0, 0x8000}})
        EXPECT_EQ(toHWid(value), quint16(id)) << value;
    EXPECT_FALSE(toHWid(65536));
    EXPECT_FALSE(toHWid(-32769));
}

TEST(ParseBlockList, TypedTextsAndTheNumbersBeyondSixteenBitsThatAreRefused) {
    const struct {
        const char* text;
        QVector<qint32> numbers;
    } table[] = {
        {"1, 2;3", {1, 2, 3}},     {"5000--5002", {5000, 5001, 5002}},
        {"9-7", {}},               {"-3", {0, 1, 2, 3}},
        {"5-", {}},                {"1-5-9", {1, 2, 3, 4, 5}},
        {"1 - 5", {1, 0, 5}},      {"abc", {0}},
        {"&H1388", {5000}},        {",;,", {0}},
        {"", {0}},                 {"  12  ,,  ; 14 ", {12, 14}},
        {"1e3", {1000}},           {"2.5 3.5 -0.4", {2, 4, 0}},
        {"4-6,5", {4, 5, 6, 5}},   {"32766-32767", {32766, 32767}},
        {"1\t2", {12}},            {"\t7-\t8", {7, 8}}, // tabs are ignored inside a number
        {"32767.4", {32767}},
    };
    for (const auto& row : table) {
        const Result<QVector<qint32>> parsed = parseBlockList(QString::fromLatin1(row.text));
        ASSERT_TRUE(parsed) << row.text << ": " << parsed.message().toStdString();
        EXPECT_EQ(parsed.value(), row.numbers) << row.text;
    }
    // "-32768" is the range 0..32768; 32767.5 rounds to the even 32768.
    for (const char* text : {"-32768", "65537", "1e9", "1e999", "0-99999999", "99999999-1",
                             "&H10000", "32767.5", "1 32768"}) {
        const Result<QVector<qint32>> refused = parseBlockList(QString::fromLatin1(text));
        ASSERT_TRUE(refused.is(ErrorKind::BadInput)) << text;
        EXPECT_TRUE(refused.message().contains(QString::fromLatin1(text).section(' ', -1))) << text;
    }
    // 0..32767 eight times is exactly the most allowed; a long list of numbers stays quick.
    const QString all = QStringLiteral("-32767 ").repeated(8);
    EXPECT_EQ(parseBlockList(all)->size(), MaxListedBlocks);
    EXPECT_TRUE(parseBlockList(all + "1-2").message().contains(QString::number(MaxListedBlocks)));
    EXPECT_EQ(parseBlockList(QStringLiteral("7 ").repeated(100000))->size(), 100000);
}

TEST(ParseBlockListStrict, OnlyNumbersAndAscendingRangesAreTaken) {
    const auto parsed = parseBlockListStrict(" 1, 2;7-9 5000--5002 &H1388 &o17 3 3 ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed.value(), (QVector<qint32>{1, 2, 7, 8, 9, 5000, 5001, 5002, 5000, 15, 3, 3}));
    // What the lenient grammar turns into block 0 or another block is refused, naming the token.
    for (const char* bad : {"abc", "-", "0x10", "1.5", "1e1", "9-7", "1-5-9", "-3", "5-", "+4",
                            "32768", "1 - 5", "1\t2", "2 x7", ",,;"}) {
        const Result<QVector<qint32>> s = parseBlockListStrict(QString::fromLatin1(bad));
        ASSERT_TRUE(s.is(ErrorKind::BadInput)) << bad;
        EXPECT_TRUE(s.message().contains("nothing was sent")) << s.message().toStdString();
    }
    EXPECT_TRUE(parseBlockListStrict("2 x7").message().startsWith("\"x7\""));
    EXPECT_TRUE(parseBlockListStrict(",,;").message().contains("names no block"));
    // The confirmation names all, or the first few and the count.
    EXPECT_EQ(blockNamesText({1, 5012}), "1, 5012");
    EXPECT_EQ(blockNamesText({100, 101, 102, 103, 104}, 3), "100, 101, 102, ... (5 blocks)");
}
