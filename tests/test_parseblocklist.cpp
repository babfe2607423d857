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
        {"7-9", {7, 8, 9}},
        {"5000--5002", {5000, 5001, 5002}},
        {"9-7", {}},
        {"-3", {0, 1, 2, 3}},
        {"5-", {}},
        {"1-5-9", {1, 2, 3, 4, 5}},
        {"1 - 5", {1, 0, 5}},
        {"abc", {0}},
        {"&H1388", {5000}},
        {"3 3", {3, 3}},
        {",;,", {0}},
        {"", {0}},
        {"  12  ,,  ; 14 ", {12, 14}},
        {"1e3", {1000}},
        {"2.5 3.5 -0.4", {2, 4, 0}},
        {"4-6,5", {4, 5, 6, 5}},
        {"32766-32767", {32766, 32767}},
        {"&o17", {15}},
    };
    for (const auto& row : table)
        EXPECT_EQ(parsed(QString::fromLatin1(row.text)), row.numbers) << row.text;
}

TEST(ParseBlockList, AppendsToWhatIsThere) {
    QVector<qint32> numbers{1};
    ASSERT_TRUE(ParseBlockList("2", numbers).isOk());
    EXPECT_EQ(numbers, (QVector<qint32>{1, 2}));
}

TEST(ParseBlockList, TabsInsideATokenAreIgnoredByTheNumberReading) {
    EXPECT_EQ(parsed("1\t2"), QVector<qint32>{12});
    EXPECT_EQ(parsed("\t7-\t8"), (QVector<qint32>{7, 8}));
}

TEST(ParseBlockList, NumbersBeyondSixteenBitsAreRefusedNotWrapped) {
    EXPECT_TRUE(refusal("1 32768").contains("32768"));
    EXPECT_TRUE(refusal("-32768").contains("-32768")); // the range 0..32768
    EXPECT_TRUE(refusal("65537").contains("65537"));
    EXPECT_TRUE(refusal("1e9").contains("1e9"));
    EXPECT_TRUE(refusal("1e999").contains("1e999"));
    EXPECT_TRUE(refusal("0-99999999").contains("0-99999999"));
    EXPECT_TRUE(refusal("99999999-1").contains("99999999-1"));
    EXPECT_TRUE(refusal("&H10000").contains("&H10000"));
    // Rounding decides: 32767.4 is still block 32767, 32767.5 rounds to the even 32768.
    EXPECT_EQ(parsed("32767.4"), QVector<qint32>{32767});
    EXPECT_TRUE(refusal("32767.5").contains("32767.5"));
}

TEST(ParseBlockList, HugeListsAreBounded) {
    QString all;
    for (int i = 0; i < 8; ++i)
        all += QStringLiteral("-32767 "); // 0..32767, eight times: exactly the most allowed
    EXPECT_EQ(parsed(all).size(), MaxListedBlocks);
    const QString message = refusal(all + "1-2");
    EXPECT_TRUE(message.contains(QString::number(MaxListedBlocks)));

    // A long list of single numbers stays quick to read.
    QString many;
    for (int i = 0; i < 100000; ++i)
        many += QStringLiteral("7 ");
    EXPECT_EQ(parsed(many).size(), 100000);
}
