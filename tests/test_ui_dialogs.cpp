// The dialogs and the widget side of Interaction: answers, keys, closing through the window frame,
// and questions shown without holding the caller.

#include "ui_fixture.h"

#include "ui/dialogs.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

using namespace x45;
using namespace x45::test;
using namespace x45::ui;

namespace {

// Runs `check` on the modal widget the next action opens, once it is shown; `check` closes it.
void onNextModal(std::function<void(QWidget*)> check) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, check] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            check(modal);
        }
    });
    timer->start();
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { window.show(); }
    // Shows the question; `act` answers it on the shown box or dialog. The answer it gave.
    std::optional<Answer> ask(const Question& question, const std::function<void(QWidget*)>& act) {
        std::optional<Answer> answer;
        QWidget* shown = ui.askLater(question, [&answer](const Answer& a) { answer = a; });
        EXPECT_TRUE(shown && shown->isVisible() && shown->isModal());
        EXPECT_FALSE(answer.has_value()) << "the caller goes on before the answer";
        if (shown) act(shown);
        return answer;
    }
    QWidget window;
    QLabel* status = new QLabel(&window);
    QProgressBar* progress = new QProgressBar(&window);
    WidgetInteraction ui{&window, status, progress};
};

void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier,
                    key == Qt::Key_Return ? QStringLiteral("\r") : QString());
    QApplication::sendEvent(target, &press);
}

} // namespace

TEST_F(Dialogs, TheRewriteQuestionAnswersWithItsButtonsCodeAndCancelWhenClosed) {
    const Question question{.kind = Question::Kind::Rewrite, .text = "overwrite?"};
    for (int code = 1; code <= 5; ++code) {
        const auto answer = ask(question, [code](QWidget* d) {
            EXPECT_EQ(control<QLabel>(d, "Label1")->text(), "overwrite?");
            control<QPushButton>(d, qPrintable(QStringLiteral("Command%1").arg(code)))->click();
        });
        EXPECT_EQ(answer->rewrite, static_cast<RewriteAnswer>(code));
    }
    // A frame close or Escape must not repeat a standing "Yes for all"; Enter answers "Yes", or
    // the button that has the focus.
    const std::pair<std::function<void(QWidget*)>, RewriteAnswer> closings[] = {
        {[](QWidget* d) { d->close(); }, RewriteAnswer::Cancel},
        {[](QWidget* d) { pressKey(d, Qt::Key_Escape); }, RewriteAnswer::Cancel},
        {[](QWidget* d) { pressKey(d, Qt::Key_Return); }, RewriteAnswer::Yes},
        {[](QWidget* d) { pressKey(d->findChild<QPushButton*>("Command2"), Qt::Key_Return); },
         RewriteAnswer::No}};
    for (const auto& [close, expected] : closings)
        EXPECT_EQ(ask(question, close)->rewrite, expected);
    // The same dialog when asked in place, for the copy arrows.
    onNextModal([](QWidget* d) { control<QPushButton>(d, "Command4")->click(); });
    EXPECT_EQ(ui.askRewrite("again?"), RewriteAnswer::NoAll);
}

TEST_F(Dialogs, TheTypedTextDialogsOpenEmptyTakeEnterAsOkAndGiveNothingOnCancel) {
    const Question list{.kind = Question::Kind::BlockList};
    const auto type = [](const char* name, const char* text, int key) {
        return [=](QWidget* d) {
            auto* edit = control<QLineEdit>(d, name);
            EXPECT_TRUE(edit->text().isEmpty());
            edit->setText(text);
            if (key) pressKey(edit, key);
            else control<QPushButton>(d, "Cancel_Button")->click();
        };
    };
    EXPECT_EQ(ask(list, type("BlockNumsText", " 1, 5;7-9 ", Qt::Key_Return))->blockList, "1, 5;7-9");
    EXPECT_EQ(ask(list, type("BlockNumsText", "12", 0))->blockList, "");
    EXPECT_EQ(ask(list, [](QWidget* d) { d->close(); })->blockList, "");

    const Question info{.kind = Question::Kind::BlockInfo, .text = "a.bin"};
    const auto answer = ask(info, [&](QWidget* d) {
        EXPECT_EQ(control<QLabel>(d, "MainLabel")->text(), "a.bin");
        control<QLineEdit>(d, "BlockNumberText")->setText(" 5077 ");
        type("BlockVersionText", " 3", Qt::Key_Return)(d);
    });
    EXPECT_EQ(answer->blockInfo.number, "5077");
    EXPECT_EQ(answer->blockInfo.version, "3");
    EXPECT_TRUE(ask(info, type("BlockNumberText", "9", 0))->blockInfo.number.isEmpty());
}

TEST_F(Dialogs, MessageBoxesCarryTitleIconAndDefaultAndTheFailureBoxOnlyAButtonCloses) {
    const Question failure{.kind = Question::Kind::Message,
                           .text = "error\r\nretry?",
                           .buttons = Buttons::AbortRetryIgnore,
                           .icon = Icon::Exclamation,
                           .defaultButton = Button::Ignore};
    const auto answer = ask(failure, [](QWidget* box) {
        auto* shown = qobject_cast<QMessageBox*>(box);
        EXPECT_EQ(shown->windowTitle(), AppTitle); // none given
        EXPECT_EQ(shown->text(), "Error\nretry?");
        EXPECT_EQ(shown->icon(), QMessageBox::Warning);
        EXPECT_EQ(shown->defaultButton(), shown->button(QMessageBox::Ignore));
        pressKey(box, Qt::Key_Escape);
        box->close();
        EXPECT_TRUE(box->isVisible());
        shown->button(QMessageBox::Retry)->click();
    });
    EXPECT_EQ(answer->button, Button::Retry);

    // A question given no icon gets the question icon; Escape is the harmless "No".
    onNextModal([](QWidget* box) {
        EXPECT_EQ(qobject_cast<QMessageBox*>(box)->icon(), QMessageBox::Question);
        pressKey(box, Qt::Key_Escape);
    });
    EXPECT_EQ(ui.message("Delete?", "Confirm", Buttons::YesNo, Icon::None, Button::Yes), Button::No);
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
