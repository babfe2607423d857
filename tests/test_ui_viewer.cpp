// The block viewer (hex dump model and view, opening it from the lists, following the list) and
// the byte view of the compare dialog. With X45_SCREENSHOT_DIR set, the viewer and the dialog are
// also saved there as viewer.png and compare.png (for the README; run under Xvfb with xcb).

#include "ui_fixture.h"

#include "ui/blockviewer.h"
#include "ui/dialogs.h"
#include "ui/hexdumpview.h"

#include <QClipboard>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>

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

class Viewer : public WindowTest {
protected:
    // Loads an invented dump into the User's list as "Load" does.
    void loadUser(const BlockList& blocks) {
        form->loadUserFiles({writeFile("dump.eep", serializeEep(blocks, 0x1105))});
        ASSERT_TRUE(script.messages.empty());
    }
};

} // namespace

TEST(HexDumpModel, RowsOffsetsTheShortLastRowAndMarks) {
    HexDumpModel model;
    model.setBytes(QByteArray("0123456789abcdef", 16) + QByteArray::fromHex("FF00"));
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.headerData(1, Qt::Vertical, Qt::DisplayRole), "00000010");
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
    EXPECT_EQ(model.index(0, HexDumpModel::AsciiColumn)
                  .data(HexDumpModel::MarkedCharsRole)
                  .value<QList<int>>(),
              QList<int>({2, 3, 4}));

    // The longest block: 4,096 rows, the last holding 15 bytes.
    model.setBytes(counting(65535));
    ASSERT_EQ(model.rowCount(), 4096);
    EXPECT_FALSE(model.index(4095, 15).data().isValid());
    EXPECT_EQ(model.offsetOf(model.index(4095, 14)), 65534);
}

TEST_F(Viewer, DoubleClickEnterAndViewOpenNonModalViewersOfEitherList) {
    const QByteArray data = QByteArray("\x02\x00Invented greeting\x00", 20) + counting(150);
    form->loadDescriptions(writeFile("eeprom.dsc", "5077\r\nGreeting shown at power-on\r\n4357\r\n"));
    loadUser({block(5077, data, 3), block(20, "", 1)});
    fillPhone({block(7, "phone", 9)});

    // Double-click on row 1 of the User's list (block 5077 after the load's sort).
    const QRect row1 = userView()->visualRect(form->userModel().index(1, 0));
    doubleClick(userView(), row1.center());
    ASSERT_EQ(viewers(form.get()).size(), 1);
    BlockViewer* v = viewers(form.get()).first();
    EXPECT_FALSE(v->isModal());
    EXPECT_EQ(control<QLabel>(v, "BlockViewerNumber")->text(), "5077");
    EXPECT_EQ(control<QLabel>(v, "BlockViewerDescription")->text(), "Greeting shown at power-on");
    EXPECT_EQ(control<HexDumpView>(v, "BlockViewerTable")->hexModel()->bytes(), data);
    EXPECT_TRUE(v->notice().isEmpty());
    saveShot(v, "viewer.png");

    // The same block again brings that viewer forward; Enter and "View" open the others.
    doubleClick(userView(), row1.center());
    EXPECT_EQ(viewers(form.get()).size(), 1);
    userView()->selectOnlyRow(0);
    userView()->setFocus();
    QTest::keyClick(userView(), Qt::Key_Return);
    const std::unique_ptr<QMenu> menu(phoneView()->makeContextMenu(
        phoneView()->visualRect(form->phoneModel().index(0, 0)).center()));
    menu->findChild<QAction*>("ViewBlockAction")->trigger();
    QList<qint16> open;
    for (BlockViewer* viewer : viewers(form.get()))
        open << viewer->block().BlockId;
    EXPECT_EQ(open, QList<qint16>({5077, 20, 7}));
    // Below the last row there is nothing to view.
    const std::unique_ptr<QMenu> below(phoneView()->makeContextMenu(QPoint(5, 400)));
    EXPECT_FALSE(below->findChild<QAction*>("ViewBlockAction")->isEnabled());
}

TEST_F(Viewer, AViewerSaysWhenItsBlockChangedOrLeftTheListAndCanShowTheNewOne) {
    fillUser({block(1, "one", 1), block(2, "two", 1)});
    BlockViewer* first = form->viewUserBlock(0);
    BlockViewer* second = form->viewUserBlock(1);
    ASSERT_TRUE(first && second);

    // A refill with the same blocks changes nothing; block 1 replaced by a copy does.
    form->fillUserList();
    EXPECT_TRUE(first->notice().isEmpty());
    fillPhone({block(1, "ONE!", 2)});
    script.rewriteAnswers = {RewriteAnswer::Yes};
    press("CopyLeftButton");
    EXPECT_FALSE(first->notice().isEmpty());
    EXPECT_EQ(first->block(), block(1, "one", 1));
    EXPECT_TRUE(second->notice().isEmpty());
    // Opening block 1 now gives a new viewer with the list's block; the old one shows it on demand.
    BlockViewer* fresh = form->viewUserBlock(0);
    EXPECT_NE(fresh, first);
    EXPECT_EQ(fresh->block(), block(1, "ONE!", 2));
    control<QPushButton>(first, "BlockViewerShowCurrent")->click();
    EXPECT_TRUE(first->notice().isEmpty());
    EXPECT_EQ(first->block(), block(1, "ONE!", 2));

    // Block 2 deleted from the list: nothing to show instead.
    userView()->selectOnlyRow(1);
    script.messageAnswers = {Button::Yes};
    press("DeleteUsersButton");
    EXPECT_FALSE(second->notice().isEmpty());
    EXPECT_TRUE(control<QPushButton>(second, "BlockViewerShowCurrent")->isHidden());
    EXPECT_EQ(second->table()->hexModel()->bytes(), "two");
}

TEST_F(Viewer, TheCompareDialogShowsBothVersionsOfTheChosenBlockWithTheDifferencesMarked) {
    const QByteArray userData = counting(300);
    QByteArray phoneData = userData;
    phoneData.replace(5, 2, "XY").append("tail")[200] = 'Z';
    loadUser({block(5077, userData, 1), block(20, "same", 0), block(30, "v", 1), block(4, "")});
    fillPhone({block(20, "same", 0), block(5077, phoneData, 2), block(30, "v", 4), block(9, "")});

    press("CompareButton");
    auto* modal = control<QWidget>(form.get(), "CompareForm");
    ASSERT_TRUE(modal && modal->isVisible() && modal->isModal());
    QStringList seen;
    for (const char* name : {"PhoneMissingList", "UserMissingList", "DifferentList"}) {
        const auto* list = control<QListWidget>(modal, name);
        for (int i = 0; i < list->count(); ++i)
            seen << QStringLiteral("%1 %2").arg(name, list->item(i)->text());
    }
    auto* different = control<QListWidget>(modal, "DifferentList");
    auto* summary = control<QLabel>(modal, "CompareDifference");
    auto* user = control<HexDumpView>(modal, "CompareUserBytes");
    auto* phone = control<HexDumpView>(modal, "ComparePhoneBytes");
    different->setCurrentRow(0); // 30: only the version differs
    seen << summary->text();
    different->setCurrentRow(1);
    seen << summary->text();
    EXPECT_EQ(user->hexModel()->bytes(), userData);
    EXPECT_EQ(phone->hexModel()->bytes(), phoneData);
    for (const qsizetype at : {5, 6, 200, 300, 303})
        EXPECT_TRUE(phone->hexModel()->isMarked(at)) << at;
    EXPECT_FALSE(phone->hexModel()->isMarked(7));
    EXPECT_TRUE(user->hexModel()->isMarked(200));
    saveShot(modal, "compare.png");
    control<QPushButton>(modal, "OKButton")->click();
    ASSERT_EQ(seen.size(), 6);
    EXPECT_EQ(seen.mid(0, 4), QStringList({"PhoneMissingList 4", "UserMissingList 9",
                                           "DifferentList 30", "DifferentList 5077"}));
    seen = seen.mid(4);
    EXPECT_TRUE(seen[0].contains("4 (Phone's) / 1 (User's)") && seen[0].contains("are equal"))
        << seen[0].toStdString();
    for (const char* part : {"304 (Phone's) / 300 (User's)", "3 differ in 2 range(s)", "00000005",
                             "4 from 0000012C only in the Phone's"})
        EXPECT_TRUE(seen[1].contains(part)) << seen[1].toStdString();
}
