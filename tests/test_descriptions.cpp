// The description table: reading records and looking descriptions up.

#include "blocks/descriptions.h"

#include "tempfolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace x45;

TEST(Descriptions, FirstMatchWinsWithoutTheHardwareCheckWhichNeedsAnEqualId) {
    Descriptions d;
    d.parse("1\nold\n0\n");
    EXPECT_EQ(d.parse("5077\r\nfor one\r\n1\r\n5077\r\nfor two\r\n2\r\n20\r\nany\r\n0\r\n"), 0);
    ASSERT_EQ(d.size(), 3); // parsing again replaced the table
    EXPECT_EQ(d.describe(5077, 2, false), "for one");
    EXPECT_EQ(d.describe(5078, 1, false), QString());
    EXPECT_EQ(d.describe(5077, 2, true), "for two");
    EXPECT_EQ(d.describe(5077, 1, true), "for one");
    EXPECT_EQ(d.describe(5077, 3, true), QString());
    EXPECT_EQ(d.describe(5077, 0, true), QString());
    EXPECT_EQ(d.describe(20, 0, true), "any");
    EXPECT_EQ(d.describe(20, 7, true), QString());

    // Hardware ids written signed or unsigned.
    d.parse("1\nneg\n-1\n2\nhex\n&HFFFF\n3\nhigh\n32769\n");
    EXPECT_EQ(d.describe(1, 0xFFFF, true), "neg");
    EXPECT_EQ(d.describe(2, 0xFFFF, true), "hex");
    EXPECT_EQ(d.describe(3, 0x8001, true), "high");
}

TEST(Descriptions, LinesAreTakenAsTheyAre) {
    Descriptions d;
    // LF endings, leading blanks kept in the text, blank lines count as record lines, numbers
    // read leniently (blanks inside, rounding halves to even, no number reads 0).
    d.parse("  50 77 \n   Indented text \n\n\nblank-number record\nnothing\n2.5\nrounded\n&H10\n");
    ASSERT_EQ(d.size(), 3);
    EXPECT_EQ(d.entries()[0].blockId, 5077);
    EXPECT_EQ(d.entries()[0].text, "   Indented text ");
    EXPECT_EQ(d.entries()[0].hwid, 0);
    EXPECT_EQ(d.entries()[1].blockId, 0);
    EXPECT_EQ(d.entries()[1].text, "blank-number record");
    EXPECT_EQ(d.entries()[2].blockId, 2);
    EXPECT_EQ(d.entries()[2].hwid, 16);
}

TEST(Descriptions, IncompleteLastRecordAndOutOfRangeNumbersAreSkipped) {
    Descriptions d;
    EXPECT_EQ(d.parse("40000\ntoo big\n0\n7\nbad hwid\n70000\n8\nkept\n0\n9\ncut short\n"), 3);
    ASSERT_EQ(d.size(), 1);
    EXPECT_EQ(d.describe(8, 0, false), "kept");
    EXPECT_EQ(d.warnings().size(), 3);
    EXPECT_TRUE(d.warnings().last().contains("incomplete"));
}

TEST(Descriptions, TextEncodingUtf8ElseLatin1) {
    Descriptions d;
    d.parse("1\r\nSpr\xC3\xA4\r\n0\r\n");
    EXPECT_EQ(d.describe(1, 0, false), QString::fromUtf8("Spr\xC3\xA4"));
    d.parse("1\r\nSpr\xE4\r\n0\r\n");
    EXPECT_EQ(d.describe(1, 0, false), QString::fromLatin1("Spr\xE4"));
    d.parse("\xEF\xBB\xBF"
            "4\r\nwith BOM\r\n0\r\n");
    EXPECT_EQ(d.describe(4, 0, false), "with BOM");
}

TEST(DescriptionsFile, MissingEmptyAndPresentFiles) {
    x45::test::TempFolder dir;
    Descriptions d;
    d.parse("1\nold\n0\n");
    EXPECT_TRUE(d.loadFile(dir.path("none.dsc")));
    EXPECT_TRUE(d.isEmpty());

    EXPECT_TRUE(d.loadFile(dir.write("good.dsc", "5077\r\nLock\r\n0\r\n")));
    EXPECT_EQ(d.describe(5077, 0, false), "Lock");
    const QString empty = dir.write("empty.dsc", {});
    EXPECT_TRUE(d.loadFile(empty));
    EXPECT_TRUE(d.isEmpty());
    EXPECT_TRUE(QFile::exists(empty)); // a user's file is never deleted at start

    // A folder of that name cannot be read: a message, and the table stays empty.
    const Status s = d.loadFile(dir.dir.path());
    EXPECT_FALSE(s);
    EXPECT_TRUE(s.message().contains(QDir::toNativeSeparators(dir.dir.path())));
    EXPECT_TRUE(d.isEmpty());
}

TEST(DescriptionsFile, LocateLooksInTheCurrentFolderFirst) {
    x45::test::TempFolder dir;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.dir.path()));
    // Empty: counts as absent, the search goes on elsewhere.
    dir.write(Descriptions::FileName, {});
    EXPECT_NE(QFileInfo(Descriptions::locate()).absolutePath(),
              QDir(dir.dir.path()).absolutePath());
    const QString here = dir.write(Descriptions::FileName, "1\nx\n0\n");
    EXPECT_EQ(QFileInfo(Descriptions::locate()).canonicalFilePath(),
              QFileInfo(here).canonicalFilePath());
    QDir::setCurrent(before);
}
