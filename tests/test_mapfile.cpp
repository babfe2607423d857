// InitMap mapping files: the line grammar, data blocks, the SERVICE question, OFFSET removal,
// PRODUCT, the corrupted-file rule, the out-of-range values that must leave the list alone, and
// the lines that do not read.

#include "files/mapfile.h"

#include "formats_support.h"
#include "scripted.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

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
    EXPECT_EQ(ui.messages[0].text, "File \"phone.map\" contains blocks usually skipped by original "
                                   "InitMap software.\rInclude them in the list?");
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
        EXPECT_EQ(ui.messages[0].text, "Possible corrupted mapping file!");
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
