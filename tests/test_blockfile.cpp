// Single-block files: saving and loading .bin/.txt with their id files, the naming of several
// blocks, the dialog for a missing id file, and the damaged files that must leave the list alone.

#include "files/blockfile.h"

#include "formats_support.h"
#include "scripted.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace x45;
using namespace x45::test;

namespace {

class BlockFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptedInteraction ui;
    LoadState state;
    QString lastError;

    QString path(const QString& name) const { return dir.filePath(name); }

    Step load(const QString& name, int number) {
        LoadContext ctx = state.context(number, ui);
        const StepResult step = loadBlockFile(path(name), ctx);
        lastError = step ? ctx.endReason : step.message();
        return stepOf(step);
    }
    Status save(const QString& name, const BlockList& blocks, const QVector<int>& rows,
                quint16 hwid) {
        QVector<PlannedFile> files;
        if (Status planned = planBlockFiles(path(name), blocks, rows, hwid, files); !planned)
            return planned;
        return writeFilesTogether(files);
    }
    // Loads `name` over a list of one block and hardware id 3, which must stay as they were.
    void expectLeftAlone(const QString& name, Step step, const QString& named) {
        state.blocks = {makeBlock(1, 1)};
        state.hwid = 3;
        EXPECT_EQ(load(name, 1), step);
        EXPECT_TRUE(step != Step::Reject || lastError.contains(named))
            << lastError.toStdString();
        EXPECT_EQ(state.blocks, (BlockList{makeBlock(1, 1)}));
        EXPECT_EQ(state.hwid, 3);
    }
};

// The extreme numbers and versions, and an empty block.
const BlockList Sample = {makeBlock(-32768, 17, 0, 1), makeBlock(32767, 40, 255, 9),
                          makeBlock(-5, 0, 0), makeBlock(4999, 1, 1, 200)};

} // namespace

// Saved and loaded back, in both forms, without and with a hardware id that needs all 16 bits.
TEST_F(BlockFiles, RoundTripKeepsBlocksAndHardwareId) {
    for (const QString& ext : {QStringLiteral("bin"), QStringLiteral("txt")}) {
        for (const quint16 hwid : {quint16(0), quint16(0xFFFF)}) {
            SCOPED_TRACE((ext + " hwid %1").arg(hwid).toStdString());
            ASSERT_TRUE(
                save(QStringLiteral("d%1.%2").arg(hwid).arg(ext), Sample, {0, 1, 2, 3}, hwid)
                    .isOk());
            state = {};
            int number = 1;
            // The empty block too: its data file is empty, its id file says which block it is.
            for (const EEPBlock& b : Sample) {
                const QString name = QStringLiteral("d%1_%2.%3").arg(hwid).arg(b.BlockId).arg(ext);
                ASSERT_EQ(load(name, number++), Step::Continue) << lastError.toStdString();
            }
            EXPECT_EQ(state.blocks, Sample);
            EXPECT_EQ(state.hwid, hwid);
        }
    }
}

TEST_F(BlockFiles, WrittenFormsAreExact) {
    ASSERT_TRUE(save("x.txt", {makeBlock(5077, 17, 2)}, {0}, 0).isOk());
    const QByteArrayList lines = readBytes(path("x.txt")).split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty rest after the last CR LF
    EXPECT_EQ(lines[0].size(), 49);
    EXPECT_EQ(lines[0].left(9), "00 07 0E ");
    EXPECT_EQ(lines[1], "70 \r");
    EXPECT_EQ(readBytes(path("x.tid")),
              "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 5077 \r\nEEPROM BlockVer:\r\n"
              " 2 \r\n");

    ASSERT_TRUE(save("y.bin", {makeBlock(-3, 5, 9)}, {0}, 7).isOk());
    EXPECT_EQ(readBytes(path("y.bin")), makeBlock(-3, 5).Data);
    EXPECT_EQ(readBytes(path("y.bid")),
              "EEPROM block additional file.\r\nPhone HWid:\r\n 7 \r\nEEPROM BlockId:\r\n-3 \r\n"
              "EEPROM BlockVer:\r\n 9 \r\n");

    ASSERT_TRUE(save("z.bin", {makeBlock(1, 1)}, {0}, 0x8001).isOk());
    EXPECT_TRUE(readBytes(path("z.bid")).contains("\r\n 32769 \r\n"));
}

TEST_F(BlockFiles, NamingOfOneAndOfSeveralBlocks) {
    ASSERT_TRUE(save("none.bin", Sample, {}, 0).isOk());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    ASSERT_TRUE(save("one.bin", Sample, {1}, 0).isOk());
    EXPECT_TRUE(QFile::exists(path("one.bin")));
    EXPECT_TRUE(QFile::exists(path("one.bid")));

    ASSERT_TRUE(save("dump.TXT", Sample, {1, 2}, 0).isOk());
    for (const char* name : {"dump_32767.TXT", "dump_32767.Tid", "dump_-5.TXT", "dump_-5.Tid"})
        EXPECT_TRUE(QFile::exists(path(name))) << name;
    EXPECT_EQ(QFileInfo(path("dump_-5.TXT")).size(), 0); // a block of length 0
}

TEST_F(BlockFiles, SavingReplacesOldFilesAndFailuresKeepThem) {
    writeBytes(path("old.bin"), QByteArray(100, 'x'));
    ASSERT_TRUE(save("old.bin", {makeBlock(3, 4)}, {0}, 0).isOk());
    EXPECT_EQ(readBytes(path("old.bin")), makeBlock(3, 4).Data);

    const Status missingFolder = save("no/such/folder/f.bin", Sample, {0}, 0);
    EXPECT_FALSE(missingFolder.isOk());
    EXPECT_TRUE(missingFolder.message().contains("f.bin"));

    EXPECT_FALSE(save("r.bin", Sample, {0, 9}, 0).isOk());
    EXPECT_FALSE(QFile::exists(path("r_-32768.bin"))); // rows checked before anything is written

    writeBytes(path("keep.bin"), "old");
    ASSERT_TRUE(QDir(dir.path()).mkdir("keep.bid")); // the id file cannot be written
    const Status status = save("keep.bin", {makeBlock(3, 4)}, {0}, 0);
    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains("keep.bid"));
    EXPECT_EQ(readBytes(path("keep.bin")), "old");
}

TEST_F(BlockFiles, ReadsLineFeedOnlyFilesAndLenientNumbers) {
    writeBytes(path("a.txt"), "00 1a FF\n00 1G\n0A B\n");
    writeBytes(path("a.tid"), "eeprom\nphone hwid\n &H10 \nblockid\n 7.5 \nblockver\n\t2\t\n");
    ASSERT_EQ(load("a.txt", 1), Step::Continue);
    // Halves go to the even neighbour.
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{8, QByteArray::fromHex("001aff0a"), 2}}));
    EXPECT_EQ(state.hwid, 16);

    writeBytes(path("n.bid"), "EEPROM\r\nPhone\r\n-32767\r\nBlockId\r\n1\r\nBlockVer\r\n0\r\n");
    writeBytes(path("n.bin"), "q");
    ASSERT_EQ(load("n.bin", 2), Step::Continue);
    EXPECT_EQ(state.hwid, 0x8001);
}

TEST_F(BlockFiles, FirstFileReplacesTheListLaterFilesMerge) {
    state.blocks = {makeBlock(1, 1), makeBlock(2, 2)};
    ASSERT_TRUE(save("x.bin", {makeBlock(9, 3, 1, 1)}, {0}, 0).isOk());
    ASSERT_TRUE(save("y.bin", {makeBlock(9, 5, 2, 2)}, {0}, 0).isOk());
    ASSERT_TRUE(save("z.bin", {makeBlock(4, 5, 2, 2)}, {0}, 5).isOk());
    ASSERT_EQ(load("z.bin", 1), Step::Continue);
    ASSERT_EQ(load("x.bin", 2), Step::Continue);
    ASSERT_EQ(load("y.bin", 3), Step::Continue);
    // y's contents where x put the block; the last id file decides the hardware id.
    EXPECT_EQ(state.blocks, (BlockList{makeBlock(4, 5, 2, 2), makeBlock(9, 5, 2, 2)}));
    EXPECT_EQ(state.hwid, 0);
}

TEST_F(BlockFiles, MissingIdFileAsksForNumberAndVersion) {
    writeBytes(path("raw.bin"), "abc");
    writeBytes(path("raw.bid"), ""); // empty counts as missing, and stays
    state.hwid = 77;
    ui.blockInfoAnswers.push_back({" 5077 ", ""});
    ASSERT_EQ(load("raw.bin", 1), Step::Continue);
    EXPECT_EQ(ui.blockInfoMessages,
              QStringList{"Info for file \"raw.bin\" not found, enter it manually, please."});
    EXPECT_TRUE(QFile::exists(path("raw.bid")));
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{5077, "abc", 0}}));
    EXPECT_EQ(state.hwid, 0);
    EXPECT_EQ(ui.busyDepth, 0); // the hourglass goes off for the dialog and comes back

    ui.blockInfoAnswers.push_back({"12", "&HFF"});
    ASSERT_EQ(load("raw.bin", 2), Step::Continue);
    EXPECT_EQ(state.blocks[1], (EEPBlock{12, "abc", 255}));
}

TEST_F(BlockFiles, CancelledOrOutOfRangeTypedValuesLeaveTheList) {
    writeBytes(path("raw.bin"), "abc");
    for (const BlockInfoTexts& typed :
         {BlockInfoTexts{"", "5"}, BlockInfoTexts{"32768", ""}, BlockInfoTexts{"-40000", "1"},
          BlockInfoTexts{"5", "256"}, BlockInfoTexts{"5", "-1"}}) {
        SCOPED_TRACE((typed.number + " / " + typed.version).toStdString());
        ui.blockInfoAnswers.push_back(typed);
        // An empty number is the cancelled dialog: the load ends without a message.
        expectLeftAlone("raw.bin", typed.number.isEmpty() ? Step::EndLoad : Step::Reject,
                        "raw.bin");
    }
}

TEST_F(BlockFiles, DamagedIdFilesAreRejectedNamingTheFileOrEndTheLoadSilently) {
    writeBytes(path("d.bin"), "abc");
    for (const char* damaged : {
             "EEPROM\r\n",                                      // ends after line 1
             "EEPROM\r\nPhone\r\n",                             // ends before the hardware id
             "EEPROM\r\nBlockId\r\n",                           // ends before the number
             "EEPROM\r\nBlockId\r\n5\r\nBlockVer\r\n",          // ends before the version
             "EEPROM\r\nBlockId\r\n32768\r\nBlockVer\r\n0\r\n", // number beyond 16 bits
             "EEPROM\r\nBlockId\r\n5\r\nBlockVer\r\n256\r\n",   // version beyond 8 bits
             "EEPROM\r\nPhone\r\n65536\r\nBlockId\r\n5\r\nBlockVer\r\n0\r\n", // hardware id
         }) {
        SCOPED_TRACE(damaged);
        writeBytes(path("d.bid"), damaged);
        expectLeftAlone("d.bin", Step::Reject, "d.bid");
    }
    // Without its key words the file is no id file at all.
    for (const char* foreign : {"EEPRO\r\nBlockId\r\n5\r\nBlockVer\r\n0\r\n",
                                "EEPROM\r\nBlock Id\r\n5\r\nBlockVer\r\n0\r\n",
                                "EEPROM\r\nBlockId\r\n5\r\nVersion\r\n0\r\n", "\r\n"}) {
        SCOPED_TRACE(foreign);
        writeBytes(path("d.bid"), foreign);
        expectLeftAlone("d.bin", Step::EndLoad, {});
    }
}

TEST_F(BlockFiles, AbsentDataFileAddsNothingAndKeepsTheBlocksSoFar) {
    ASSERT_TRUE(save("a.bin", {makeBlock(1, 3)}, {0}, 0).isOk());
    ASSERT_TRUE(save("m.bin", {makeBlock(3, 2)}, {0}, 0).isOk());
    QFile::remove(path("m.bin"));
    writeBytes(path("e.bin"), ""); // empty, and no id file to say it is a block

    ASSERT_EQ(load("a.bin", 1), Step::Continue);
    EXPECT_EQ(load("m.bin", 2), Step::EndLoad);
    ui.blockInfoAnswers.push_back({"4", ""});
    EXPECT_EQ(load("e.bin", 2), Step::EndLoad);
    EXPECT_TRUE(QFile::exists(path("e.bin"))); // loading deletes nothing
    EXPECT_EQ(state.blocks, (BlockList{makeBlock(1, 3)}));
    EXPECT_EQ(state.hwid, 0); // the id file of the absent data did not count
}

#ifdef Q_OS_UNIX
TEST_F(BlockFiles, PipesAreRefusedNotWaitedOn) {
    writeBytes(path("d.bin"), "abc");
    writeBytes(path("p.bid"), idFileText({5, 0, 0}));
    for (const char* fifo : {"d.bid", "p.bin"}) {
        SCOPED_TRACE(fifo);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path(fifo)).constData(), 0600), 0);
        expectLeftAlone(fifo[0] == 'd' ? "d.bin" : "p.bin", Step::Reject, fifo);
    }
}
#endif

TEST(IdFileLines, NumberLinesWithoutOneNumberAreReportedAndReadAsBefore) {
    const QByteArray text = "EEPROM block additional file.\r\nPhone HWid:\r\n 7 \r\n"
                            "EEPROM BlockId:\r\nabc\r\nEEPROM BlockVer:\r\n 3 x\r\n";
    QVector<LoadProblem> problems;
    const auto parsed = parseIdFile(text, "i.bid", &problems);
    ASSERT_TRUE(parsed && parsed.value());
    const BlockIdInfo info = *parsed.value();
    EXPECT_EQ(info.blockId, 0); // the lenient reading, as the window has always loaded it
    EXPECT_EQ(info.version, 3);
    EXPECT_EQ(info.hwid, 7);
    ASSERT_EQ(problems.size(), 2);
    EXPECT_EQ(problems[0].line, 5);
    EXPECT_EQ(problems[0].text, "abc");
    EXPECT_EQ(problems[1].line, 7);
    EXPECT_EQ(problems[1].file, "i.bid");
}
