// The dialogs and the widget side of Interaction: answers, keys, closing through the window frame,
// and questions shown without holding the caller.

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
    void SetUp() override { window.show(); }
    QWidget window;
    QLabel* status = new QLabel(&window);
    QProgressBar* progress = new QProgressBar(&window);
    WidgetInteraction ui{&window, status, progress};
};

// True when the widget took the key.
bool pressKey(QWidget* target, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    return press.isAccepted();
}
bool pressEnter(QWidget* target) {
    return pressKey(target, Qt::Key_Return, QStringLiteral("\r"));
}

} // namespace

TEST_F(Dialogs, TheRewriteQuestionAnswersWithTheCodeOfItsButtonAndCancelWhenClosed) {
    // The buttons in tab order, each answering with its own code.
    QWidget* w = ui.rewritePromtForm()->findChild<QPushButton*>("Command1");
    for (int code = 1; code <= 5; ++code) {
        const QString name = QStringLiteral("Command%1").arg(code);
        EXPECT_EQ(w->objectName(), name);
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        QString shown;
        onNextModal([&shown, name](QWidget* modal) {
            shown = control<QLabel>(modal, "Label1")->text();
            control<QPushButton>(modal, qPrintable(name))->click();
        });
        EXPECT_EQ(ui.askRewrite(name), static_cast<RewriteAnswer>(code));
        EXPECT_EQ(shown, name);
    }
    // A frame close or Escape must not repeat a standing "Yes for all"; Enter answers the default
    // "Yes", or the button that has the focus.
    const std::pair<std::function<void(QWidget*)>, RewriteAnswer> closings[] = {
        {[](QWidget* modal) { modal->close(); }, RewriteAnswer::Cancel},
        {[](QWidget* modal) { pressKey(modal, Qt::Key_Escape); }, RewriteAnswer::Cancel},
        {[](QWidget* modal) { pressEnter(modal); }, RewriteAnswer::Yes},
        {[](QWidget* modal) { pressEnter(modal->findChild<QPushButton*>("Command2")); },
         RewriteAnswer::No}};
    for (const auto& [close, answer] : closings) {
        onNextModal(close);
        EXPECT_EQ(ui.askRewrite("again"), answer);
    }
}

TEST_F(Dialogs, TheTypedListOpensEmptyTakesEnterAsOkAndGivesNothingOnCancel) {
    struct Case {
        const char* typed;
        int how; // 0 Enter, 1 Cancel, 2 the frame
        QString answer;
    };
    for (const Case& c : {Case{"  1, 5;7-9  ", 0, "1, 5;7-9"}, Case{"12", 1, ""}, Case{"12", 2, ""}}) {
        QString openedWith = "not shown";
        onNextModal([&](QWidget* modal) {
            auto* text = control<QLineEdit>(modal, "BlockNumsText");
            openedWith = text->text();
            text->setText(c.typed);
            if (c.how == 0) {
                EXPECT_TRUE(pressEnter(text));
            }
            if (c.how == 1) control<QPushButton>(modal, "Cancel_Button")->click();
            if (c.how == 2) modal->close();
        });
        EXPECT_EQ(ui.askBlockList(), c.answer) << c.how;
        EXPECT_EQ(openedWith, "");
    }
}

TEST_F(Dialogs, TheBlockInfoQuestionAsksNumberAndVersion) {
    QString shown;
    onNextModal([&](QWidget* modal) {
        shown = control<QLabel>(modal, "MainLabel")->text();
        control<QLineEdit>(modal, "BlockNumberText")->setText(" 5077 ");
        auto* version = control<QLineEdit>(modal, "BlockVersionText");
        version->setText(" 3");
        pressEnter(version);
    });
    const BlockInfoTexts texts = ui.askBlockInfo("a.bin");
    EXPECT_EQ(shown, "a.bin");
    EXPECT_EQ(texts.number, "5077");
    EXPECT_EQ(texts.version, "3");
    QString numberAtOpen = "x";
    onNextModal([&](QWidget* modal) {
        numberAtOpen = control<QLineEdit>(modal, "BlockNumberText")->text();
        modal->close();
    });
    EXPECT_TRUE(ui.askBlockInfo("b.bin").number.isEmpty());
    EXPECT_EQ(numberAtOpen, "");
}

TEST_F(Dialogs, MessageBoxesCarryTitleIconAndDefaultAndTheFailureBoxOnlyAButtonCloses) {
    QMessageBox* seen = nullptr;
    onNextModal([&](QWidget* modal) {
        seen = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(seen, nullptr);
        EXPECT_EQ(seen->windowTitle(), AppTitle); // none given
        EXPECT_EQ(seen->text(), "Error\nRetry?");
        EXPECT_EQ(seen->icon(), QMessageBox::Warning);
        EXPECT_EQ(seen->defaultButton(), seen->button(QMessageBox::Ignore));
        pressKey(modal, Qt::Key_Escape);
        modal->close();
        EXPECT_TRUE(modal->isVisible());
        seen->button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(ui.message("error\r\nRetry?", QString(), Buttons::AbortRetryIgnore,
                         Icon::Exclamation, Button::Ignore),
              Button::Retry);
    ASSERT_NE(seen, nullptr);

    // A question given no icon gets the question icon; Escape is the harmless "No".
    onNextModal([](QWidget* modal) {
        EXPECT_EQ(qobject_cast<QMessageBox*>(modal)->icon(), QMessageBox::Question);
        pressKey(modal, Qt::Key_Escape);
    });
    EXPECT_EQ(ui.message("Delete?", "Confirm", Buttons::YesNo, Icon::None, Button::Yes), Button::No);
}

TEST_F(Dialogs, AQuestionAskedLaterReturnsAtOnceAndItsAnswerArrivesWhenGiven) {
    using Choose = std::function<QAbstractButton*(QWidget*)>;
    const auto standard = [](QMessageBox::StandardButton which) -> Choose {
        return [which](QWidget* shown) { return qobject_cast<QMessageBox*>(shown)->button(which); };
    };
    const auto named = [](const char* name) -> Choose {
        return [name](QWidget* shown) { return shown->findChild<QAbstractButton*>(name); };
    };
    struct Case {
        Question question;
        Choose choose;
        std::function<bool(const Answer&)> expected;
    };
    const Case cases[] = {
        {{.kind = Question::Kind::Message, .text = "failed", .buttons = Buttons::AbortRetryIgnore},
         standard(QMessageBox::Ignore), [](const Answer& a) { return a.button == Button::Ignore; }},
        {{.kind = Question::Kind::YesNo, .text = "sure?"}, standard(QMessageBox::Yes),
         [](const Answer& a) { return a.button == Button::Yes; }},
        {{.kind = Question::Kind::Rewrite, .text = "overwrite?"}, named("Command3"),
         [](const Answer& a) { return a.rewrite == RewriteAnswer::YesAll; }},
        {{.kind = Question::Kind::BlockList}, named("Cancel_Button"),
         [](const Answer& a) { return a.blockList.isEmpty(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::optional<Answer> answer;
        QWidget* shown = ui.askLater(c.question, [&answer](const Answer& a) { answer = a; });
        ASSERT_NE(shown, nullptr);
        EXPECT_TRUE(shown->isVisible() && shown->isModal());
        EXPECT_FALSE(answer.has_value());
        QAbstractButton* choice = c.choose(shown);
        ASSERT_NE(choice, nullptr);
        choice->click();
        ASSERT_TRUE(answer.has_value());
        EXPECT_TRUE(c.expected(*answer));
    }
}

TEST_F(Dialogs, AProgressRangeWithoutStepsStaysStillAndTheBusyPointerNests) {
    ui.setProgressRange(0, 0);
    ui.setProgressValue(0);
    EXPECT_GT(progress->maximum(), progress->minimum());
    EXPECT_EQ(progress->value(), 0);
    ui.setBusy(true);
    ui.setBusy(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ui.setBusy(false);
    EXPECT_TRUE(ui.busy());
    ui.setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(CloseAnswers, AClosingWindowGivesTheAnswerOfABoxClosedWithoutChoosing) {
    struct Case {
        Question question;
        Button button;
    } const cases[] = {
        {{.kind = Question::Kind::Message, .buttons = Buttons::AbortRetryIgnore}, Button::Abort},
        {{.kind = Question::Kind::Message, .buttons = Buttons::RetryCancel}, Button::Cancel},
        {{.kind = Question::Kind::Message, .buttons = Buttons::YesNo}, Button::No},
        {{.kind = Question::Kind::YesNo}, Button::No},
    };
    for (const Case& c : cases)
        EXPECT_EQ(closingAnswer(c.question).button, c.button);
    EXPECT_EQ(closingAnswer({.kind = Question::Kind::Rewrite}).rewrite, RewriteAnswer::Cancel);
}
