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

QByteArray crlf(std::initializer_list<const char*> lines) {
    QByteArray text;
    for (const char* line : lines)
        text += QByteArray(line) + "\r\n";
    return text;
}

class MapFiles : public ::testing::Test {
protected:
    ScriptedInteraction ui;
    LoadState state;
    QString error;

    FileStep read(const QByteArray& text, int number = 1, const QString& path = "C:\\maps\\a.map") {
        LoadContext ctx = state.context(number, ui);
        const FileStep step = readMapText(text, path, ctx);
        error = ctx.error;
        return step;
    }
    const EEPBlock* block(qint16 id) const {
        const qsizetype at = findBlock(state.blocks, id);
        return at < 0 ? nullptr : &state.blocks[at];
    }
};

} // namespace

TEST_F(MapFiles, KeyValueSplitSkipsOneCharacterAfterEquals) {
    ASSERT_EQ(read(crlf({"[1]", "VERSION = 3", "[2]", "VERSION=3", "[3]", "VERSION 3", "[4]",
                         "version\t4", "[5]", "  Version =   5  ; five", "[6]", "VERSION =13"})),
              FileStep::Continue);
    ASSERT_EQ(state.blocks.size(), 6);
    EXPECT_EQ(block(1)->BlockVer, 3);
    EXPECT_EQ(block(2)->BlockVer, 0); // the digit right after "=" is skipped
    EXPECT_EQ(block(3)->BlockVer, 3);
    EXPECT_EQ(block(4)->BlockVer, 4);
    EXPECT_EQ(block(5)->BlockVer, 5);
    EXPECT_EQ(block(6)->BlockVer, 3);
}

TEST_F(MapFiles, DataBlockCollectsHexBytes) {
    ASSERT_EQ(read(crlf({"; header comment", "", "[5077]", "DATA = {", "0x01 0x02", "  0A0B  ",
                         "0x1G", "01 02 ; not a comment here", "\t", "}", "[6]"})),
              FileStep::Continue);
    ASSERT_EQ(state.blocks.size(), 2);
    EXPECT_EQ(block(5077)->Data, QByteArray::fromHex("01020a0b"));
    EXPECT_TRUE(block(6)->Data.isEmpty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MapFiles, SectionHeaders) {
    state.blocks = {makeBlock(30, 2, 4)};
    ASSERT_EQ(read(crlf({"[0]", "VERSION = 9", "[abc]", "[-4]", "[ 12 ]", "[&H1E]", "DATA = {",
                         "FF", "}", "[2.5]", "[]", "[7"}),
                   2),
              FileStep::Continue);
    ASSERT_EQ(state.blocks.size(), 3);
    EXPECT_EQ(state.blocks[0].BlockId, 30); // found in place, gets the data
    EXPECT_EQ(state.blocks[0].Data, "\xFF");
    EXPECT_EQ(state.blocks[0].BlockVer, 4);
    EXPECT_EQ(state.blocks[1], (EEPBlock{12, {}, 0})); // VERSION before it had no block
    EXPECT_EQ(state.blocks[2].BlockId, 2);             // halves round to the even neighbour
}

TEST_F(MapFiles, FirstFileStartsFromAnEmptyListLaterOnesMerge) {
    state.blocks = {makeBlock(1, 1), makeBlock(2, 2)};
    ASSERT_EQ(read(crlf({"[3]"}), 1), FileStep::Continue);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{3, {}, 0}}));
    ASSERT_EQ(read(crlf({"[4]", "[3]", "VERSION = 1"}), 2), FileStep::Continue);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{3, {}, 1}, EEPBlock{4, {}, 0}}));
}

TEST_F(MapFiles, ClosingLineLastIsCorrupted) {
    const QByteArray corrupt[] = {
        crlf({"[5077]", "DATA = {", "0x01 0x02", "}"}),
        QByteArray("[5077]\r\nDATA = {\r\n01\r\n}"),
        crlf({"[5077]", "DATA = {", "0x01"}),
        crlf({"[5077]", "DATA = {"}),
        crlf({"DATA = {", "01", "}"}),
    };
    for (const QByteArray& text : corrupt) {
        SCOPED_TRACE(text.toStdString());
        state.blocks = {makeBlock(1, 1)};
        ui.messages.clear();
        EXPECT_EQ(read(text, 2), FileStep::EndLoad);
        EXPECT_TRUE(state.blocks.isEmpty());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, "Possible corrupted mapping file!");
        EXPECT_EQ(ui.messages[0].icon, Icon::Critical);
        EXPECT_EQ(ui.messages[0].buttons, Buttons::Ok);
    }
    // One more line after the closing one, even an empty one, makes it sound.
    EXPECT_EQ(read(crlf({"[5077]", "DATA = {", "01", "}", ""})), FileStep::Continue);
    EXPECT_EQ(block(5077)->Data, "\x01");
}

TEST_F(MapFiles, ServiceQuestionAskedOncePerFile) {
    const QByteArray text =
        crlf({"[10]", "SERVICE = 0", "DATA = {", "AA", "}", "[11]", "SERVICE = 0", "DATA = {", "BB",
              "}", "[12]", "SERVICE = 1", "DATA = {", "CC", "}", ""});
    ui.messageAnswers = {Button::Yes};
    ASSERT_EQ(read(text, 1, "/maps/phone.map"), FileStep::Continue);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "File \"phone.map\" contains blocks usually skipped by original "
                                   "InitMap software.\rInclude them in the list?");
    EXPECT_EQ(ui.messages[0].buttons, Buttons::YesNo);
    EXPECT_EQ(ui.messages[0].icon, Icon::Question);
    EXPECT_EQ(state.blocks.size(), 3);

    ui.messages.clear();
    ui.messageAnswers = {Button::No};
    ASSERT_EQ(read(text, 1), FileStep::Continue);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{12, "\xCC", 0}}));

    // The next file of the same selection asks again.
    ui.messages.clear();
    ui.messageAnswers = {Button::Yes};
    ASSERT_EQ(read(text, 2), FileStep::Continue);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(state.blocks.size(), 3);
}

TEST_F(MapFiles, ServiceNoKeepsABlockThatAlreadyHasData) {
    ui.defaultMessageAnswer = Button::No;
    ASSERT_EQ(read(crlf({"[1]", "DATA = {", "01", "}", "SERVICE = 0", "VERSION = 5", "[2]",
                         "SERVICE =  ; no value", "[3]"})),
              FileStep::Continue);
    // Block 1 keeps its data but is no longer current, so VERSION misses it; "SERVICE =" with no
    // value reads as 0 and drops block 2.
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{1, "\x01", 0}, EEPBlock{3, {}, 0}}));
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(MapFiles, OffsetRemovesANewBlockWithoutData) {
    ASSERT_EQ(
        read(crlf({"[1]", "OFFSET = 100", "VERSION = 4", "DATA = {", "01", "}", "[2]", "OFFSET = 0",
                   "[3]", "DATA = {", "02", "}", "OFFSET = 8", "[4]", "[5]", "[4]", "OFFSET = 1"})),
        FileStep::Continue);
    // 1 goes (and its data goes nowhere); 2 stays; 3 has data; 4 is not the last block.
    ASSERT_EQ(state.blocks.size(), 4);
    EXPECT_EQ(state.blocks[0], (EEPBlock{2, {}, 0}));
    EXPECT_EQ(state.blocks[1], (EEPBlock{3, "\x02", 0}));
    EXPECT_EQ(state.blocks[2].BlockId, 4);
    EXPECT_EQ(state.blocks[3].BlockId, 5);
}

TEST_F(MapFiles, ProductSetsTheHardwareIdAndIsResetPerFile) {
    state.hwid = 7;
    ASSERT_EQ(read(crlf({"[1]"})), FileStep::Continue);
    EXPECT_EQ(state.hwid, 0);
    ASSERT_EQ(read(crlf({"PRODUCT = 32769"})), FileStep::Continue);
    EXPECT_EQ(state.hwid, 0x8001);
    ASSERT_EQ(read(crlf({"PRODUCT = -32767", "PRODUCT = 12"}), 2), FileStep::Continue);
    EXPECT_EQ(state.hwid, 12);
}

TEST_F(MapFiles, OutOfRangeValuesRejectTheFileAndKeepTheList) {
    const QByteArray bad[] = {
        crlf({"[1]", "VERSION = 256"}),
        crlf({"[1]", "VERSION = -1"}),
        crlf({"[32768]"}),
        crlf({"[1e9]", "[99999999999999999999999]"}),
        crlf({"PRODUCT = 65536"}),
        crlf({"PRODUCT = -32769"}),
    };
    for (const QByteArray& text : bad) {
        SCOPED_TRACE(text.toStdString());
        state.blocks = {makeBlock(1, 1, 2)};
        state.hwid = 7;
        EXPECT_EQ(read(text, 1, "/maps/bad.map"), FileStep::Reject);
        EXPECT_TRUE(error.contains("bad.map"));
        EXPECT_EQ(state.blocks, (BlockList{makeBlock(1, 1, 2)}));
        EXPECT_EQ(state.hwid, 7);
    }
    // Without a current block a VERSION goes nowhere, so its value is not looked at.
    EXPECT_EQ(read(crlf({"VERSION = 999"})), FileStep::Continue);
}

TEST_F(MapFiles, LineFeedOnlyFilesAndFilesOnDisk) {
    QTemporaryDir dir;
    writeBytes(dir.filePath("lf.map"), "[9]\nDATA = {\n0x10\n}\nVERSION = 2\n");
    LoadContext ctx = state.context(1, ui);
    ASSERT_EQ(loadMapFile(dir.filePath("lf.map"), ctx), FileStep::Continue);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{9, "\x10", 2}}));

    writeBytes(dir.filePath("empty.map"), "");
    EXPECT_EQ(loadMapFile(dir.filePath("empty.map"), ctx), FileStep::EndLoad);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("empty.map")));
    EXPECT_EQ(loadMapFile(dir.filePath("missing.map"), ctx), FileStep::EndLoad);
    EXPECT_EQ(state.blocks, (BlockList{EEPBlock{9, "\x10", 2}}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MapFiles, PendingEventsRunWhileTheFileIsRead) {
    bool ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
    ASSERT_EQ(read(crlf({"[1]", "VERSION = 2"})), FileStep::Continue);
    EXPECT_TRUE(ran);
}
