// Hex text conversion and the text helpers shared by the block-file and mapping-file readers.

#include "files/hexlines.h"
#include "files/syspath.h"

#include <gtest/gtest.h>

using namespace x45;

TEST(HexToBytes, PairsOfEitherCaseAndOneBadCharacterDropsTheWholeText) {
    const struct {
        QByteArray text;
        QByteArray bytes;
    } cases[] = {
        {"0123456789abcdefABCDEF", QByteArray::fromHex("0123456789abcdefabcdef")},
        {"", {}},
        {"001G", {}},
        {"0011 2", {}}, // a blank is not a digit
        {"00\t11", {}},
        {"0x11", {}},
        {QByteArray("00\0"
                    "11",
                    5),
         {}},
        {"\xE0\xE1", {}}, // 8-bit letters are no digits either
        {"0AB", QByteArray::fromHex("0a")},
        {"0AZ", QByteArray::fromHex("0a")}, // only pairs are looked at: a bad odd last goes unseen
        {"F", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexToBytes(c.text), c.bytes) << c.text.toStdString();
    EXPECT_EQ(HexToBytes(RemoveSpaces(RemoveHexPrefix("0x01 0x02"))), QByteArray::fromHex("0102"));
}

TEST(BytesToHexLines, SixteenBytesPerLineUpperCaseEachFollowedByABlankAndReadBack) {
    EXPECT_TRUE(BytesToHexLines({}).isEmpty());
    EXPECT_EQ(BytesToHexLines(QByteArray(32, '\x01')).size(), 2);
    QByteArray data;
    for (int i = 0; i < 300; ++i)
        data.append(static_cast<char>((i * 37 + 11) & 0xFF));
    const QByteArrayList lines = BytesToHexLines(data);
    ASSERT_EQ(lines.size(), 19);
    EXPECT_EQ(lines[0].left(12), "0B 30 55 7A ");
    EXPECT_EQ(lines[0].size(), 48);
    EXPECT_EQ(lines[18].size(), 36); // the last 12 bytes
    QByteArray back;
    for (const QByteArray& line : lines)
        back += HexToBytes(RemoveSpaces(line));
    EXPECT_EQ(back, data);
}

TEST(TextHelpers, BlanksAndHexPrefixes) {
    EXPECT_EQ(RemoveSpaces("  a b  c "), "abc");
    EXPECT_EQ(RemoveSpaces("a\tb\r"), "a\tb\r");
    EXPECT_EQ(TrimBlanks("  a b  "), "a b");
    EXPECT_EQ(TrimBlanks("\ta\t"), "\ta\t");
    EXPECT_EQ(TrimLeadingBlanks("  a "), "a ");
    EXPECT_EQ(TrimTrailingBlanks("  a "), "  a");
    EXPECT_EQ(RemoveHexPrefix("0x01 0X02 0x0x"), "01 0X02 ");
    // One pass from the left: what the removal joins together stays.
    EXPECT_EQ(RemoveHexPrefix("00xx"), "0x");
}

TEST(TextHelpers, FileTitleSplitsAtEitherSeparator) {
    EXPECT_EQ(FileTitleOf(QStringLiteral("C:\\dumps\\block.bin")), QStringLiteral("block.bin"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("a/b\\c.map")), QStringLiteral("c.map"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("plain.bin")), QStringLiteral("plain.bin"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("dir/")), QString());
}

TEST(TextHelpers, SplitLinesAcceptsEveryLineEnd) {
    EXPECT_EQ(SplitLines("a\r\nb"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\nb\n"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\rb"), (QByteArrayList{"a", "b"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb"), (QByteArrayList{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\n\rb"), (QByteArrayList{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\r\n"), (QByteArrayList{""}));
    EXPECT_TRUE(SplitLines("").isEmpty());
}

TEST(HexLineFault, NamesTheFirstCharacterThatIsNoHexDigitOrAnOddCount) {
    EXPECT_EQ(hexLineFault("001aFF"), "");
    EXPECT_EQ(hexLineFault(""), "");
    EXPECT_EQ(hexLineFault("8A16ZZ5A"), "\"Z\" is not a hex digit; the line gave no bytes");
    EXPECT_EQ(hexLineFault("0A\t0B"), "the character 0x09 is not a hex digit; the line gave no bytes");
    EXPECT_EQ(hexLineFault("0AB"), "an odd number of hex digits; the last one was dropped");
}

TEST(TextHelpers, QuotedLinesAreCutAndEscaped) {
    EXPECT_EQ(lineExcerpt(QByteArray("a\0b\tc\x7F\x1B\xE9", 8)),
              QString::fromLatin1("a\\x00b\\tc\\x7F\\x1B\xE9")); // 8-bit letters stay
    EXPECT_EQ(lineExcerpt(QByteArray(10 * 1024 * 1024, 'z')), QString(60, 'z') + "...");
    EXPECT_EQ(lineExcerpt(QByteArray(60, 'z')), QString(60, 'z'));
}

// Names are kept byte for byte: two names that differ only in bytes that are no UTF-8 stay two.
TEST(SystemNames, EveryByteSurvivesTheRoundTrip) {
    const QByteArray names[] = {"plain.eep", "n\xFF.eep", "n\xFE.eep", "\xC3\xA9t\xC3.eep",
                                "\xF0\x9F\x98\x80\xED\xA0\x80\xC0\xAF.bin"};
    QStringList decoded;
    for (const QByteArray& name : names) {
        decoded << nameFromSystem(name);
        EXPECT_EQ(nameForSystem(decoded.last()), name) << name.toHex().toStdString();
    }
    EXPECT_NE(decoded[1], decoded[2]);
    EXPECT_EQ(decoded[3].left(2), QStringLiteral("\u00e9t"));
    EXPECT_EQ(shownName(decoded[1]), "n\\xFF.eep");
}
