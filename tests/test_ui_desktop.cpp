// The window as a desktop program: starting without a display, the keyboard shortcuts and files
// dropped on the User's list.

#include "ui_fixture.h"

#include <QMimeData>
#include <QProcess>
#include <QUrl>

using namespace x45;
using namespace x45::test;

namespace {

class Desktop : public WindowTest {
protected:
    void SetUp() override {
        open();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    // Sends a drag of these URLs onto the User's list; returns whether the drop was taken.
    bool drop(const QList<QUrl>& urls) {
        QWidget* target = userView()->viewport();
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    }
};

} // namespace

TEST_F(Desktop, ShortcutsActAsTheirButtonsOnTheListThatHasTheFocus) {
    const QString a = writeFile("a.eep", serializeEep({block(1, "a"), block(2, "b")}, 1105));
    form->setOpenChooser([&] { return QStringList{a}; });
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(ids(ws().UserBlocks), QVector<qint16>({1, 2}));

    // Ctrl+A and Delete on the Phone's list, with the delete button's question, leave the
    // User's list alone.
    fillPhone({block(7, "x"), block(8, "y")});
    phoneView()->setFocus();
    QTest::keyClick(phoneView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(phoneView()->selectedRowPositions(), QList<int>({0, 1}));
    script.messageAnswers = {Button::No, Button::Yes};
    QTest::keyClick(phoneView(), Qt::Key_Delete);
    EXPECT_EQ(ws().PhoneBlocks.size(), 2);
    QTest::keyClick(phoneView(), Qt::Key_Delete);
    EXPECT_TRUE(ws().PhoneBlocks.isEmpty());
    EXPECT_EQ(ws().UserBlocks.size(), 2);
    EXPECT_EQ(script.messages.size(), 2u);
}

TEST_F(Desktop, DroppedFilesLoadInTheGivenOrderAndOtherDropsAreRefused) {
    const QString first = writeFile("first.eep", serializeEep({block(5, "old"), block(6, "six")}, 1));
    const QString second = writeFile("second.eep", serializeEep({block(5, "new")}, 1));
    ASSERT_TRUE(drop({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
    // The later file's block 5 replaces the earlier one's, as "Load" merges.
    EXPECT_EQ(ws().UserBlocks, BlockList({block(5, "new"), block(6, "six")}));
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.invalid/x.eep"))}));
    EXPECT_EQ(ws().UserBlocks, BlockList({block(5, "new"), block(6, "six")}));
}
