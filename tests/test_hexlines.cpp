// Hex text conversion and the text helpers shared by the block-file and mapping-file readers.

#include "files/hexlines.h"

#include <gtest/gtest.h>

using namespace x45;

TEST(HexToBytes, ReadsPairsOfEitherCase) {
    EXPECT_EQ(HexToBytes("001aFF"), QByteArray::fromHex("001aff"));
    EXPECT_EQ(HexToBytes("0123456789abcdefABCDEF"), QByteArray::fromHex("0123456789abcdefabcdef"));
    EXPECT_EQ(HexToBytes(""), QByteArray());
}

TEST(HexToBytes, OneBadCharacterDropsTheWholeText) {
    EXPECT_EQ(HexToBytes("001G"), QByteArray());
    EXPECT_EQ(HexToBytes("0011 2"), QByteArray()); // a blank is not a digit
    EXPECT_EQ(HexToBytes("00\t11"), QByteArray());
    EXPECT_EQ(HexToBytes("0x11"), QByteArray());
    EXPECT_EQ(HexToBytes(QByteArray("00\0"
                                    "11",
                                    5)),
              QByteArray());
    EXPECT_EQ(HexToBytes("\xE0\xE1"), QByteArray()); // 8-bit letters are no digits either
}

TEST(HexToBytes, IgnoresALastSingleCharacter) {
    EXPECT_EQ(HexToBytes("0AB"), QByteArray::fromHex("0a"));
    // Only pairs are looked at, so a bad odd last character goes unnoticed.
    EXPECT_EQ(HexToBytes("0AZ"), QByteArray::fromHex("0a"));
    EXPECT_EQ(HexToBytes("F"), QByteArray());
}

TEST(HexToBytes, LinesAsReadFromFiles) {
    EXPECT_EQ(HexToBytes(RemoveSpaces("00 1a FF")), QByteArray::fromHex("001aff"));
    EXPECT_EQ(HexToBytes(RemoveSpaces("00 1G")), QByteArray());
    EXPECT_EQ(HexToBytes(RemoveSpaces("0A B")), QByteArray::fromHex("0a"));
    EXPECT_EQ(HexToBytes(RemoveSpaces(RemoveHexPrefix("0x01 0x02"))), QByteArray::fromHex("0102"));
}

TEST(BytesToHexLines, SixteenBytesPerLineUpperCaseEachFollowedByABlank) {
    EXPECT_TRUE(BytesToHexLines({}).isEmpty());

    QByteArray data;
    for (int i = 0; i < 17; ++i)
        data.append(static_cast<char>(i * 15));
    const QByteArrayList lines = BytesToHexLines(data);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].size(), 48);
    EXPECT_EQ(lines[0].left(12), "00 0F 1E 2D ");
    EXPECT_TRUE(lines[0].endsWith(' '));
    EXPECT_EQ(lines[1], "F0 ");

    EXPECT_EQ(BytesToHexLines(QByteArray(16, '\xAB')).size(), 1);
    EXPECT_EQ(BytesToHexLines(QByteArray(32, '\x01')).size(), 2);
}

TEST(BytesToHexLines, ReadsBackToTheSameBytes) {
    QByteArray data;
    for (int i = 0; i < 300; ++i)
        data.append(static_cast<char>((i * 37 + 11) & 0xFF));
    QByteArray back;
    for (const QByteArray& line : BytesToHexLines(data))
        back += HexToBytes(RemoveSpaces(line));
    EXPECT_EQ(back, data);
}

TEST(TextHelpers, RemoveSpacesTakesBlanksOnly) {
    EXPECT_EQ(RemoveSpaces("  a b  c "), "abc");
    EXPECT_EQ(RemoveSpaces("a\tb\r"), "a\tb\r");
}

TEST(TextHelpers, RemoveHexPrefixTakesLowerCaseXOnly) {
    EXPECT_EQ(RemoveHexPrefix("0x01 0X02 0x0x"), "01 0X02 ");
    // One pass from the left: what the removal joins together stays.
    EXPECT_EQ(RemoveHexPrefix("00xx"), "0x");
}

TEST(TextHelpers, FileTitleSplitsAtEitherSeparator) {
    EXPECT_EQ(FileTitleOf(QStringLiteral("C:\\dumps\\block.bin")), QStringLiteral("block.bin"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("/home/u/dumps/block.txt")), QStringLiteral("block.txt"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("a/b\\c.map")), QStringLiteral("c.map"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("plain.bin")), QStringLiteral("plain.bin"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("dir/")), QString());
}

TEST(TextHelpers, SplitLinesAcceptsEveryLineEnd) {
    EXPECT_EQ(SplitLines("a\r\nb\r\n"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\r\nb"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\nb\n"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\rb"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb"), (QByteArrayList{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\n\rb"), (QByteArrayList{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\r\n"), (QByteArrayList{""}));
    EXPECT_TRUE(SplitLines("").isEmpty());
}

TEST(TextHelpers, TrimTakesBlanksOnly) {
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
    EXPECT_EQ(TrimLeadingBlanks("  a "), "a ");
    EXPECT_EQ(TrimTrailingBlanks("  a "), "  a");
    EXPECT_EQ(TrimBlanks("   "), "");
}
