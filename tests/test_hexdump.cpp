// The hex dump's rows and texts, and the ranges where two byte strings differ.

#include "blocks/bytediff.h"
#include "blocks/hexdump.h"

#include <gtest/gtest.h>

using namespace x45;

namespace {

QByteArray counting(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i & 0xFF);
    return bytes;
}

} // namespace

TEST(HexDump, RowsOffsetsAndTheShortLastRow) {
    EXPECT_EQ(hexdump::rowCount(0), 0);
    EXPECT_EQ(hexdump::rowCount(1), 1);
    EXPECT_EQ(hexdump::rowCount(16), 1);
    EXPECT_EQ(hexdump::rowCount(17), 2);
    EXPECT_EQ(hexdump::rowCount(65535), 4096);
    EXPECT_EQ(hexdump::rowOffset(4095), 65520);
    EXPECT_EQ(hexdump::rowLength(65535, 4095), 15);
    EXPECT_EQ(hexdump::rowLength(65535, 4094), 16);
    EXPECT_EQ(hexdump::rowLength(17, 1), 1);
    EXPECT_EQ(hexdump::rowLength(17, 2), 0);
    EXPECT_EQ(hexdump::rowLength(0, 0), 0);
    EXPECT_EQ(hexdump::offsetText(0), "00000000");
    EXPECT_EQ(hexdump::offsetText(65520), "0000FFF0");

    const QByteArray bytes =
        QByteArray("AB z~", 5) + QByteArray::fromHex("007F80FF") + "0123456789";
    EXPECT_EQ(hexdump::rowHexText(bytes, 0), "41 42 20 7A 7E 00 7F 80 FF 30 31 32 33 34 35 36");
    EXPECT_EQ(hexdump::rowAsciiText(bytes, 0), "AB z~....0123456");
    EXPECT_EQ(hexdump::rowHexText(bytes, 1), "37 38 39");
    EXPECT_EQ(hexdump::rowAsciiText(bytes, 1), "789");
    EXPECT_EQ(hexdump::rowHexText(bytes, 2), "");

    // The printed dump: a short last row is padded so that its ASCII stands under the others'.
    EXPECT_EQ(hexdump::dumpLine(bytes, 0),
              "00000000  41 42 20 7A 7E 00 7F 80 FF 30 31 32 33 34 35 36  AB z~....0123456");
    EXPECT_EQ(hexdump::dumpLine(bytes, 1), "00000010  37 38 39" + QString(39, ' ') + "  789");
}

TEST(HexDump, RangeTextIsClippedAndBreaksEvery16Bytes) {
    const QByteArray bytes = counting(40);
    EXPECT_EQ(hexdump::rangeHexText(bytes, 2, 3), "02 03 04");
    EXPECT_EQ(hexdump::rangeHexText(bytes, 38, 10), "26 27");
    EXPECT_EQ(hexdump::rangeHexText(bytes, -2, 3), "00");
    EXPECT_EQ(hexdump::rangeHexText(bytes, 40, 1), "");
    EXPECT_EQ(hexdump::rangeHexText(bytes, 0, 0), "");
    EXPECT_EQ(hexdump::rangeHexText({}, 0, 5), "");
    // The breaks count from the range's own start.
    EXPECT_EQ(hexdump::rangeHexText(bytes, 4, 18),
              "04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13\n14 15");
}

TEST(ByteDiff, RunsFoldIntoRangesAndTheLongerTailIsTheLastRange) {
    EXPECT_TRUE(byteDiff({}, {}).isEmpty());
    EXPECT_TRUE(byteDiff(counting(300), counting(300)).isEmpty());

    EXPECT_EQ(byteDiff("abcdefgh", "aXYdeZgQ"), (QVector<ByteRange>{{1, 2}, {5, 1}, {7, 1}}));
    EXPECT_EQ(byteDiff("abcdefgh", "ABCDEFGH"), (QVector<ByteRange>{{0, 8}}));

    // Length differences, either way round; a run right before the tail stays a range of its own.
    EXPECT_EQ(byteDiff("abc", "abcd"), (QVector<ByteRange>{{3, 1}}));
    EXPECT_EQ(byteDiff("abcdef", "abX"), (QVector<ByteRange>{{2, 1}, {3, 3}}));
    EXPECT_EQ(byteDiff({}, "xy"), (QVector<ByteRange>{{0, 2}}));

    const QVector<ByteRange> r = byteDiff("abcdef", "abX");
    EXPECT_FALSE(isTail(r[0], 6, 3));
    EXPECT_TRUE(isTail(r[1], 6, 3));
    EXPECT_EQ(byteCount(r), 4);

    // Bytes that only differ in their sign bit still differ.
    EXPECT_EQ(byteDiff(QByteArray::fromHex("00807F"), QByteArray::fromHex("000080")),
              (QVector<ByteRange>{{1, 2}}));
}
