// The two list views over their lists: fill, sort, select all, delete, descriptions, copying
// between them, comparing, and Load/Save through the replaceable file choosers. The list
// routines themselves are tested on the core; these check the window's wiring around them.

#include "blockids.h"
#include "fakeport.h"
#include "ui_fixture.h"

#include "blocks/rowtext.h"
#include "files/eepfile.h"
#include "link/session.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

using namespace x45;
using namespace x45::test;
using x45::ui::BlockListView;
using x45::ui::MainForm;

namespace {

class Lists : public ::testing::Test {
protected:
    void SetUp() override {
        form.reset(makeForm(port, script));
        phoneView = control<BlockListView>(form.get(), "PhoneEEPList");
        userView = control<BlockListView>(form.get(), "UserEEPList");
    }
    Workspace& ws() { return form->workspace(); }
    void click(const char* name) { control<QAbstractButton>(form.get(), name)->click(); }
    QString writeFile(const char* name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << name;
        file.write(bytes);
        return file.fileName();
    }
    void loadDescriptions(const QByteArray& text) {
        form->loadDescriptions(writeFile("eeprom.dsc", text));
    }
    void expectMessage(const QString& text, const QString& title, Buttons buttons) {
        ASSERT_EQ(script.messages.size(), 1u);
        EXPECT_EQ(script.messages[0].text, text);
        EXPECT_EQ(script.messages[0].title, title);
        EXPECT_EQ(script.messages[0].buttons, buttons);
    }

    // Every row of a view shows the block at its position, with the row texts of the core (the
    // description aside).
    void expectInStep(BlockListView* view, const BlockList& list) {
        const auto& model = *view->blockModel();
        ASSERT_EQ(model.rowCount(), list.size());
        for (int row = 0; row < list.size(); ++row) {
            QStringList shown;
            for (int column = 0; column < 4; ++column)
                shown << model.data(model.index(row, column), Qt::DisplayRole).toString();
            EXPECT_EQ(shown, rowTexts(list[row], QString()).mid(0, 4)) << "row " << row;
        }
    }

    QTemporaryDir dir;
    FakePort port;
    ScriptedInteraction script;
    std::unique_ptr<MainForm> form;
    BlockListView* phoneView = nullptr;
    BlockListView* userView = nullptr;
};

BlockList fiveBlocks() {
    return {block(5077, "abc", 1), block(12, "", 0), block(4999, "x", 2), block(5000, "yz", 3),
            block(-3, "q", 255)};
}

} // namespace

TEST_F(Lists, FillShowsEveryBlockAndSelectsExactlyTheFirstRowWhateverSelectAllMarked) {
    QApplication::setActiveWindow(form.get());
    fillUser(*form, fiveBlocks());
    expectInStep(userView, ws().UserBlocks);
    EXPECT_EQ(userView->selectedRowPositions(), QList<int>({0}));

    // "Select all" marks every row and focuses the view; a fill then leaves only row 1 selected.
    click("SelectAllUsersButton");
    EXPECT_EQ(userView->selectedRowPositions(), QList<int>({0, 1, 2, 3, 4}));
    EXPECT_EQ(QApplication::focusWidget(), userView);
    form->FillUserEEPList();
    EXPECT_EQ(userView->selectedRowPositions(), QList<int>({0}));

    fillUser(*form, {});
    EXPECT_EQ(userView->blockModel()->rowCount(), 0);
    EXPECT_TRUE(userView->selectedRowPositions().isEmpty());
    click("SelectAllPhonesButton"); // empty list: only the focus moves
    EXPECT_TRUE(phoneView->selectedRowPositions().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), phoneView);
}

TEST_F(Lists, OnlyTheIdHeaderSorts) {
    fillPhone(*form, fiveBlocks());
    for (int column = 1; column < 5; ++column)
        emit phoneView->header()->sectionClicked(column);
    EXPECT_EQ(ws().PhoneBlocks, fiveBlocks());
    phoneView->selectAllRowsAndFocus();
    emit phoneView->header()->sectionClicked(0);
    EXPECT_EQ(ids(ws().PhoneBlocks), QVector<qint16>({-3, 12, 4999, 5000, 5077}));
    expectInStep(phoneView, ws().PhoneBlocks);
    EXPECT_EQ(phoneView->selectedRowPositions(), QList<int>({0}));
}

TEST_F(Lists, DeleteAsksWithTheCountAndRemovesRowsAndBlocksInStep) {
    fillPhone(*form, fiveBlocks());
    phoneView->selectOnlyRow(1);
    phoneView->selectRow(3);
    script.messageAnswers = {Button::No, Button::Yes, Button::Yes, Button::Yes};
    click("DeletePhonesButton");
    EXPECT_EQ(ws().PhoneBlocks, fiveBlocks());
    expectMessage("Are you sure you want to delete 2 blocks?", "Confirm delete", Buttons::YesNo);
    click("DeletePhonesButton");
    const BlockList all = fiveBlocks();
    EXPECT_EQ(ws().PhoneBlocks, BlockList({all[0], all[2], all[4]}));
    expectInStep(phoneView, ws().PhoneBlocks);

    // With nothing selected it still asks, for 0 blocks; an empty list asks nothing.
    fillUser(*form, fiveBlocks());
    userView->selectionModel()->clearSelection();
    click("DeleteUsersButton");
    EXPECT_EQ(script.messages.back().text, "Are you sure you want to delete 0 blocks?");
    EXPECT_EQ(ws().UserBlocks, fiveBlocks());
    click("SelectAllUsersButton");
    click("DeleteUsersButton");
    EXPECT_EQ(script.messages.back().text, "Are you sure you want to delete 5 blocks?");
    EXPECT_TRUE(ws().UserBlocks.isEmpty());
    EXPECT_EQ(userView->blockModel()->rowCount(), 0);
    click("DeleteUsersButton");
    EXPECT_EQ(script.messages.size(), 4u);
}

TEST_F(Lists, TheCheckBoxRefillsBothListsUnderTheHardwareRule) {
    loadDescriptions("5077\r\nfirst text\r\n1\r\n5077\r\nsecond text\r\n2\r\n");
    ws().UserHWid = 2;
    fillUser(*form, {block(5077, "b")});
    fillPhone(*form, {block(5077, "b")});
    auto& user = *userView->blockModel();
    auto& phone = *phoneView->blockModel();
    EXPECT_EQ(user.description(0), "first text");
    EXPECT_EQ(phone.description(0), "first text");

    userView->selectAllRowsAndFocus();
    auto* check = control<QCheckBox>(form.get(), "CheckHWidForDesc");
    check->click();
    EXPECT_EQ(user.description(0), "second text");
    EXPECT_EQ(phone.description(0), ""); // no phone identified: hardware id 0
    EXPECT_EQ(userView->selectedRowPositions(), QList<int>({0}));
    check->click();
    EXPECT_EQ(user.description(0), "first text");
}

TEST_F(Lists, CopiedRowsKeepTheSourceDescriptionUntilTheNextFill) {
    loadDescriptions("20\r\nfor hw 9\r\n9\r\n");
    control<QCheckBox>(form.get(), "CheckHWidForDesc")->setChecked(true);
    ws().UserHWid = 9;
    fillUser(*form, {block(20, "new", 4), block(30, "thirty"), block(40, "forty")});
    fillPhone(*form, {block(40, "old"), block(20, "old")});
    ASSERT_EQ(userView->blockModel()->description(0), "for hw 9");
    ASSERT_EQ(phoneView->blockModel()->description(1), "");

    click("SelectAllUsersButton");
    script.rewriteAnswers = {RewriteAnswer::Yes, RewriteAnswer::No};
    click("CopyRightButton");
    EXPECT_EQ(script.rewriteQuestions,
              QStringList({"Do you want to overwrite block 20 in Phone's EEPROM?",
                           "Do you want to overwrite block 40 in Phone's EEPROM?"}));
    EXPECT_EQ(ws().PhoneBlocks,
              BlockList({block(40, "old"), block(20, "new", 4), block(30, "thirty")}));
    expectInStep(phoneView, ws().PhoneBlocks);
    // The replaced row took the User's description; a fill would look it up under hardware id 0.
    EXPECT_EQ(phoneView->blockModel()->description(1), "for hw 9");
    EXPECT_TRUE(phoneView->isRowSelected(0));
    form->FillPhoneEEPList();
    EXPECT_EQ(phoneView->blockModel()->description(1), "");
}

TEST_F(Lists, CopyLeftHandsOverThePhonesHardwareIdEvenWithNothingSelectedAndAsksForTheUsers) {
    form->session().identity.PhoneHWid = 0x8001;
    ws().UserHWid = 5;
    fillUser(*form, {block(1, "a")});
    fillPhone(*form, {block(1, "b")});
    phoneView->selectionModel()->clearSelection();
    userView->selectionModel()->clearSelection();
    click("CopyLeftButton");
    EXPECT_EQ(ws().UserBlocks, BlockList({block(1, "a")}));
    EXPECT_EQ(ws().UserHWid, 0x8001);
    EXPECT_EQ(userView->selectedRowPositions(), QList<int>({0}));

    click("SelectAllPhonesButton");
    script.rewriteAnswers = {RewriteAnswer::Yes};
    click("CopyLeftButton");
    EXPECT_EQ(script.rewriteQuestions,
              QStringList({"Do you want to overwrite block 1 in User's EEPROM?"}));
    EXPECT_EQ(ws().UserBlocks, BlockList({block(1, "b")}));
    expectInStep(userView, ws().UserBlocks);
}

TEST_F(Lists, CompareShowsTheDifferencesInItsDialog) {
    fillUser(*form, {block(1, "same"), block(2, "abc"), block(4, "only user")});
    fillPhone(*form, {block(2, "abcd"), block(1, "same"), block(9, "only phone")});
    QStringList seen;
    onNextModal([&](QWidget* modal) {
        seen << modal->windowTitle();
        for (const char* name : {"PhoneMissingList", "UserMissingList", "DifferentList"}) {
            auto* list = modal->findChild<QListWidget*>(QLatin1String(name));
            for (int i = 0; list && i < list->count(); ++i)
                seen << QStringLiteral("%1 %2").arg(name, list->item(i)->text());
        }
        modal->findChild<QPushButton*>("OKButton")->click();
    });
    click("CompareButton");
    EXPECT_EQ(seen, QStringList({"List's compare result", "PhoneMissingList 4", "UserMissingList 9",
                                 "DifferentList 2"}));
    EXPECT_TRUE(script.messages.empty());

    // Equal lists: a message instead of the dialog; either list empty: neither.
    fillPhone(*form, ws().UserBlocks);
    click("CompareButton");
    expectMessage("Lists are identical!", "Compare result", Buttons::Ok);
    fillPhone(*form, {});
    click("CompareButton");
    EXPECT_EQ(script.messages.size(), 1u);
}

TEST_F(Lists, LoadTakesTheChosenFileAndARejectedFileOrACancelLeavesListAndViewAsTheyWere) {
    const BlockList onDisk = {block(5100, "\x01\x02", 1), block(3, "abc", 2), block(77, "z", 9)};
    const QString eep = writeFile("dump.eep", serializeEep(onDisk, 1105));
    form->setOpenChooser([&] { return QStringList{eep}; });
    click("LoadUsersButton");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(ws().UserHWid, 1105);
    EXPECT_EQ(ids(ws().UserBlocks), QVector<qint16>({3, 77, 5100}));
    expectInStep(userView, ws().UserBlocks);
    auto* origin = control<QLabel>(form.get(), "UserOriginLabel");
    EXPECT_EQ(origin->text(), "dump.eep");

    // Ends inside its only entry.
    const BlockList loaded = ws().UserBlocks;
    const QString bad =
        writeFile("bad.eep", QByteArray::fromHex("01000000000000000500000010000000"));
    form->setOpenChooser([&] { return QStringList{bad}; });
    click("LoadUsersButton");
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(ws().UserBlocks, loaded);
    expectInStep(userView, loaded);

    form->setOpenChooser([] { return QStringList{}; });
    click("LoadUsersButton");
    EXPECT_EQ(ws().UserBlocks, loaded);
    EXPECT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(origin->text(), "dump.eep") << "a rejected file or a cancel is no origin";
}

TEST_F(Lists, LinesThatDoNotReadAreLoadedAsBeforeThenListedInOneMessage) {
    const QString txt = writeFile("t.txt", "8A 16 ZZ 5A\r\n01 02\r\n");
    writeFile("t.tid", "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 2 \r\n"
                       "EEPROM BlockVer:\r\n 0 \r\n");
    const QString other = writeFile("notes.xyz", "x");
    form->setOpenChooser([&] { return QStringList{txt, other}; });
    click("LoadUsersButton");
    EXPECT_EQ(ws().UserBlocks, (BlockList{block(2, "\x01\x02", 0)}));
    expectInStep(userView, ws().UserBlocks);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("skipped notes.xyz: not an EEPROM, block or "
                                                 "mapping file"));
    EXPECT_TRUE(script.messages[0].text.contains("t.txt line 1: \"8A 16 ZZ 5A\""));
}

TEST_F(Lists, ASaveThatFailsIsShownAndKeepsTheOldFile) {
    const QString out = writeFile("out.bin", "old data");
    ASSERT_TRUE(QDir(dir.path()).mkdir("out.bid")); // the id file cannot be written
    fillUser(*form, {block(1, "a")});
    form->setSaveChooser([&] { return out; });
    userView->selectRow(0);
    click("SaveUsersButton");
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("could not be written"));
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "old data"); // data and id file are replaced together or not at all
}

TEST_F(Lists, SaveWritesThroughTheChooserAndNothingWhenTheListIsEmpty) {
    const QString out = dir.filePath("out.eep");
    int asked = 0;
    form->setSaveChooser([&] {
        ++asked;
        return out;
    });
    click("SaveUsersButton"); // empty list: no dialog
    EXPECT_EQ(asked, 0);

    ws().UserHWid = 7;
    fillUser(*form, {block(1, "a"), block(6000, "bb", 3)});
    click("SaveUsersButton");
    EXPECT_EQ(asked, 1);
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), serializeEep(ws().UserBlocks, 7)); // one row selected: all blocks
    EXPECT_EQ(control<QLabel>(form.get(), "UserOriginLabel")->text(), "out.eep");
}

TEST_F(Lists, ANamedDescriptionFileThatIsMissingIsReportedAndDescriptionsStayEmpty) {
    form->loadDescriptions(dir.filePath("absent.dsc"));
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("absent.dsc"));
    fillUser(*form, {block(1, "a")});
    EXPECT_EQ(userView->blockModel()->description(0), "");
}
