// The typed list of block numbers: separators, ranges, the lenient number reading, and the
// numbers beyond 16 bits that must be refused instead of wrapping into other blocks.

#include "transfer/parseblocklist.h"

#include <gtest/gtest.h>

using namespace x45;

namespace {

QVector<qint32> parsed(const QString& text) {
    QVector<qint32> numbers;
    const Status status = ParseBlockList(text, numbers);
    EXPECT_TRUE(status.isOk()) << text.toStdString() << ": " << status.message().toStdString();
    return numbers;
}

QString refusal(const QString& text) {
    QVector<qint32> numbers{42};
    const Status status = ParseBlockList(text, numbers);
    EXPECT_FALSE(status.isOk()) << text.toStdString();
    EXPECT_EQ(numbers, QVector<qint32>{42}) << "nothing is appended on failure";
    return status.message();
}

} // namespace

TEST(ParseBlockList, TypedTexts) {
    const struct {
        const char* text;
        QVector<qint32> numbers;
    } table[] = {
        {"1, 2;3", {1, 2, 3}},
        {"5000--5002", {5000, 5001, 5002}},
        {"9-7", {}},
        {"-3", {0, 1, 2, 3}},
        {"5-", {}},
        {"1-5-9", {1, 2, 3, 4, 5}},
        {"1 - 5", {1, 0, 5}},
        {"abc", {0}},
        {"&H1388", {5000}},
        {",;,", {0}},
        {"", {0}},
        {"  12  ,,  ; 14 ", {12, 14}},
        {"1e3", {1000}},
        {"2.5 3.5 -0.4", {2, 4, 0}},
        {"4-6,5", {4, 5, 6, 5}},
        {"32766-32767", {32766, 32767}},
        {"1\t2", {12}}, // tabs are ignored inside a number
        {"\t7-\t8", {7, 8}},
    };
    for (const auto& row : table)
        EXPECT_EQ(parsed(QString::fromLatin1(row.text)), row.numbers) << row.text;
    QVector<qint32> numbers{1};
    ASSERT_TRUE(ParseBlockList("2", numbers).isOk());
    EXPECT_EQ(numbers, (QVector<qint32>{1, 2})) << "appends to what is there";
}

TEST(ParseBlockList, NumbersBeyondSixteenBitsAreRefusedNotWrapped) {
    // "-32768" is the range 0..32768; 32767.5 rounds to the even 32768.
    for (const char* text :
         {"-32768", "65537", "1e9", "1e999", "0-99999999", "99999999-1", "&H10000", "32767.5"})
        EXPECT_TRUE(refusal(text).contains(text)) << text;
    EXPECT_TRUE(refusal("1 32768").contains("32768"));
    EXPECT_EQ(parsed("32767.4"), QVector<qint32>{32767});
}

TEST(ParseBlockList, HugeListsAreBounded) {
    // 0..32767 eight times is exactly the most allowed.
    const QString all = QStringLiteral("-32767 ").repeated(8);
    EXPECT_EQ(parsed(all).size(), MaxListedBlocks);
    EXPECT_TRUE(refusal(all + "1-2").contains(QString::number(MaxListedBlocks)));
    // A long list of single numbers stays quick to read.
    EXPECT_EQ(parsed(QStringLiteral("7 ").repeated(100000)).size(), 100000);
}

TEST(ParseBlockListStrict, OnlyNumbersAndAscendingRangesAreTaken) {
    QVector<qint32> numbers;
    ASSERT_TRUE(ParseBlockListStrict(" 1, 2;7-9 5000--5002 &H1388 &o17 3 3 ", numbers).isOk());
    EXPECT_EQ(numbers,
              (QVector<qint32>{1, 2, 7, 8, 9, 5000, 5001, 5002, 5000, 15, 3, 3}));

    // What the lenient grammar turns into block 0 or another block is refused, naming the token.
    for (const char* bad : {"abc", "-", "0x10", "1.5", "1e1", "9-7", "1-5-9", "-3", "5-", "+4",
                            "32768", "1 - 5", "1\t2", "2 x7"}) {
        SCOPED_TRACE(bad);
        QVector<qint32> kept{42};
        const Status s = ParseBlockListStrict(QString::fromLatin1(bad), kept);
        ASSERT_FALSE(s.isOk());
        EXPECT_EQ(kept, QVector<qint32>{42});
        EXPECT_TRUE(s.message().contains("nothing was sent")) << s.message().toStdString();
    }
    QVector<qint32> kept;
    EXPECT_TRUE(ParseBlockListStrict("2 x7", kept).message().startsWith("\"x7\""));
    EXPECT_TRUE(ParseBlockListStrict(",,;", kept).message().contains("names no block"));
}

TEST(ParseBlockListStrict, ConfirmationNamesAllOrTheFirstFewAndTheCount) {
    EXPECT_EQ(blockNamesText({1, 5012}), "1, 5012");
    QVector<qint32> many;
    for (qint32 n = 100; n < 112; ++n)
        many.append(n);
    EXPECT_EQ(blockNamesText(many, 3), "100, 101, 102, ... (12 blocks)");
}
