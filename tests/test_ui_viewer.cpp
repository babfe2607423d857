// The block viewer (hex dump model and view, opening it from the lists, following the list) and
// the byte view of the compare dialog. With X45_SCREENSHOT_DIR set, the viewer and the dialog are
// also saved there as viewer.png and compare.png (for the README; run under Xvfb with xcb).

#include "fakeport.h"
#include "ui_fixture.h"

#include "files/eepfile.h"
#include "ui/blockviewer.h"
#include "ui/dialogs.h"
#include "ui/hexdumpview.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace x45;
using namespace x45::test;
using namespace x45::ui;

namespace {

QByteArray counting(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

void saveShot(QWidget* widget, const char* name) {
    const QString dir = qEnvironmentVariable("X45_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QTest::qWait(300); // let the window system paint it
    EXPECT_TRUE(widget->grab().save(QDir(dir).filePath(QLatin1String(name)))) << name;
}

QString text(QWidget* root, const char* label) {
    auto* found = control<QLabel>(root, label);
    return found ? found->text() : QString();
}

// As the window system delivers one: press and release, then the double-click.
void doubleClick(QAbstractItemView* view, QPoint at) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

QList<BlockViewer*> viewers(QWidget* form) {
    QList<BlockViewer*> open;
    for (BlockViewer* v : form->findChildren<BlockViewer*>())
        if (!v->isHidden()) open << v;
    return open;
}

class Viewer : public ::testing::Test {
protected:
    void SetUp() override {
        form.reset(makeForm(port, script));
        userView = control<BlockListView>(form.get(), "UserEEPList");
        phoneView = control<BlockListView>(form.get(), "PhoneEEPList");
    }
    Workspace& ws() { return form->workspace(); }
    // Loads an invented dump into the User's list as "Load" does.
    void loadUser(const BlockList& blocks) {
        QFile file(dir.filePath("dump.eep"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(serializeEep(blocks, 0x1105));
        file.close();
        form->setOpenChooser([name = file.fileName()] { return QStringList{name}; });
        control<QAbstractButton>(form.get(), "LoadUsersButton")->click();
        ASSERT_TRUE(script.messages.empty());
    }

    QTemporaryDir dir;
    FakePort port;
    ScriptedInteraction script;
    std::unique_ptr<MainForm> form;
    BlockListView* userView = nullptr;
    BlockListView* phoneView = nullptr;
};

} // namespace

TEST(HexDumpModel, RowsOffsetsTheShortLastRowAndMarks) {
    HexDumpModel model;
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.hexTextOf({}), "");

    model.setBytes(QByteArray("0123456789abcdef", 16) + QByteArray::fromHex("FF00"));
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 17);
    EXPECT_EQ(model.headerData(1, Qt::Vertical, Qt::DisplayRole), "00000010");
    EXPECT_EQ(model.headerData(16, Qt::Horizontal, Qt::DisplayRole), "ASCII");
    EXPECT_EQ(model.index(1, 0).data(), "FF");
    EXPECT_EQ(model.index(1, HexDumpModel::AsciiColumn).data(), "..");
    // Past the end of the short row: nothing shown, nothing to select.
    EXPECT_FALSE(model.index(1, 2).data().isValid());
    EXPECT_EQ(model.flags(model.index(1, 2)), Qt::NoItemFlags);
    EXPECT_EQ(model.offsetOf(model.index(1, 1)), 17);
    EXPECT_EQ(model.indexOf(17), model.index(1, 1));
    EXPECT_FALSE(model.indexOf(18).isValid());

    // A selection's text: offset order, an ASCII cell for its whole row, each byte once.
    EXPECT_EQ(model.hexTextOf({model.index(1, HexDumpModel::AsciiColumn), model.index(0, 2),
                               model.index(1, 0), model.index(1, 5)}),
              "32 FF 00");

    model.setMarks({{2, 3}, {17, 1}});
    EXPECT_TRUE(model.isMarked(2) && model.isMarked(4) && model.isMarked(17));
    EXPECT_FALSE(model.isMarked(1) || model.isMarked(5) || model.isMarked(16));
    EXPECT_TRUE(model.index(0, 3).data(Qt::BackgroundRole).isValid());
    EXPECT_EQ(model.index(0, HexDumpModel::AsciiColumn)
                  .data(HexDumpModel::MarkedCharsRole)
                  .value<QList<int>>(),
              QList<int>({2, 3, 4}));
    EXPECT_FALSE(model.index(0, 5).data(Qt::BackgroundRole).isValid());

    // The longest block: 4,096 rows, the last holding 15 bytes.
    model.setBytes(counting(65535));
    ASSERT_EQ(model.rowCount(), 4096);
    EXPECT_FALSE(model.index(4095, 15).data().isValid());
    EXPECT_EQ(model.offsetOf(model.index(4095, 14)), 65534);
}

TEST(HexDumpView, CopyPutsTheSelectedBytesOnTheClipboardAsHex) {
    HexDumpView view;
    view.hexModel()->setBytes(counting(40));
    view.show();
    // A drag from offset 14 to 17 selects the bytes between, not the rectangle of cells.
    const auto at = [&](int row, int column) {
        return view.visualRect(view.hexModel()->index(row, column)).center();
    };
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at(0, 14));
    QTest::mouseMove(view.viewport(), at(1, 1));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at(1, 1));
    EXPECT_EQ(view.selectedHexText(), "65 6C 73 7A");
    // Backwards with Shift and the keyboard: from 17 up a row to 1.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at(1, 1));
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Up, Qt::ShiftModifier);
    const QStringList bytes = view.selectedHexText().split(QRegularExpression("[ \n]"));
    ASSERT_EQ(bytes.size(), 17);
    EXPECT_EQ(bytes.first(), "0A");
    EXPECT_EQ(bytes.last(), "7A");
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at(0, 14));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, at(1, 1));
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "65 6C 73 7A");

    // Everything, cut into lines of 16 bytes.
    view.selectAll();
    const QStringList lines = view.selectedHexText().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[2], "E3 EA F1 F8 FF 06 0D 14");
}

TEST_F(Viewer, DoubleClickEnterAndViewOpenNonModalViewersOfEitherList) {
    const QByteArray data = QByteArray("\x02\x00Invented greeting\x00", 20) + counting(150);
    QFile dsc(dir.filePath("eeprom.dsc"));
    ASSERT_TRUE(dsc.open(QIODevice::WriteOnly));
    dsc.write("5077\r\nGreeting text shown at power-on\r\n4357\r\n");
    dsc.close();
    form->loadDescriptions(dsc.fileName());
    loadUser({block(5077, data, 3), block(20, "", 1)});
    fillPhone(*form, {block(7, "phone", 9)});
    ASSERT_EQ(ws().UserBlocks.size(), 2);

    // Double-click on row 1 of the User's list (block 5077 after the load's sort).
    const QRect row1 = userView->visualRect(userView->blockModel()->index(1, 0));
    doubleClick(userView, row1.center());
    ASSERT_EQ(viewers(form.get()).size(), 1);
    BlockViewer* v = viewers(form.get()).first();
    EXPECT_FALSE(v->isModal());
    EXPECT_EQ(v->windowTitle(), "Block 5077 \u2013 User's list");
    EXPECT_EQ(text(v, "BlockViewerNumber"), "5077");
    EXPECT_EQ(text(v, "BlockViewerType"), "EEfull");
    EXPECT_EQ(text(v, "BlockViewerVersion"), "3");
    EXPECT_EQ(text(v, "BlockViewerLength"), "170 bytes");
    EXPECT_EQ(text(v, "BlockViewerDescription"), "Greeting text shown at power-on");
    EXPECT_EQ(control<HexDumpView>(v, "BlockViewerTable")->hexModel()->bytes(), data);
    EXPECT_TRUE(v->notice().isEmpty());
    saveShot(v, "viewer.png");

    // The same block again brings that viewer forward; Enter and "View" open the others.
    doubleClick(userView, row1.center());
    EXPECT_EQ(viewers(form.get()).size(), 1);
    userView->selectOnlyRow(0);
    userView->setFocus();
    QTest::keyClick(userView, Qt::Key_Return);
    phoneView->selectOnlyRow(0);
    std::unique_ptr<QMenu> menu(phoneView->makeContextMenu(
        phoneView->visualRect(phoneView->blockModel()->index(0, 0)).center()));
    auto* viewAction = menu->findChild<QAction*>("ViewBlockAction");
    ASSERT_NE(viewAction, nullptr);
    EXPECT_EQ(viewAction->text(), "View");
    viewAction->trigger();
    QStringList titles;
    for (BlockViewer* open : viewers(form.get()))
        titles << open->windowTitle();
    EXPECT_EQ(titles, QStringList({"Block 5077 \u2013 User's list", "Block 20 \u2013 User's list",
                                   "Block 7 \u2013 Phone's list"}));
    // Below the last row there is nothing to view.
    std::unique_ptr<QMenu> below(phoneView->makeContextMenu(QPoint(5, 400)));
    EXPECT_FALSE(below->findChild<QAction*>("ViewBlockAction")->isEnabled());
}

TEST_F(Viewer, AViewerSaysWhenItsBlockChangedOrLeftTheListAndCanShowTheNewOne) {
    fillUser(*form, {block(1, "one", 1), block(2, "two", 1)});
    BlockViewer* first = form->ViewUserBlock(0);
    BlockViewer* second = form->ViewUserBlock(1);
    ASSERT_TRUE(first && second);

    // A refill with the same blocks changes nothing; block 1 replaced by a copy does.
    form->FillUserEEPList();
    EXPECT_TRUE(first->notice().isEmpty());
    fillPhone(*form, {block(1, "ONE!", 2)});
    phoneView->selectOnlyRow(0);
    script.rewriteAnswers = {RewriteAnswer::Yes};
    control<QAbstractButton>(form.get(), "CopyLeftButton")->click();
    EXPECT_EQ(first->notice(), "This block has changed in the User's list since it was opened; "
                               "the bytes shown are those it had then.");
    EXPECT_EQ(first->block(), block(1, "one", 1));
    EXPECT_TRUE(second->notice().isEmpty());
    // Opening block 1 now gives a new viewer with the list's block; the old one shows it on demand.
    BlockViewer* fresh = form->ViewUserBlock(0);
    EXPECT_NE(fresh, first);
    EXPECT_EQ(fresh->block(), block(1, "ONE!", 2));
    control<QPushButton>(first, "BlockViewerShowCurrent")->click();
    EXPECT_TRUE(first->notice().isEmpty());
    EXPECT_EQ(text(first, "BlockViewerLength"), "4 bytes");

    // Block 2 deleted from the list.
    userView->selectOnlyRow(1);
    script.messageAnswers = {Button::Yes};
    control<QAbstractButton>(form.get(), "DeleteUsersButton")->click();
    EXPECT_EQ(second->notice(), "This block is no longer in the User's list; the bytes shown are "
                                "those it had when it was opened.");
    EXPECT_TRUE(control<QPushButton>(second, "BlockViewerShowCurrent")->isHidden());
    EXPECT_EQ(second->table()->hexModel()->bytes(), "two");
}

TEST_F(Viewer, TheCompareDialogShowsBothVersionsOfTheChosenBlockWithTheDifferencesMarked) {
    QByteArray userData = counting(300);
    QByteArray phoneData = userData;
    phoneData[5] = 'X';
    phoneData[6] = 'Y';
    phoneData[200] = 'Z';
    phoneData.append("tail");
    loadUser({block(5077, userData, 1), block(20, "same", 0), block(30, "v", 1)});
    fillPhone(*form, {block(20, "same", 0), block(5077, phoneData, 2), block(30, "v", 4)});

    QStringList seen;
    onNextModal([&](QWidget* modal) {
        auto* different = modal->findChild<QListWidget*>("DifferentList");
        auto* summary = modal->findChild<QLabel*>("CompareDifference");
        auto* user = modal->findChild<HexDumpView*>("CompareUserBytes");
        auto* phone = modal->findChild<HexDumpView*>("ComparePhoneBytes");
        if (!different || !summary || !user || !phone) {
            ADD_FAILURE() << "controls missing";
            modal->close();
            return;
        }
        seen << summary->text();
        different->setCurrentRow(0); // 30: only the version differs
        seen << summary->text();
        different->setCurrentRow(1);
        seen << summary->text();
        seen << modal->findChild<QLabel*>("CompareUserCaption")->text()
             << modal->findChild<QLabel*>("ComparePhoneCaption")->text();
        EXPECT_EQ(user->hexModel()->bytes(), userData);
        EXPECT_EQ(phone->hexModel()->bytes(), phoneData);
        for (const qsizetype at : {5, 6, 200, 300, 303})
            EXPECT_TRUE(phone->hexModel()->isMarked(at)) << at;
        EXPECT_FALSE(phone->hexModel()->isMarked(7));
        EXPECT_TRUE(user->hexModel()->isMarked(200));
        saveShot(modal, "compare.png");
        modal->findChild<QPushButton*>("OKButton")->click();
    });
    control<QAbstractButton>(form.get(), "CompareButton")->click();
    ASSERT_EQ(seen.size(), 5);
    EXPECT_EQ(seen[0], "Choose a block under \"Different blocks:\" to see both versions byte by "
                       "byte.");
    EXPECT_EQ(seen[1], "Block 30\nVersion: 4 (Phone's) / 1 (User's)\nLength: 1 bytes on both "
                       "sides\nBytes: the bytes both versions have are equal");
    EXPECT_EQ(seen[2], "Block 5077\nVersion: 2 (Phone's) / 1 (User's)\nLength: 304 (Phone's) / "
                       "300 (User's) bytes\nBytes: 3 differ in 2 range(s), the first at "
                       "00000005; 4 from 0000012C only in the Phone's block");
    EXPECT_EQ(seen[3], "User's block 5077: version 1, 300 bytes");
    EXPECT_EQ(seen[4], "Phone's block 5077: version 2, 304 bytes");
}
