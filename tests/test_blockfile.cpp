// Single-block files: saving and loading .bin/.txt with their id files, the naming of several
// blocks, the dialog for a missing id file, the damaged files that must leave the list alone, and
// the text helpers of hex text and names.

#include "files/blockfile.h"
#include "files/syspath.h"

#include "formats_support.h"
#include "scripted.h"
#include "tempfolder.h"

#include <QDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace x45;
using namespace x45::test;

namespace {

struct BlockFiles : ::testing::Test, TempFolder {
    ScriptedInteraction ui;
    LoadState state;
    QString words; // what the last load said: its failure, or why it ended

    Step load(const QString& name, int number) {
        LoadContext ctx = state.context(number, ui);
        const StepResult step = loadBlockFile(path(name), ctx);
        words = wordsOf(step);
        return stepOf(step);
    }
    Status save(const QString& name, const BlockList& blocks, const QVector<int>& rows,
                quint16 hwid) {
        const Result<QVector<PlannedFile>> files = planBlockFiles(path(name), blocks, rows, hwid);
        return files ? writeFilesTogether(files.value()) : files.status();
    }
    // Loads `name` over a list of one block and hardware id 3, which must stay as they were.
    void expectLeftAlone(const QString& name, Step step, const QString& named) {
        state.blocks = {makeBlock(1, 1)};
        state.hwid = 3;
        EXPECT_EQ(load(name, 1), step);
        EXPECT_TRUE(words.contains(named)) << words.toStdString();
        EXPECT_EQ(state.blocks, (BlockList{makeBlock(1, 1)}));
        EXPECT_EQ(state.hwid, 3);
    }
};

// The extreme numbers and versions, and an empty block.
const BlockList Sample = {makeBlock(LowestBlockNumber, 17, 0, 1),
                          makeBlock(HighestBlockNumber, 40, 255, 9), makeBlock(-5, 0, 0),
                          makeBlock(4999, 1, 1, 200)};

} // namespace

// Saved and loaded back, in both forms, without and with a hardware id that needs all 16 bits;
// later files merge into the list, and the last id file decides the hardware id.
TEST_F(BlockFiles, RoundTripKeepsBlocksAndHardwareId) {
    for (const QString ext : {"bin", "txt"}) {
        for (const quint16 hwid : {quint16(0), quint16(0xFFFF)}) {
            SCOPED_TRACE((ext + " hwid %1").arg(hwid).toStdString());
            ASSERT_TRUE(save(QStringLiteral("d%1.%2").arg(hwid).arg(ext), Sample, {0, 1, 2, 3}, hwid));
            state = {};
            state.blocks = {makeBlock(1, 1)}; // the first file starts afresh
            int number = 1;
            // The empty block too: its data file is empty, its id file says which block it is.
            for (const EEPBlock& b : Sample)
                ASSERT_EQ(load(QStringLiteral("d%1_%2.%3").arg(hwid).arg(b.BlockId).arg(ext), number++),
                          Step::Continue)
                    << words.toStdString();
            EXPECT_EQ(state.blocks, Sample);
            EXPECT_EQ(state.hwid, hwid);
        }
    }
    ASSERT_TRUE(save("x.bin", {makeBlock(-5, 3, 7, 1)}, {0}, 0));
    ASSERT_EQ(load("x.bin", 2), Step::Continue);
    EXPECT_EQ(state.blocks[2], makeBlock(-5, 3, 7, 1)); // replaced where it was
    EXPECT_EQ(state.hwid, 0);
}

TEST_F(BlockFiles, WrittenFormsAndNamesAreExact) {
    ASSERT_TRUE(save("x.txt", {makeBlock(5077, 17, 2)}, {0}, 0));
    const QByteArrayList lines = read("x.txt").split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty rest after the last CR LF
    EXPECT_EQ(lines[0].size(), 49);
    EXPECT_EQ(lines[0].left(9), "00 07 0E ");
    EXPECT_EQ(lines[1], "70 \r");
    EXPECT_EQ(read("x.tid"), "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 5077 \r\n"
                             "EEPROM BlockVer:\r\n 2 \r\n");
    ASSERT_TRUE(save("y.bin", {makeBlock(-3, 5, 9)}, {0}, 0x8001));
    EXPECT_EQ(read("y.bin"), makeBlock(-3, 5).Data);
    EXPECT_EQ(read("y.bid"), "EEPROM block additional file.\r\nPhone HWid:\r\n 32769 \r\n"
                             "EEPROM BlockId:\r\n-3 \r\nEEPROM BlockVer:\r\n 9 \r\n");

    // No row: nothing; several: NAME_N beside NAME, with id files of the name's own case.
    ASSERT_TRUE(save("none.bin", Sample, {}, 0));
    EXPECT_FALSE(QFile::exists(path("none.bin")));
    ASSERT_TRUE(save("dump.TXT", Sample, {1, 2}, 0));
    for (const char* name : {"dump_32767.TXT", "dump_32767.Tid", "dump_-5.TXT", "dump_-5.Tid"})
        EXPECT_TRUE(QFile::exists(path(name))) << name;
    EXPECT_EQ(read("dump_-5.TXT"), ""); // a block of length 0
}

TEST_F(BlockFiles, FailedSavesKeepTheOldFiles) {
    write("old.bin", QByteArray(100, 'x'));
    ASSERT_TRUE(save("old.bin", {makeBlock(3, 4)}, {0}, 0));
    EXPECT_EQ(read("old.bin"), makeBlock(3, 4).Data);

    EXPECT_TRUE(save("no/such/folder/f.bin", Sample, {0}, 0).message().contains("f.bin"));
    EXPECT_FALSE(save("r.bin", Sample, {0, 9}, 0));
    EXPECT_FALSE(QFile::exists(path("r_-32768.bin"))); // rows checked before anything is written
    EXPECT_FALSE(save("x.id", Sample, {0}, 0)); // its id file would be the file itself

    write("keep.bin", "old");
    ASSERT_TRUE(QDir(dir.path()).mkdir("keep.bid")); // the id file cannot be written
    EXPECT_TRUE(save("keep.bin", {makeBlock(3, 4)}, {0}, 0).message().contains("keep.bid"));
    EXPECT_EQ(read("keep.bin"), "old");
}

TEST_F(BlockFiles, LineFeedOnlyFilesLenientNumbersAndTheirProblems) {
    write("a.txt", "00 1a FF\n00 1G\n0A B\n");
    write("a.tid", "eeprom\nphone hwid\n &H10 \nblockid\n 7.5 \nblockver\n\t2\t\n");
    ASSERT_EQ(load("a.txt", 1), Step::Continue);
    // Halves go to the even neighbour; a bad line gives nothing, an odd digit is dropped.
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{8, QByteArray::fromHex("001aff0a"), 2}}));
    EXPECT_EQ(state.hwid, 16);
    // The id file is read first: its fraction, then the two hex lines.
    ASSERT_EQ(state.problems.size(), 3);
    EXPECT_EQ(state.problems[0].line, 5);
    EXPECT_EQ(state.problems[1].line, 2);
    EXPECT_EQ(state.problems[2].what, "an odd number of hex digits; the last one was dropped");

    // Number lines that do not hold one number are reported and read as before.
    write("n.bid", "EEPROM\r\nPhone\r\n-32767\r\nBlockId\r\nabc\r\nBlockVer\r\n 3 x\r\n");
    write("n.bin", "q");
    state.problems.clear();
    ASSERT_EQ(load("n.bin", 2), Step::Continue);
    EXPECT_EQ(state.blocks[1], (EEPBlock{0, "q", 3}));
    EXPECT_EQ(state.hwid, 0x8001);
    ASSERT_EQ(state.problems.size(), 2);
    EXPECT_EQ(state.problems[0].line, 5);
    EXPECT_EQ(state.problems[0].text, "abc");
    EXPECT_EQ(state.problems[1].line, 7);
    EXPECT_EQ(state.problems[1].file, shownName(path("n.bid")));
}

TEST_F(BlockFiles, MissingIdFileAsksForNumberAndVersion) {
    write("raw.bin", "abc");
    write("raw.bid", ""); // empty counts as missing, and stays
    state.hwid = 77;
    ui.blockInfoAnswers = {{" 5077 ", ""}, {"12", "&HFF"}};
    ASSERT_EQ(load("raw.bin", 1), Step::Continue);
    EXPECT_EQ(ui.blockInfoMessages,
              QStringList{"Info for file \"raw.bin\" not found, enter it manually, please."});
    EXPECT_TRUE(QFile::exists(path("raw.bid")));
    EXPECT_EQ(state.hwid, 0);
    EXPECT_EQ(ui.busyDepth, 0); // the hourglass goes off for the dialog and comes back
    ASSERT_EQ(load("raw.bin", 2), Step::Continue);
    EXPECT_EQ(state.blocks, (BlockList{{5077, "abc", 0}, {12, "abc", 255}}));

    // An empty number is the cancelled dialog: the load ends; values out of range are refused.
    for (const BlockInfoTexts& typed :
         {BlockInfoTexts{"", "5"}, BlockInfoTexts{"32768", ""}, BlockInfoTexts{"-40000", "1"},
          BlockInfoTexts{"5", "256"}, BlockInfoTexts{"5", "-1"}}) {
        SCOPED_TRACE((typed.number + " / " + typed.version).toStdString());
        ui.blockInfoAnswers.push_back(typed);
        expectLeftAlone("raw.bin", typed.number.isEmpty() ? Step::EndLoad : Step::Reject, "raw.bin");
    }
}

TEST_F(BlockFiles, DamagedIdFilesAreRejectedAndForeignOnesEndTheLoad) {
    write("d.bin", "abc");
    const struct {
        const char* text;
        Step step;
        const char* said;
    } cases[] = {
        {"EEPROM\r\n", Step::Reject, "block number key"},
        {"EEPROM\r\nPhone\r\n", Step::Reject, "hardware id"},
        {"EEPROM\r\nBlockId\r\n", Step::Reject, "before its block number line"},
        {"EEPROM\r\nBlockId\r\n5\r\nBlockVer\r\n", Step::Reject, "block version"},
        {"EEPROM\r\nBlockId\r\n32768\r\nBlockVer\r\n0\r\n", Step::Reject, "-32768..32767"},
        {"EEPROM\r\nBlockId\r\n5\r\nBlockVer\r\n256\r\n", Step::Reject, "0..255"},
        {"EEPROM\r\nPhone\r\n65536\r\nBlockId\r\n5\r\nBlockVer\r\n0\r\n", Step::Reject, "65535"},
        // Without its key words the file is no id file at all.
        {"EEPRO\r\nBlockId\r\n5\r\nBlockVer\r\n0\r\n", Step::EndLoad, "key words"},
        {"EEPROM\r\nBlock Id\r\n5\r\nBlockVer\r\n0\r\n", Step::EndLoad, "key words"},
        {"EEPROM\r\nBlockId\r\n5\r\nVersion\r\n0\r\n", Step::EndLoad, "key words"},
        {"\r\n", Step::EndLoad, "key words"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        write("d.bid", c.text);
        expectLeftAlone("d.bin", c.step, "d.bid");
        EXPECT_TRUE(words.contains(c.said)) << words.toStdString();
    }
}

TEST_F(BlockFiles, AbsentDataFileOrFullListAddsNothing) {
    ASSERT_TRUE(save("m.bin", {makeBlock(3, 2)}, {0}, 4));
    QFile::remove(path("m.bin"));
    write("e.bin", ""); // empty, and no id file to say it is a block
    ui.blockInfoAnswers.push_back({"4", ""});
    for (const char* name : {"m.bin", "e.bin"})
        expectLeftAlone(name, Step::EndLoad, "is empty or missing");
    EXPECT_TRUE(QFile::exists(path("e.bin"))); // loading deletes nothing

    ASSERT_TRUE(save("f.bin", {makeBlock(HighestBlockNumber, 2)}, {0}, 0));
    for (qint16 id = 0; state.blocks.size() < MaxBlocks; ++id)
        state.blocks.append(makeBlock(id, 0));
    const BlockList full = state.blocks;
    EXPECT_EQ(load("f.bin", 2), Step::Reject);
    EXPECT_TRUE(words.contains("the most it can hold")) << words.toStdString();
    EXPECT_EQ(state.blocks, full);
}

TEST_F(BlockFiles, InputsUpToTheSizeLimitAreRead) {
    write("big.bid", idFileText({1, 0, 0}));
    for (const qint64 size : {MaxInputFileSize, MaxInputFileSize + 1}) {
        QFile big(path("big.bin"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(size)); // sparse: no disk needed
        big.close();
        EXPECT_EQ(load("big.bin", 1), size == MaxInputFileSize ? Step::Continue : Step::Reject);
    }
}

#ifdef Q_OS_UNIX
TEST_F(BlockFiles, PipesAreRefusedNotWaitedOn) {
    write("d.bin", "abc");
    write("p.bid", idFileText({5, 0, 0}));
    for (const char* fifo : {"d.bid", "p.bin"}) {
        SCOPED_TRACE(fifo);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path(fifo)).constData(), 0600), 0);
        expectLeftAlone(fifo[0] == 'd' ? "d.bin" : "p.bin", Step::Reject, fifo);
    }
}
#endif

// What the readers' tests above leave to these: the edges of hex text and of the text helpers.
TEST(TextHelpers, HexEdgesLineEndsTitlesExcerptsAndSystemNames) {
    const struct {
        QByteArray text;
        QByteArray bytes;
        const char* fault; // what checkHexLine says, "" when the line reads
    } hex[] = {
        {"0123456789abcdefABCDEF", QByteArray::fromHex("0123456789abcdefabcdef"), ""},
        {"00\t11", {}, "the character 0x09 is not a hex digit; the line gave no bytes"},
        {"\xE0\xE1", {}, "0xE0"}, // 8-bit letters are no digits either
        {"0AZ", QByteArray::fromHex("0a"), "\"Z\""}, // only pairs are read: a bad last goes unseen
        {"F", {}, "odd"},
    };
    for (const auto& c : hex) {
        EXPECT_EQ(hexToBytes(c.text), c.bytes) << c.text.toStdString();
        const Status fault = checkHexLine(c.text);
        EXPECT_EQ(fault.isOk(), *c.fault == 0) << c.text.toStdString();
        EXPECT_TRUE(fault.message().contains(QLatin1String(c.fault))) << fault.message().toStdString();
    }
    EXPECT_EQ(bytesToHexLines(QByteArray(32, '\xAB')), QByteArrayList(2, QByteArray("AB ").repeated(16)));
    // One pass from the left, lower-case x only: what the removal joins together stays.
    EXPECT_EQ(removeHexPrefix("0x01 0X02 00xx"), "01 0X02 0x");
    EXPECT_EQ(fileTitleOf("a/b\\c.map"), "c.map");
    EXPECT_EQ(fileTitleOf("dir/"), QString());
    EXPECT_EQ(splitLines("a\rb\n\rc\r\n\r\nd\r\n"), (QByteArrayList{"a", "b", "", "c", "", "d"}));
    EXPECT_TRUE(splitLines("").isEmpty());
    EXPECT_EQ(lineExcerpt(QByteArray("a\0b\tc\x7F\x1B\xE9", 8)),
              QString::fromLatin1("a\\x00b\\tc\\x7F\\x1B\xE9")); // 8-bit letters stay
    EXPECT_EQ(lineExcerpt(QByteArray(60, 'z')), QString(60, 'z'));

    // Names are kept byte for byte: two that differ only in bytes that are no UTF-8 stay two.
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
