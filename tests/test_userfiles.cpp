// "Load" and "Save" of the User's list through EEPROM files: merging, early ends, rejection that
// keeps the list, and saving that never loses the old file.

#include "blockids.h"
#include "files/eepfile.h"
#include "files/userfiles.h"

#include "scripted.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

using namespace x45;
using x45::test::ScriptedInteraction;

namespace {

EEPBlock blk(qint16 id, QByteArray data, quint8 ver = 1) {
    return {id, data, ver};
}

using x45::test::ids;
using Ids = QVector<qint16>;

enum class Loaded { Loaded, EndedEarly, Rejected };

struct UserFiles : ::testing::Test, x45::test::TempFolder {
    ScriptedInteraction ui;
    Workspace ws;
    QStringList shown; // what a front end shows: the failure, or the load's report

    // Loads or saves as a front end does; the core itself shows nothing.
    Loaded load(const QStringList& names, LoadReport* report = nullptr) {
        LoadReport local;
        LoadReport& rep = report ? *report : local;
        const Result<LoadOutcome> r = LoadUserFiles(names, ws.UserBlocks, ws.UserHWid, ui, rep);
        EXPECT_TRUE(ui.messages.empty());
        if (!r) {
            shown << r.message();
            return Loaded::Rejected;
        }
        if (const QString text = loadReportText(rep); !text.isEmpty()) shown << text;
        return r.value() == LoadOutcome::Loaded ? Loaded::Loaded : Loaded::EndedEarly;
    }
    Status save(const QString& name, const Workspace& from, const QVector<int>& rows) {
        Status s = SaveUserFiles(name, from.UserBlocks, from.UserHWid, rows, ui);
        EXPECT_TRUE(ui.messages.empty());
        if (!s) shown << s.message();
        return s;
    }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ws.UserBlocks = {blk(900, "old"), blk(-5, "old")};
        ws.UserHWid = 0x1111;
    }
    void expectUntouched() {
        EXPECT_EQ(ws.UserBlocks, BlockList({blk(900, "old"), blk(-5, "old")}));
        EXPECT_EQ(ws.UserHWid, 0x1111);
    }
};

} // namespace

// The first file replaces the list, the next merge into it; the list ends sorted.
TEST_F(UserFiles, MergingKeepsOneBlockWithTheLaterContents) {
    const QString a = write("a.eep", serializeEep({blk(20, "from a", 1), blk(10, "a10")}, 5));
    // b.eep ends right after its last entry: no hardware id, so the list's id becomes 0.
    QByteArray b = serializeEep({blk(40, "b40"), blk(20, "from b", 9)}, 0);
    b.chop(2);
    const QString bName = write("b.EEP", b);
    EXPECT_EQ(load({a, bName}), Loaded::Loaded);
    EXPECT_EQ(ws.UserBlocks, BlockList({blk(10, "a10"), blk(20, "from b", 9), blk(40, "b40")}));
    EXPECT_EQ(ws.UserHWid, 0);
    EXPECT_EQ(ui.busyDepth, 0);
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(UserFiles, EmptyOrMissingFileEndsTheLoadKeepingEarlierFiles) {
    const QString a = write("a.eep", serializeEep({blk(7, "a"), blk(3, "a")}, 2));
    const QString empty = write("empty.eep", {});
    const QString c = write("c.eep", serializeEep({blk(1, "c")}, 3));
    EXPECT_EQ(load({a, empty, c}), Loaded::EndedEarly);
    EXPECT_EQ(ids(ws.UserBlocks), (Ids{3, 7}));
    EXPECT_EQ(ws.UserHWid, 2);
    EXPECT_TRUE(QFile::exists(empty)); // absent for the load, but a file of the person's: kept
    EXPECT_TRUE(shown.isEmpty());

    // A missing first file: the list is not emptied, only sorted as after any load.
    EXPECT_EQ(load({path("gone.eep"), c}), Loaded::EndedEarly);
    EXPECT_EQ(ids(ws.UserBlocks), (Ids{3, 7}));
}

TEST_F(UserFiles, OtherExtensionsAndLinesThatDoNotReadAreNamedInOneMessage) {
    const QString notes = write("notes.doc", "whatever");
    const QString a = write("a.eep", serializeEep({blk(1, "a")}, 0));
    // A long line with a NUL byte, and more bad lines than a report lists.
    write("t.txt", "8A 16 ZZ 5A\r\n0A B\r\n" + QByteArray("Q\0", 2) + QByteArray(200, 'x') +
                       "\r\nZZ\r\nZZ\r\n");
    write("t.tid", "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 9 9 \r\n"
                   "EEPROM BlockVer:\r\n 0 \r\n");
    // a.eep is file 2 of the selection, so it merges into the list instead of replacing it; the
    // text file loads as it reads (the bad line gives nothing, the odd digit is dropped).
    LoadReport report;
    EXPECT_EQ(load({notes, a, path("t.txt")}, &report), Loaded::Loaded);
    EXPECT_EQ(ids(ws.UserBlocks), (Ids{-5, 1, 99, 900}));
    EXPECT_EQ(ws.UserBlocks[findBlock(ws.UserBlocks, 99)].Data, QByteArray("\x0A"));
    EXPECT_EQ(report.skipped, QStringList{"notes.doc"});
    ASSERT_EQ(report.problems.size(), 4);
    EXPECT_EQ(report.problems[0].line, 3); // the id file is read first
    EXPECT_EQ(report.problems[0].text, " 9 9 ");
    EXPECT_EQ(report.problems[1].file, QDir::toNativeSeparators(path("t.txt")));
    EXPECT_EQ(report.problems[1].line, 1);
    EXPECT_EQ(report.problems[2].line, 2);
    EXPECT_EQ(report.problems[3].unlisted, 2);
    ASSERT_EQ(shown.size(), 1);
    const QString& text = shown[0];
    EXPECT_TRUE(text.startsWith("skipped notes.doc: not an EEPROM, block or mapping file\n6 line"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("t.txt line 1: \"8A 16 ZZ 5A\": \"Z\" is not a hex digit"));
    EXPECT_TRUE(text.contains("t.tid line 3: \" 9 9 \""));
    EXPECT_TRUE(text.contains("t.txt line 3: \"Q\\x00" + QString(58, 'x') + "...\": "));
    EXPECT_TRUE(text.endsWith("\n... and 2 more line(s) of " +
                              QDir::toNativeSeparators(path("t.txt"))));
}

TEST_F(UserFiles, DamagedFileLeavesTheListExactlyAsBefore) {
    const QString good = write("good.eep", serializeEep({blk(1, "a")}, 9));
    QByteArray cut = serializeEep({blk(2, "abcdef")}, 0);
    cut.chop(5); // ends inside the data of its only entry
    const QString bad = write("bad.eep", cut);
    EXPECT_EQ(load({good, bad}), Loaded::Rejected);
    expectUntouched();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QDir::toNativeSeparators(bad)));
    EXPECT_EQ(ui.busyDepth, 0);

    // A name that cannot be read as a file is rejected the same way.
    QDir(dir.path()).mkdir("folder.eep");
    EXPECT_EQ(load({path("folder.eep")}), Loaded::Rejected);
    expectUntouched();
    EXPECT_EQ(shown.size(), 2);
}

TEST_F(UserFiles, MergedFilesBeyondTheListLimitAreRejected) {
    BlockList first, second;
    for (int i = 0; i < 20000; ++i) {
        first.append(blk(static_cast<qint16>(i - 32768), {}));
        second.append(blk(static_cast<qint16>(i), {}));
    }
    const QString a = write("a.eep", serializeEep(first, 0));
    const QString b = write("b.eep", serializeEep(second, 0));
    EXPECT_EQ(load({a, b}), Loaded::Rejected);
    expectUntouched();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("32767"));
}

TEST_F(UserFiles, SaveReplacesTheOldFileWithAllUnlessTwoOrMoreSelected) {
    ws.UserBlocks = {blk(5000, "a"), blk(5001, "b"), blk(1, ""), blk(-9, "z")};
    write("one.eep", QByteArray(5000, 'x'));
    ASSERT_TRUE(save(path("one.eep"), ws, {2}));
    EXPECT_EQ(read("one.eep"), serializeEep(ws.UserBlocks, 0x1111));
    ASSERT_TRUE(save(path("two.EEP"), ws, {3, 1}));
    EXPECT_EQ(read("two.EEP"), serializeEep({blk(5001, "b"), blk(-9, "z")}, 0x1111));
    EXPECT_EQ(ui.busyDepth, 0);
    // No temporary file stays behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"one.eep", "two.EEP"}));
}

TEST_F(UserFiles, FailedSaveSaysSoAndKeepsTheOldFile) {
    // A folder of that name, and a name below a plain file: neither can be written.
    QDir(dir.path()).mkdir("taken.eep");
    const QString plain = write("plain", "keep me");
    for (const QString& target : {path("taken.eep"), plain + "/x.eep"}) {
        shown.clear();
        const Status s = save(target, ws, {});
        EXPECT_FALSE(s) << target.toStdString();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].contains(QDir::toNativeSeparators(target)));
    }
    EXPECT_TRUE(QFileInfo(path("taken.eep")).isDir());
    EXPECT_EQ(read("plain"), "keep me");

    if (geteuid() != 0) { // permissions do not bind the superuser
        QDir(dir.path()).mkdir("ro");
        const QString old = write("ro/old.eep", "previous contents");
        QFile::setPermissions(path("ro"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_FALSE(save(old, ws, {}));
        QFile::setPermissions(path("ro"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
        EXPECT_EQ(read("ro/old.eep"), "previous contents");
    }
}

TEST_F(UserFiles, NamesOfNoSaveFormatAndSingleBlockFilesWithoutASelectionWriteNothing) {
    for (const char* name : {"dump.dat", "dump.map", "one.bin"}) {
        shown.clear();
        EXPECT_FALSE(save(path(name), ws, {})) << name;
        EXPECT_FALSE(QFile::exists(path(name))) << name;
        ASSERT_EQ(shown.size(), 1) << name;
    }
    EXPECT_TRUE(shown[0].contains("selected"));
}

TEST_F(UserFiles, EepAndSingleBlockFilesMergeInOneSelection) {
    // x.bin and its id file, written by "Save" of one selected block with hardware id 0x22.
    Workspace source;
    source.UserBlocks = {blk(20, "from bin", 6)};
    source.UserHWid = 0x22;
    ASSERT_TRUE(save(path("x.bin"), source, {0}));
    const QString a = write("a.eep", serializeEep({blk(20, "from eep"), blk(5, "five")}, 0x33));

    EXPECT_EQ(load({a, path("x.bin")}), Loaded::Loaded);
    EXPECT_EQ(ws.UserBlocks, BlockList({blk(5, "five"), blk(20, "from bin", 6)}));
    EXPECT_EQ(ws.UserHWid, 0x22);
    EXPECT_TRUE(shown.isEmpty());
}

// .eep, .bin and others are taken by the loads and saves above.
TEST(FormatOfName, LastThreeCharactersInAnyCase) {
    EXPECT_EQ(formatOfName("xeep"), FileFormat::Eep);
    EXPECT_EQ(formatOfName("c.tXt"), FileFormat::Txt);
    EXPECT_EQ(formatOfName("d.Map"), FileFormat::Map);
    EXPECT_EQ(formatOfName("ep"), FileFormat::Unknown);
    EXPECT_EQ(formatOfName("e.eep.bak"), FileFormat::Unknown);
}

