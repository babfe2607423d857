// InitMap mapping files: the line grammar, data blocks, the SERVICE question, OFFSET removal,
// PRODUCT, the corrupted-file rule and the out-of-range values that must leave the list alone.

#include "files/mapfile.h"

#include "formats_support.h"
#include "scripted.h"

#include <QCoreApplication>
#include <QFileInfo>
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

class MapFiles : public ::testing::Test {
protected:
    ScriptedInteraction ui;
    LoadState state;
    QString error;

    Step read(const QByteArray& text, int number = 1, const QString& path = "C:\\maps\\a.map") {
        LoadContext ctx = state.context(number, ui);
        const StepResult step = readMapText(text, path, ctx);
        error = step ? ctx.endReason : step.message();
        return stepOf(step);
    }
};

} // namespace

TEST_F(MapFiles, LineGrammar) {
    const struct {
        const char* lines;
        int number;
        BlockList before;
        const char* after;
    } cases[] = {
        // One character after "=" is skipped, so "VERSION=3" reads as nothing.
        {"[1]|VERSION = 3|[2]|VERSION=3|[3]|VERSION 3|[4]|version\t4|[5]|  Version =   5  ; five"
         "|[6]|VERSION =13",
         1,
         {},
         "1/3 2/0 3/3 4/4 5/5 6/3"},
        {"; header comment||[5077]|DATA = {|0x01 0x02|  0A0B  |0x1G|01 02 ; not a comment here|\t"
         "|}|[6]",
         1,
         {},
         "5077/0/01020a0b 6/0"},
        // 30 is found in place and gets the data; VERSION before [12] has no block; halves round
        // to the even neighbour; the rest are no section headers.
        {"[0]|VERSION = 9|[abc]|[-4]|[ 12 ]|[&H1E]|DATA = {|FF|}|[2.5]|[]|[7",
         2,
         {makeBlock(30, 2, 4)},
         "30/4/ff 12/0 2/0"},
        {"[3]", 1, {makeBlock(1, 1)}, "3/0"}, // the first file starts from an empty list
        {"[4]|[3]|VERSION = 1", 2, {makeBlock(3, 0)}, "3/1 4/0"}, // later files merge
        // OFFSET: 1 goes (its data goes nowhere); 2 stays; 3 has data; 4 is not the last block.
        {"[1]|OFFSET = 100|VERSION = 4|DATA = {|01|}|[2]|OFFSET = 0|[3]|DATA = {|02|}|OFFSET = 8"
         "|[4]|[5]|[4]|OFFSET = 1",
         1,
         {},
         "2/0 3/0/02 4/0 5/0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        state.blocks = c.before;
        ASSERT_EQ(read(crlf(c.lines), c.number), Step::Continue);
        EXPECT_EQ(shown(state.blocks), c.after);
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST_F(MapFiles, ClosingLineLastIsCorrupted) {
    for (const QByteArray& text :
         {crlf("[5077]|DATA = {|0x01 0x02|}"), QByteArray("[5077]\r\nDATA = {\r\n01\r\n}"),
          crlf("[5077]|DATA = {|0x01"), crlf("[5077]|DATA = {"), crlf("DATA = {|01|}")}) {
        SCOPED_TRACE(text.toStdString());
        state.blocks = {makeBlock(1, 1)};
        ui.messages.clear();
        EXPECT_EQ(read(text, 2), Step::EndLoad);
        EXPECT_TRUE(state.blocks.isEmpty());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "Possible corrupted mapping file!");
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        EXPECT_EQ(ui.messages[0].buttons, Buttons::Ok);
    }
    // One more line after the closing one, even an empty one, makes it sound.
    EXPECT_EQ(read(crlf("[5077]|DATA = {|01|}|")), Step::Continue);
    EXPECT_EQ(shown(state.blocks), "5077/0/01");
}

TEST_F(MapFiles, ServiceQuestionAskedOncePerFile) {
    const QByteArray text = crlf("[10]|SERVICE = 0|DATA = {|AA|}|[11]|SERVICE = 0|DATA = {|BB|}"
                                 "|[12]|SERVICE = 1|DATA = {|CC|}|");
    ui.messageAnswers = {Button::Yes};
    ASSERT_EQ(read(text, 1, "/maps/phone.map"), Step::Continue);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "File \"phone.map\" contains blocks usually skipped by original "
                                   "InitMap software.\rInclude them in the list?");
    EXPECT_EQ(ui.messages[0].buttons, Buttons::YesNo);
    EXPECT_EQ(ui.messages[0].icon, Icon::Question);
    EXPECT_EQ(state.blocks.size(), 3);

    // The next file asks again.
    ui.messages.clear();
    ui.messageAnswers = {Button::No};
    ASSERT_EQ(read(text, 1), Step::Continue);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(shown(state.blocks), "12/0/cc");
}

TEST_F(MapFiles, ServiceNoKeepsABlockThatAlreadyHasData) {
    ui.defaultMessageAnswer = Button::No;
    ASSERT_EQ(read(crlf("[1]|DATA = {|01|}|SERVICE = 0|VERSION = 5|[2]|SERVICE =  ; no value|[3]")),
              Step::Continue);
    // Block 1 keeps its data but is no longer current, so VERSION misses it; "SERVICE =" with no
    // value reads as 0 and drops block 2.
    EXPECT_EQ(shown(state.blocks), "1/0/01 3/0");
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(MapFiles, ProductSetsTheHardwareIdAndIsResetPerFile) {
    state.hwid = 7;
    ASSERT_EQ(read(crlf("[1]")), Step::Continue);
    EXPECT_EQ(state.hwid, 0);
    ASSERT_EQ(read(crlf("PRODUCT = 32769")), Step::Continue);
    EXPECT_EQ(state.hwid, 0x8001);
    ASSERT_EQ(read(crlf("PRODUCT = -32767|PRODUCT = 12"), 2), Step::Continue);
    EXPECT_EQ(state.hwid, 12);
}

TEST_F(MapFiles, OutOfRangeValuesRejectTheFileAndKeepTheList) {
    for (const char* lines :
         {"[1]|VERSION = 256", "[1]|VERSION = -1", "[32768]", "[1e9]|[99999999999999999999999]",
          "PRODUCT = 65536", "PRODUCT = -32769"}) {
        SCOPED_TRACE(lines);
        state.blocks = {makeBlock(1, 1, 2)};
        state.hwid = 7;
        EXPECT_EQ(read(crlf(lines), 1, "/maps/bad.map"), Step::Reject);
        EXPECT_TRUE(error.contains("bad.map"));
        EXPECT_EQ(state.blocks, (BlockList{makeBlock(1, 1, 2)}));
        EXPECT_EQ(state.hwid, 7);
    }
    // Without a current block a VERSION goes nowhere, so its value is not looked at.
    EXPECT_EQ(read(crlf("VERSION = 999")), Step::Continue);
}

TEST_F(MapFiles, LineFeedOnlyFilesAndFilesOnDisk) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("lf.map"), "[9]\nDATA = {\n0x10\n}\nVERSION = 2\n");
    LoadContext ctx = state.context(1, ui);
    ASSERT_EQ(stepOf(loadMapFile(dir.filePath("lf.map"), ctx)), Step::Continue);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{9, "\x10", 2}}));

    writeBytes(dir.filePath("empty.map"), "");
    EXPECT_EQ(stepOf(loadMapFile(dir.filePath("empty.map"), ctx)), Step::EndLoad);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("empty.map")));
    EXPECT_EQ(stepOf(loadMapFile(dir.filePath("missing.map"), ctx)), Step::EndLoad);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{9, "\x10", 2}}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MapFiles, TheReaderReportsItsLinesSoAWindowCanRepaint) {
    ASSERT_EQ(read(crlf("[1]|DATA = {|01|}|VERSION = 2")), Step::Continue);
    EXPECT_EQ(ui.readTotal, 5);
    EXPECT_EQ(ui.readDone, ui.readTotal);
}

TEST_F(MapFiles, LinesThatDoNotReadAreReportedAndLoadedAsBefore) {
    QVector<LoadProblem> problems;
    LoadContext ctx = state.context(1, ui);
    ctx.problems = &problems;
    const QByteArray text = crlf("[20]|VERSION=3|PRODUCT = 7|DATA = {|01 0G|0x0A 0B|01 02 ; c|"
                                 "ABC|}|");
    ASSERT_EQ(stepOf(readMapText(text, "m.map", ctx)), Step::Continue);
    EXPECT_EQ(shown(state.blocks), "20/0/0a0bab"); // "VERSION=3" loses its digit, as ever
    // The first lines of the file are kept; the fourth is only counted.
    ASSERT_EQ(problems.size(), 3);
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_EQ(problems[0].text, "VERSION=3");
    EXPECT_EQ(problems[1].line, 5);
    EXPECT_EQ(problems[1].text, "01 0G");
    EXPECT_TRUE(problems[1].what.contains("\"G\" is not a hex digit"));
    EXPECT_EQ(problems[2].line, 7); // comments are not stripped inside data blocks
    EXPECT_EQ(problems[2].unlisted, 1);
    EXPECT_EQ(problemCount(problems), 4);
    EXPECT_EQ(problems[0].file, "m.map");
}

// Lines that would lose or misplace data are reported with their line; the file loads as it
// always has.
TEST_F(MapFiles, LinesThatLoseOrMisplaceDataAreReported) {
    const struct {
        QByteArray text;
        const char* after;
        QVector<int> lines;
    } cases[] = {
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
        QVector<LoadProblem> problems;
        LoadContext ctx = state.context(1, ui);
        ctx.problems = &problems;
        ASSERT_EQ(stepOf(readMapText(c.text, "m.map", ctx)), Step::Continue);
        EXPECT_EQ(shown(state.blocks), c.after);
        QVector<int> lines;
        for (const LoadProblem& p : problems)
            lines << p.line;
        EXPECT_EQ(lines, c.lines);
    }
}
