// The window as a desktop program: starting without a display, the keyboard shortcuts, files
// dropped on the User's list, and the adapters' names in the port list.

#include "blockids.h"
#include "fakeport.h"
#include "ui_fixture.h"

#include "files/eepfile.h"

#include <QComboBox>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace x45;
using namespace x45::test;
using x45::ui::BlockListView;
using x45::ui::MainForm;

namespace {

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        form.reset(makeForm(port, script));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        phoneView = control<BlockListView>(form.get(), "PhoneEEPList");
        userView = control<BlockListView>(form.get(), "UserEEPList");
    }
    QString writeEepFile(const char* name, const BlockList& blocks) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << name;
        file.write(serializeEep(blocks, 1105));
        return file.fileName();
    }
    // Sends a drag of these URLs onto the User's list; returns whether the drop was taken.
    bool drop(const QList<QUrl>& urls) {
        QWidget* target = userView->viewport();
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

    QTemporaryDir dir;
    FakePort port;
    ScriptedInteraction script;
    std::unique_ptr<MainForm> form;
    BlockListView* phoneView = nullptr;
    BlockListView* userView = nullptr;
};

} // namespace

// Help and version need no display; without one and without them, one line and status 1.
TEST(DesktopProgram, HelpAndVersionWithoutADisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    const auto run = [&env](const QStringList& args, QString* out, QString* err) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(X45EEP_PATH), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QString out, err;
    EXPECT_EQ(run({"--help"}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("--port"))) << out.toStdString();
    EXPECT_EQ(run({"--version"}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(out.trimmed(), QStringLiteral("x45eep " X45_VERSION));
    EXPECT_EQ(run({}, &out, &err), 1);
    EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("no display"))) << err.toStdString();
}

TEST_F(Desktop, ShortcutsActAsTheirButtons) {
    const QString a = writeEepFile("a.eep", {block(1, "a"), block(2, "b")});
    form->setOpenChooser([&] { return QStringList{a}; });
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(ids(form->workspace().UserBlocks), QVector<qint16>({1, 2}));

    int asked = 0;
    form->setSaveChooser([&] {
        ++asked;
        return dir.filePath("out.eep");
    });
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);

    // Ctrl+A and Delete act on the list that has the focus, with the delete button's question.
    userView->setFocus();
    QTest::keyClick(userView, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(userView->selectedRowPositions(), QList<int>({0, 1}));
    script.messageAnswers = {Button::No, Button::Yes};
    QTest::keyClick(userView, Qt::Key_Delete);
    EXPECT_EQ(form->workspace().UserBlocks.size(), 2);
    QTest::keyClick(userView, Qt::Key_Delete);
    EXPECT_TRUE(form->workspace().UserBlocks.isEmpty());
    ASSERT_EQ(script.messages.size(), 2u);
    EXPECT_EQ(script.messages[1].title, QStringLiteral("Confirm delete"));

    // On the Phone's list they act on that list only.
    fillUser(*form, {block(3, "u")});
    fillPhone(*form, {block(7, "x"), block(8, "y")});
    phoneView->setFocus();
    QTest::keyClick(phoneView, Qt::Key_A, Qt::ControlModifier);
    script.messageAnswers = {Button::Yes};
    QTest::keyClick(phoneView, Qt::Key_Delete);
    EXPECT_TRUE(form->workspace().PhoneBlocks.isEmpty());
    EXPECT_EQ(form->workspace().UserBlocks.size(), 1);
    ASSERT_EQ(script.messages.size(), 3u);
    EXPECT_EQ(script.messages[2].text, QStringLiteral("Are you sure you want to delete 2 blocks?"));
}

TEST_F(Desktop, DroppedFilesLoadInTheGivenOrderAndOtherDropsAreRefused) {
    const QString first = writeEepFile("first.eep", {block(5, "old"), block(6, "six")});
    const QString second = writeEepFile("second.eep", {block(5, "new")});
    ASSERT_TRUE(drop({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)}));
    // The later file's block 5 replaces the earlier one's, as "Load" merges.
    EXPECT_EQ(form->workspace().UserBlocks, BlockList({block(5, "new"), block(6, "six")}));

    const BlockList before = form->workspace().UserBlocks;
    EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.invalid/x.eep"))}));
    EXPECT_EQ(form->workspace().UserBlocks, before);
}

TEST_F(Desktop, PortListShowsTheAdaptersNameAndOpensItsDevice) {
    auto* combo = control<QComboBox>(form.get(), "Combo3");
    form->addPortChoice(QStringLiteral("/dev/ttyX45test"), true,
                        QStringLiteral("ttyX45test \u2013 Test UART"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("ttyX45test \u2013 Test UART"));
    EXPECT_EQ(form->portDevice(), QStringLiteral("/dev/ttyX45test"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(combo->itemText(i), QStringLiteral("COM%1").arg(i + 1));
}
