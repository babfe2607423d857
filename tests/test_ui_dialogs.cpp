// The dialogs and the widget side of Interaction: texts, objectNames, answers, keys, and closing
// through the window frame.

#include "ui_fixture.h"

#include "ui/dialogs.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

using namespace x45;
using namespace x45::test;
using namespace x45::ui;

namespace {

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        status = new QLabel(window.get());
        progress = new QProgressBar(window.get());
        ui = std::make_unique<WidgetInteraction>(window.get(), status, progress);
        window->show();
    }
    std::unique_ptr<QWidget> window;
    QLabel* status = nullptr;
    QProgressBar* progress = nullptr;
    std::unique_ptr<WidgetInteraction> ui;
};

// True when the dialog took the key.
bool pressKey(QWidget* target, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    return press.isAccepted();
}
bool pressEnter(QWidget* target) {
    return pressKey(target, Qt::Key_Return, QStringLiteral("\r"));
}

} // namespace

TEST_F(Dialogs, RewriteQuestionShowsTheTextAndReturnsTheButtonsCode) {
    RewritePromtForm* form = ui->rewritePromtForm();
    EXPECT_EQ(form->objectName(), "RewritePromtForm");
    EXPECT_EQ(form->windowTitle(), "Rewrite promt");
    EXPECT_NE(form->findChild<QLabel*>("Image1"), nullptr);
    // The buttons in tab order, each answering with its own code.
    const QStringList captions = {"Yes", "No", "Yes for all", "No for all", "Cancel"};
    QWidget* w = form->findChild<QPushButton*>("Command1");
    for (int code = 1; code <= 5; ++code) {
        const QString name = QStringLiteral("Command%1").arg(code);
        auto* button = qobject_cast<QPushButton*>(w);
        ASSERT_NE(button, nullptr) << code;
        EXPECT_EQ(button->objectName(), name);
        EXPECT_EQ(button->text(), captions[code - 1]);
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));

        QString shown;
        onNextModal([&shown, name](QWidget* modal) {
            shown = modal->findChild<QLabel*>("Label1")->text();
            modal->findChild<QPushButton*>(name)->click();
        });
        const QString question =
            QStringLiteral("Do you want to overwrite block %1 in User's EEPROM?").arg(code);
        EXPECT_EQ(ui->askRewrite(question), static_cast<RewriteAnswer>(code));
        EXPECT_EQ(shown, question);
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_EQ(ui->rewritePromtForm(), form); // created once, reused
}

TEST_F(Dialogs, ClosingTheRewriteQuestionThroughTheFrameAnswersCancel) {
    onNextModal([](QWidget* modal) { modal->findChild<QPushButton*>("Command3")->click(); });
    ASSERT_EQ(ui->askRewrite("first"), RewriteAnswer::YesAll);
    // A frame close must not repeat the standing "Yes for all".
    onNextModal([](QWidget* modal) { modal->close(); });
    EXPECT_EQ(ui->askRewrite("second"), RewriteAnswer::Cancel);
    onNextModal([](QWidget* modal) { pressKey(modal, Qt::Key_Escape); });
    EXPECT_EQ(ui->askRewrite("third"), RewriteAnswer::Cancel);
    // Enter answers "Yes", the default; on another button that has the focus, that button.
    onNextModal([](QWidget* modal) { pressEnter(modal); });
    EXPECT_EQ(ui->askRewrite("fourth"), RewriteAnswer::Yes);
    onNextModal([](QWidget* modal) { pressEnter(modal->findChild<QPushButton*>("Command2")); });
    EXPECT_EQ(ui->askRewrite("fifth"), RewriteAnswer::No);
}

TEST_F(Dialogs, LoadCustomBlocksOpensEmptyAndTakesEnterAsOk) {
    LoadCustomPromt* dialog = ui->loadCustomPromt();
    EXPECT_EQ(dialog->windowTitle(), "Load custom blocks");
    EXPECT_EQ(control<QLabel>(dialog, "Label1")->text(), "Enter numbers for blocks to load:");
    EXPECT_EQ(dialog->findChild<QPushButton*>("OK_Button")->text(), "OK");
    EXPECT_EQ(dialog->findChild<QPushButton*>("Cancel_Button")->text(), "Cancel");

    QString openedWith = "not shown";
    bool enterHandled = false;
    onNextModal([&](QWidget* modal) {
        auto* text = modal->findChild<QLineEdit*>("BlockNumsText");
        openedWith = text->text();
        text->setText("  1, 5;7-9  ");
        enterHandled = pressEnter(text);
    });
    EXPECT_EQ(ui->askBlockList(), "1, 5;7-9");
    EXPECT_EQ(openedWith, "");
    EXPECT_TRUE(enterHandled);

    // The next time it opens empty again; Cancel and the frame give nothing.
    for (const bool byFrame : {false, true}) {
        openedWith = "not shown";
        onNextModal([&openedWith, byFrame](QWidget* modal) {
            auto* text = modal->findChild<QLineEdit*>("BlockNumsText");
            openedWith = text->text();
            text->setText("12");
            if (byFrame)
                modal->close();
            else
                modal->findChild<QPushButton*>("Cancel_Button")->click();
        });
        EXPECT_EQ(ui->askBlockList(), "") << byFrame;
        EXPECT_EQ(openedWith, "") << byFrame;
    }
}

TEST_F(Dialogs, LoadCustomBlockFileAsksNumberAndVersion) {
    LoadUserCustomPromt* dialog = ui->loadUserCustomPromt();
    EXPECT_EQ(dialog->windowTitle(), "Load custom block file");
    const QString message = "Info for file \"a.bin\" not found, enter it manually, please.";
    QString shown;
    onNextModal([&](QWidget* modal) {
        shown = modal->findChild<QLabel*>("MainLabel")->text();
        modal->findChild<QLineEdit*>("BlockNumberText")->setText(" 5077 ");
        auto* version = modal->findChild<QLineEdit*>("BlockVersionText");
        version->setText(" 3");
        pressEnter(version);
    });
    const BlockInfoTexts texts = ui->askBlockInfo(message);
    EXPECT_EQ(shown, message);
    EXPECT_EQ(texts.number, "5077");
    EXPECT_EQ(texts.version, "3");

    QString numberAtOpen = "x";
    onNextModal([&](QWidget* modal) {
        numberAtOpen = modal->findChild<QLineEdit*>("BlockNumberText")->text();
        modal->findChild<QLineEdit*>("BlockNumberText")->setText("9");
        modal->close();
    });
    const BlockInfoTexts closed = ui->askBlockInfo(message);
    EXPECT_EQ(numberAtOpen, "");
    EXPECT_TRUE(closed.number.isEmpty());
    EXPECT_TRUE(closed.version.isEmpty());
}

TEST_F(Dialogs, MessageBoxesCarryTitleButtonsIconAndDefault) {
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    } seen;
    auto capture = [&seen](QMessageBox::StandardButton press) {
        onNextModal([&seen, press](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                    box->defaultButton() ? box->standardButton(box->defaultButton())
                                         : QMessageBox::NoButton};
            box->button(press)->click();
        });
    };

    capture(QMessageBox::Ignore);
    EXPECT_EQ(ui->message("Error №5 (BlockInfoQuery) while reading block № 12...\r\nRetry?",
                          QString(), Buttons::AbortRetryIgnore, Icon::Exclamation, Button::Ignore),
              Button::Ignore);
    EXPECT_EQ(seen.title, "x45eep");
    EXPECT_EQ(seen.text, "Error №5 (BlockInfoQuery) while reading block № 12...\nRetry?");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Ignore);

    // A box given no icon gets the one of its kind; its text starts with a capital.
    capture(QMessageBox::No);
    EXPECT_EQ(ui->message("are you sure?", "Confirm delete from phone", Buttons::YesNo, Icon::None,
                          Button::Yes),
              Button::No);
    EXPECT_EQ(seen.title, "Confirm delete from phone");
    EXPECT_EQ(seen.text, "Are you sure?");
    EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
    EXPECT_EQ(seen.icon, QMessageBox::Question);

    // The failure box has no escape answer: Escape and the frame's close leave it open.
    bool stayed = false;
    onNextModal([&stayed](QWidget* modal) {
        pressKey(modal, Qt::Key_Escape);
        modal->close();
        stayed = modal->isVisible();
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(ui->message("Error", QString(), Buttons::AbortRetryIgnore, Icon::Exclamation,
                          Button::Ignore),
              Button::Retry);
    EXPECT_TRUE(stayed);

    // Escape on a Yes/No question is the harmless "No".
    onNextModal([](QWidget* modal) { pressKey(modal, Qt::Key_Escape); });
    EXPECT_EQ(ui->message("Delete?", QString(), Buttons::YesNo, Icon::Question, Button::Yes),
              Button::No);
}

TEST_F(Dialogs, StatusProgressAndPointer) {
    ui->setStatus("Reading...");
    EXPECT_EQ(status->text(), "Reading...");

    ui->setProgressRange(0, 200);
    ui->setProgressValue(150);
    EXPECT_EQ(progress->maximum(), 200);
    EXPECT_EQ(progress->value(), 150);
    // A range without steps stays a still, empty bar rather than a busy animation.
    ui->setProgressRange(0, 0);
    ui->setProgressValue(0);
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_GT(progress->maximum(), progress->minimum());
    EXPECT_EQ(progress->value(), 0);

    ui->setBusy(true);
    ui->setBusy(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui->setBusy(false);
    EXPECT_TRUE(ui->busy());
    ui->setBusy(false);
    EXPECT_FALSE(ui->busy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
