// The text formats: single-block files (.bin/.txt with their id files: saving, loading, the
// naming of several blocks, the dialog for a missing id file, the damaged files that must leave
// the list alone), the text helpers of hex text and names, and InitMap mapping files (the line
// grammar, data blocks, the SERVICE question, OFFSET, PRODUCT, the corrupted-file rule and the
// lines that do not read).

#include "files/blockfile.h"
#include "files/mapfile.h"
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
    ASSERT_EQ(ui.blockInfoMessages.size(), 1); // naming the file by its title, not its path
    EXPECT_TRUE(ui.blockInfoMessages[0].contains("\"raw.bin\"") && !ui.blockInfoMessages[0].contains("/"));
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
                                "\xF0\x9F\x98\x80\xED\xA0\x80\xC0\xAF\xE0\x80\xAF.bin"};
    QStringList decoded;
    for (const QByteArray& name : names) {
        decoded << nameFromSystem(name);
        EXPECT_EQ(nameForSystem(decoded.last()), name) << name.toHex().toStdString();
    }
    EXPECT_NE(decoded[1], decoded[2]);
    EXPECT_EQ(nameFromSystem("\xF0\x90\x80\x80"), QString::fromUtf8("\xF0\x90\x80\x80")); // U+10000
    EXPECT_EQ(decoded[3].left(2), QStringLiteral("\u00e9t"));
    EXPECT_EQ(shownName(decoded[1]), "n\\xFF.eep");
}

namespace {

// The lines of a file, written "a|b|c", each ended by CR LF.
QByteArray crlf(const char* lines) {
    return QByteArray(lines).replace('|', "\r\n") + "\r\n";
}

// Each block as "id/version" or "id/version/hex data", blank-separated.
std::string shown(const BlockList& list) {
    QStringList out;
    for (const EEPBlock& b : list)
        out << QStringLiteral("%1/%2").arg(b.BlockId).arg(b.BlockVer) +
                   (b.Data.isEmpty() ? QString() : "/" + QString::fromLatin1(b.Data.toHex()));
    return out.join(' ').toStdString();
}

struct MapFiles : ::testing::Test {
    ScriptedInteraction ui;
    LoadState state;
    QString words;

    Step read(const QByteArray& text, int number = 1, const QString& path = "C:\\maps\\a.map") {
        LoadContext ctx = state.context(number, ui);
        const StepResult step = readMapText(text, path, ctx);
        words = wordsOf(step);
        return stepOf(step);
    }
};

} // namespace

TEST_F(MapFiles, LineGrammarServiceOffsetAndProduct) {
    const struct {
        const char* lines;
        int number;
        BlockList before;
        const char* after;
        quint16 hwid = 0;
    } cases[] = {
        // One character after "=" is skipped, so "VERSION=3" reads as nothing.
        {"[1]|VERSION = 3|[2]|VERSION=3|[3]|VERSION 3|[4]|version\t4|[5]|  Version =   5  ; five"
         "|[6]|VERSION =13", 1, {}, "1/3 2/0 3/3 4/4 5/5 6/3"},
        {"; header comment||[5077]|DATA = {|0x01 0x02|  0A0B  |0x1G|01 02 ; not a comment here|\t"
         "|}|[6]", 1, {}, "5077/0/01020a0b 6/0"},
        // 30 is found in place and gets the data; VERSION before [12] has no block; halves round
        // to the even neighbour; the rest are no section headers.
        {"[0]|VERSION = 9|[abc]|[-4]|[ 12 ]|[&H1E]|DATA = {|FF|}|[2.5]|[]|[7", 2,
         {makeBlock(30, 2, 4)}, "30/4/ff 12/0 2/0"},
        {"[3]", 1, {makeBlock(1, 1)}, "3/0"}, // the first file starts from an empty list
        {"[4]|[3]|VERSION = 1", 2, {makeBlock(3, 0)}, "3/1 4/0"}, // later files merge
        // OFFSET: 1 goes (its data goes nowhere); 2 stays; 3 has data; 4 is not the last block.
        {"[1]|OFFSET = 100|VERSION = 4|DATA = {|01|}|[2]|OFFSET = 0|[3]|DATA = {|02|}|OFFSET = 8"
         "|[4]|[5]|[4]|OFFSET = 1", 1, {}, "2/0 3/0/02 4/0 5/0"},
        // SERVICE = 0 answered No (the default here): a block with data stays but is no longer
        // current, so VERSION misses it; "SERVICE =" with no value reads as 0.
        {"[1]|DATA = {|01|}|SERVICE = 0|VERSION = 5|[2]|SERVICE =  ; no value|[3]", 1, {},
         "1/0/01 3/0"},
        // PRODUCT sets the hardware id, signed or unsigned, the last one winning; without a
        // current block a VERSION goes nowhere, so its value is not looked at.
        {"PRODUCT = 32769", 1, {}, "", 0x8001},
        {"PRODUCT = -32767|PRODUCT = 12|VERSION = 999", 2, {}, "", 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        state.blocks = c.before;
        state.hwid = 7; // reset by every file
        ui.defaultMessageAnswer = Button::No;
        ASSERT_EQ(read(crlf(c.lines), c.number), Step::Continue) << words.toStdString();
        EXPECT_EQ(shown(state.blocks), c.after);
        EXPECT_EQ(state.hwid, c.hwid);
    }
    EXPECT_EQ(ui.messages.size(), 1u); // the SERVICE question, once in its file
}

TEST_F(MapFiles, ServiceQuestionAskedOncePerFile) {
    const QByteArray text = crlf("[10]|SERVICE = 0|DATA = {|AA|}|[11]|SERVICE = 0|DATA = {|BB|}"
                                 "|[12]|SERVICE = 1|DATA = {|CC|}|");
    ui.messageAnswers = {Button::Yes, Button::No};
    ASSERT_EQ(read(text, 1, "/maps/phone.map"), Step::Continue);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].text.contains("\"phone.map\"")); // its title, not its path
    EXPECT_EQ(ui.messages[0].buttons, Buttons::YesNo);
    EXPECT_EQ(state.blocks.size(), 3);
    // The next file asks again.
    ASSERT_EQ(read(text, 1), Step::Continue);
    EXPECT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(shown(state.blocks), "12/0/cc");
}

TEST_F(MapFiles, ClosingLineLastIsCorruptedAndEmptiesTheList) {
    for (const QByteArray& text :
         {crlf("[5077]|DATA = {|0x01 0x02|}"), QByteArray("[5077]\r\nDATA = {\r\n01\r\n}"),
          crlf("[5077]|DATA = {|0x01"), crlf("[5077]|DATA = {"), crlf("DATA = {|01|}")}) {
        SCOPED_TRACE(text.toStdString());
        state.blocks = {makeBlock(1, 1)};
        ui.messages.clear();
        EXPECT_EQ(read(text, 2), Step::EndLoad);
        EXPECT_TRUE(words.contains("a.map\" ends inside a data block")) << words.toStdString();
        EXPECT_TRUE(state.blocks.isEmpty());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
    }
    // One more line after the closing one, even an empty one, makes it sound; the reader tells
    // how far it is, so that a window can repaint.
    EXPECT_EQ(read(crlf("[5077]|DATA = {|01|}|")), Step::Continue);
    EXPECT_EQ(shown(state.blocks), "5077/0/01");
    EXPECT_EQ(ui.readTotal, 5);
    EXPECT_EQ(ui.readDone, ui.readTotal);
}

TEST_F(MapFiles, OutOfRangeValuesRejectTheFileAndKeepTheList) {
    for (const char* lines :
         {"[1]|VERSION = 256", "[1]|VERSION = -1", "[32768]", "[1e9]|[99999999999999999999999]",
          "PRODUCT = 65536", "PRODUCT = -32769"}) {
        SCOPED_TRACE(lines);
        state.blocks = {makeBlock(1, 1, 2)};
        state.hwid = 7;
        EXPECT_EQ(read(crlf(lines), 1, "/maps/bad.map"), Step::Reject);
        EXPECT_TRUE(words.contains("bad.map\" cannot be loaded: line ")) << words.toStdString();
        EXPECT_EQ(state.blocks, (BlockList{makeBlock(1, 1, 2)}));
        EXPECT_EQ(state.hwid, 7);
    }
}

TEST_F(MapFiles, FilesOnDiskAndFullLists) {
    TempFolder dir;
    LoadContext ctx = state.context(1, ui);
    EXPECT_EQ(stepOf(loadMapFile(dir.write("lf.map", "[9]\nDATA = {\n0x10\n}\nVERSION = 2\n"), ctx)),
              Step::Continue);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{9, "\x10", 2}}));
    for (const QString& absent : {dir.write("empty.map", ""), dir.path("missing.map")})
        EXPECT_EQ(stepOf(loadMapFile(absent, ctx)), Step::EndLoad);
    EXPECT_TRUE(QFile::exists(dir.path("empty.map")));
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{9, "\x10", 2}}));

    for (qint16 id = 10; state.blocks.size() < MaxBlocks; ++id)
        state.blocks.append(makeBlock(id, 0));
    EXPECT_EQ(read(crlf("[9]|VERSION = 3"), 2), Step::Continue); // a block already there
    EXPECT_EQ(read(crlf("[5]"), 2), Step::Reject);
    EXPECT_TRUE(words.contains("beyond the 32767")) << words.toStdString();
}

// Lines that would lose or misplace data are reported with their line; the file loads as it
// always has.
TEST_F(MapFiles, LinesThatDoNotReadAreReportedAndLoadedAsBefore) {
    const struct {
        QByteArray text;
        const char* after;
        QVector<int> lines;
    } cases[] = {
        // "VERSION=3" loses its digit; comments are not stripped inside data blocks; only the
        // first three lines of a file are listed, the fourth is counted.
        {crlf("[20]|VERSION=3|PRODUCT = 7|DATA = {|01 0G|0x0A 0B|01 02 ; c|ABC|}|"),
         "20/0/0a0bab", {2, 5, 7}},
        // A header naming no block leaves the block before it current.
        {crlf("[20]|DATA = {|01|}|[0]|VERSION = 9|DATA = {|AA|}|[ab]|[21]|[x]|[22]"),
         "20/9/aa 21/0 22/0", {5}},
        {crlf("[-3]|DATA = {|AA|}|[4]"), "4/0", {1}}, // its data goes to no block
        {crlf("[20]|DATA={|01 02|}|[21]|DATA ={|03|}|"), "20/0 21/0", {2, 6}},
        {crlf("[20]|VERSION=13|PRODUCT=17|OFFSET=0|VERSION =\t4"), "20/4", {2, 3, 4}},
        {QByteArrayLiteral("[5]\r\nVER\0SION = 2\r\n"), "5/0", {2}},
        {QByteArrayLiteral("\xFF\xFE[\0" "5\0]\0\r\0\n\0"), "", {1, 1}}, // UTF-16
        {crlf("; only a comment|VERSION = 3|PRODUCT = 4"), "", {2}},
        // What InitMap writes: nothing to report.
        {crlf("; InitMap||PRODUCT = 9|[5077]|VERSION = 1|SERVICE = 1|OFFSET = 0|DATA = {|0x01 0x02"
              "|}|"),
         "5077/1/0102", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        state.problems.clear();
        ASSERT_EQ(read(c.text, 1, "m.map"), Step::Continue);
        EXPECT_EQ(shown(state.blocks), c.after);
        QVector<int> lines;
        for (const LoadProblem& p : std::as_const(state.problems)) {
            lines << p.line;
            EXPECT_EQ(p.file, "m.map");
        }
        EXPECT_EQ(lines, c.lines);
    }
    state.problems.clear();
    ASSERT_EQ(read(cases[0].text, 1, "m.map"), Step::Continue);
    EXPECT_EQ(state.problems[2].unlisted, 1);
    EXPECT_EQ(problemCount(state.problems), 4);
    EXPECT_EQ(state.problems[0].text, "VERSION=3");
    EXPECT_EQ(state.problems[1].what, "data line: \"G\" is not a hex digit; the line gave no bytes");
}
