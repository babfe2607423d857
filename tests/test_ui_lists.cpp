// The two list views over their lists: fill, sort, select all, delete, descriptions, copying
// between them, comparing, and Load/Save through the replaceable file choosers. The list
// routines themselves are tested on the core; these check the window's wiring around them.

#include "ui_fixture.h"

#include "blocks/rowtext.h"

#include <QCheckBox>
#include <QHeaderView>

using namespace x45;
using namespace x45::test;
using x45::ui::BlockListView;

namespace {

class Lists : public WindowTest {
protected:
    // Every row of a view shows the block at its position, with the row texts of the core (the
    // description aside).
    void expectInStep(BlockListView* view, const BlockList& list) {
        const auto& model = *view->blockModel();
        ASSERT_EQ(model.rowCount(), list.size());
        for (int row = 0; row < list.size(); ++row) {
            QStringList shown;
            for (int column = 0; column < 4; ++column)
                shown << model.index(row, column).data().toString();
            EXPECT_EQ(shown, rowTexts(list[row], QString()).mid(0, 4)) << "row " << row;
        }
    }
    QString origin() { return label("UserOriginLabel"); }
};

BlockList fiveBlocks() {
    return {block(5077, "abc", 1), block(12, "", 0), block(4999, "x", 2), block(5000, "yz", 3),
            block(-3, "q", 255)};
}

} // namespace

TEST_F(Lists, FillShowsEveryBlockAndSelectsOnlyTheFirstRowAndOnlyTheIdHeaderSorts) {
    QApplication::setActiveWindow(form.get());
    fillUser(fiveBlocks());
    expectInStep(userView(), ws().UserBlocks);
    EXPECT_EQ(userView()->selectedRowPositions(), QList<int>({0}));
    press("SelectAllUsersButton");
    EXPECT_EQ(userView()->selectedRowPositions(), QList<int>({0, 1, 2, 3, 4}));
    EXPECT_EQ(QApplication::focusWidget(), userView());
    for (int column = 1; column < 5; ++column)
        emit userView()->header()->sectionClicked(column);
    EXPECT_EQ(ws().UserBlocks, fiveBlocks());
    emit userView()->header()->sectionClicked(0);
    EXPECT_EQ(ids(ws().UserBlocks), QVector<qint16>({-3, 12, 4999, 5000, 5077}));
    expectInStep(userView(), ws().UserBlocks);
    EXPECT_EQ(userView()->selectedRowPositions(), QList<int>({0}));
}

TEST_F(Lists, DeleteAsksWithTheCountAndRemovesRowsAndBlocksInStep) {
    fillPhone(fiveBlocks());
    phoneView()->selectOnlyRow(3);
    phoneView()->selectRow(1);
    script.messageAnswers = {Button::No, Button::Yes, Button::Yes};
    press("DeletePhonesButton");
    EXPECT_EQ(ws().PhoneBlocks, fiveBlocks());
    press("DeletePhonesButton");
    const BlockList all = fiveBlocks();
    EXPECT_EQ(ws().PhoneBlocks, BlockList({all[0], all[2], all[4]}));
    expectInStep(phoneView(), ws().PhoneBlocks);
    EXPECT_TRUE(script.messages.back().text.contains(" 2 blocks"));

    // With nothing selected it still asks, for 0 blocks; an empty list asks nothing.
    fillUser(fiveBlocks());
    userView()->selectionModel()->clearSelection();
    press("DeleteUsersButton");
    EXPECT_TRUE(script.messages.back().text.contains(" 0 blocks"));
    EXPECT_EQ(ws().UserBlocks, fiveBlocks());
    fillUser({});
    press("DeleteUsersButton");
    EXPECT_EQ(script.messages.size(), 3u);
}

TEST_F(Lists, DescriptionsFollowTheCheckBoxAndCopiedRowsKeepTheirsUntilTheNextFill) {
    form->loadDescriptions(dir.filePath("absent.dsc")); // a file named on purpose: reported
    ASSERT_EQ(script.messages.size(), 1u);
    form->loadDescriptions(writeFile("eeprom.dsc", "20\r\nany\r\n1\r\n20\r\nfor hw 9\r\n9\r\n"));
    ws().UserHWid = 9;
    fillUser({block(20, "new", 4), block(30, "thirty"), block(40, "forty")});
    fillPhone({block(40, "old"), block(20, "old")});
    EXPECT_EQ(form->userModel().description(0), "any");
    control<QCheckBox>(form.get(), "CheckHWidForDesc")->click();
    EXPECT_EQ(form->userModel().description(0), "for hw 9");
    EXPECT_EQ(form->phoneModel().description(1), ""); // no phone identified: hardware id 0

    press("SelectAllUsersButton");
    script.rewriteAnswers = {RewriteAnswer::Yes, RewriteAnswer::No};
    press("CopyRightButton");
    EXPECT_EQ(script.rewriteQuestions.size(), 2);
    EXPECT_EQ(ws().PhoneBlocks,
              BlockList({block(40, "old"), block(20, "new", 4), block(30, "thirty")}));
    expectInStep(phoneView(), ws().PhoneBlocks);
    // The replaced row took the User's description; a fill looks it up under hardware id 0.
    EXPECT_EQ(form->phoneModel().description(1), "for hw 9");
    form->fillPhoneList();
    EXPECT_EQ(form->phoneModel().description(1), "");
}

TEST_F(Lists, LoadTakesTheChosenFilesAndARejectedFileOrACancelLeavesTheListAsItWas) {
    const BlockList onDisk = {block(5100, "\x01\x02", 1), block(3, "abc", 2)};
    const QString eep = writeFile("dump.eep", serializeEep(onDisk, 1105));
    const QString txt = writeFile("t.txt", "8A ZZ\r\n01 02\r\n"); // a line that does not read
    writeFile("t.tid", "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 2 \r\n"
                       "EEPROM BlockVer:\r\n 0 \r\n");
    form->setOpenChooser([&] { return QStringList{eep, txt}; });
    press("LoadUsersButton");
    EXPECT_EQ(ids(ws().UserBlocks), QVector<qint16>({2, 3, 5100}));
    expectInStep(userView(), ws().UserBlocks);
    EXPECT_EQ(origin(), "dump.eep, t.txt");
    ASSERT_EQ(script.messages.size(), 1u) << "the lines that do not read, in one message";
    EXPECT_TRUE(script.messages[0].text.contains("t.txt line 1"));

    const BlockList loaded = ws().UserBlocks;
    const QString bad = writeFile("bad.eep", QByteArray::fromHex("01000000000000000500000010000000"));
    for (const QStringList& chosen : {QStringList{bad}, QStringList{}}) {
        form->setOpenChooser([&] { return chosen; });
        press("LoadUsersButton");
        EXPECT_EQ(ws().UserBlocks, loaded);
        expectInStep(userView(), loaded);
        EXPECT_EQ(origin(), "dump.eep, t.txt") << "a rejected file or a cancel is no origin";
    }
    EXPECT_EQ(script.messages.size(), 2u) << "the rejected file is reported";
}

TEST_F(Lists, SaveWritesThroughTheChooserAndAFailedSaveIsShown) {
    int asked = 0;
    form->setSaveChooser([&] {
        ++asked;
        return dir.filePath(asked == 1 ? "out.eep" : "out.bin");
    });
    press("SaveUsersButton"); // empty list: no dialog
    EXPECT_EQ(asked, 0);

    fillUser({block(1, "a"), block(6000, "bb", 3)});
    press("SaveUsersButton");
    EXPECT_TRUE(QFile::exists(dir.filePath("out.eep")));
    EXPECT_EQ(origin(), "out.eep") << "one row selected: all blocks saved, the list is the file";

    ASSERT_TRUE(QDir(dir.path()).mkdir("out.bid")); // the id file cannot be written
    press("SaveUsersButton");
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("out.bid"));
}
