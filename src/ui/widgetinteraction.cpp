#include "widgetinteraction.h"

#include "transfer/progressrate.h"

#include "dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include <memory>

namespace x45::ui {

namespace {

QMessageBox::StandardButton standardOf(Button button) {
    switch (button) {
    case Button::Ok:
        return QMessageBox::Ok;
    case Button::Cancel:
        return QMessageBox::Cancel;
    case Button::Abort:
        return QMessageBox::Abort;
    case Button::Retry:
        return QMessageBox::Retry;
    case Button::Ignore:
        return QMessageBox::Ignore;
    case Button::Yes:
        return QMessageBox::Yes;
    case Button::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButtons standardSet(Buttons buttons) {
    switch (buttons) {
    case Buttons::Ok:
        return QMessageBox::Ok;
    case Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Buttons::AbortRetryIgnore:
        return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case Buttons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon iconOf(Icon icon) {
    switch (icon) {
    case Icon::None:
        return QMessageBox::NoIcon;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

Button buttonOf(int standard, Buttons buttons) {
    switch (standard) {
    case QMessageBox::Ok:
        return Button::Ok;
    case QMessageBox::Cancel:
        return Button::Cancel;
    case QMessageBox::Abort:
        return Button::Abort;
    case QMessageBox::Retry:
        return Button::Retry;
    case QMessageBox::Ignore:
        return Button::Ignore;
    case QMessageBox::Yes:
        return Button::Yes;
    case QMessageBox::No:
        return Button::No;
    default:
        return closingButton(buttons);
    }
}

// Texts carry CR LF (or a lone CR) as their line break. A box's text starts with a capital,
// whatever the sentence was first made for.
QString displayText(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!text.isEmpty() && text.front().isLower()) text.front() = text.front().toUpper();
    return text;
}

// Every box carries an icon: the caller's, or the one for boxes of its kind.
QMessageBox::Icon iconFor(Icon icon, Buttons buttons) {
    if (icon != Icon::None) return iconOf(icon);
    return buttons == Buttons::YesNo ? QMessageBox::Question : QMessageBox::Information;
}

// A box as wide as its title needs, so the window frame shows the title whole. (Message boxes
// size themselves by their text alone.) The frame's font and its buttons are unknown: room is
// left for both.
void fitTitle(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) * 5 / 4 + 160;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

// A message box that has no escape answer when its button set has none: Escape and the window's
// close button do nothing, so one stray key cannot answer Abort/Retry/Ignore. (QMessageBox would
// otherwise pick the Abort button, whose role is "reject", as the escape answer by itself.)
class AnswerBox : public QMessageBox {
public:
    AnswerBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons,
              QWidget* parent, bool closable)
        : QMessageBox(icon, title, text, buttons, parent), closable_(closable) {}

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (!closable_ && e->matches(QKeySequence::Cancel)) {
            e->accept();
            return;
        }
        QMessageBox::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent* e) override {
        if (!closable_ && !clickedButton()) {
            e->ignore();
            return;
        }
        QMessageBox::closeEvent(e);
    }

private:
    bool closable_;
};

// A box with the program's name as its title when it has none, its text shown as it is, and
// "Abort, Retry, Ignore" that only a button answers.
AnswerBox* makeBox(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton, QWidget* parent) {
    const bool closable = buttons != Buttons::AbortRetryIgnore;
    auto* box = new AnswerBox(iconFor(icon, buttons), title.isEmpty() ? AppTitle : title,
                              displayText(text), standardSet(buttons), parent, closable);
    box->setTextFormat(Qt::PlainText); // file names and replies are shown as they are
    box->setDefaultButton(standardOf(defaultButton));
    if (closable) box->setEscapeButton(standardOf(closingButton(buttons)));
    fitTitle(*box);
    return box;
}

} // namespace

class WidgetInteraction::NormalPointer {
public:
    explicit NormalPointer(const WidgetInteraction& owner) : active_(owner.busyDepth_ > 0) {
        if (active_) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~NormalPointer() {
        if (active_) QApplication::restoreOverrideCursor();
    }
    NormalPointer(const NormalPointer&) = delete;
    NormalPointer& operator=(const NormalPointer&) = delete;

private:
    bool active_;
};

WidgetInteraction::WidgetInteraction(QWidget* window, QLabel* statusPanel, QProgressBar* progress)
    : window_(window), statusPanel_(statusPanel), progress_(progress) {}

WidgetInteraction::~WidgetInteraction() {
    while (busyDepth_ > 0)
        setBusy(false);
}

Button WidgetInteraction::message(const QString& text, const QString& title, Buttons buttons,
                                  Icon icon, Button defaultButton) {
    if (answerer_) return answerer_->message(text, title, buttons, icon, defaultButton);
    NormalPointer pointer(*this);
    const std::unique_ptr<AnswerBox> box(
        makeBox(text, title, buttons, icon, defaultButton, window_));
    return buttonOf(box->exec(), buttons);
}

QWidget* WidgetInteraction::askLater(const Question& q,
                                     const std::function<void(const Answer&)>& answered) {
    if (answerer_) {
        const Answer answer = answerNow(*answerer_, q);
        if (answered) answered(answer);
        return nullptr;
    }
    switch (q.kind) {
    case Question::Kind::Rewrite:
        return rewritePromtForm()->askLater(q.text, [answered](RewriteAnswer given) {
            Answer a;
            a.rewrite = given;
            answered(a);
        });
    case Question::Kind::BlockList:
        return loadCustomPromt()->askLater([answered](const QString& given) {
            Answer a;
            a.blockList = given;
            answered(a);
        });
    case Question::Kind::BlockInfo:
        return loadUserCustomPromt()->askLater(q.text, [answered](const BlockInfoTexts& given) {
            Answer a;
            a.blockInfo = given;
            answered(a);
        });
    case Question::Kind::Message:
    case Question::Kind::YesNo:
        break;
    }
    const bool yesNo = q.kind == Question::Kind::YesNo;
    const Buttons buttons = yesNo ? Buttons::YesNo : q.buttons;
    AnswerBox* box = makeBox(q.text, q.title, buttons, q.icon,
                             yesNo ? Button::Yes : q.defaultButton, window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, answered] {
        if (!answered) return;
        Answer a;
        a.button = buttonOf(box->standardButton(box->clickedButton()), buttons);
        answered(a);
    });
    box->open(); // window-modal, and the caller goes on
    return box;
}

void WidgetInteraction::informLater(const QString& text, Icon icon) {
    askLater({.kind = Question::Kind::Message, .text = text, .icon = icon}, {});
}

RewriteAnswer WidgetInteraction::askRewrite(const QString& question) {
    if (answerer_) return answerer_->askRewrite(question);
    NormalPointer pointer(*this);
    return rewritePromtForm()->ask(question);
}

QString WidgetInteraction::askBlockList() {
    if (answerer_) return answerer_->askBlockList();
    NormalPointer pointer(*this);
    return loadCustomPromt()->ask();
}

BlockInfoTexts WidgetInteraction::askBlockInfo(const QString& message) {
    if (answerer_) return answerer_->askBlockInfo(message);
    NormalPointer pointer(*this);
    return loadUserCustomPromt()->ask(message);
}

void WidgetInteraction::setStatus(const QString& text) {
    if (statusPanel_) statusPanel_->setText(text);
}

QString WidgetInteraction::statusText() const {
    return statusPanel_ ? statusPanel_->text() : QString();
}

void WidgetInteraction::setProgressRange(int minimum, int maximum) {
    if (!progress_) return;
    // A bar whose maximum does not exceed its minimum would turn into a busy animation; an empty
    // bar says the same thing without moving.
    progress_->setRange(minimum, maximum > minimum ? maximum : minimum + 1);
}

void WidgetInteraction::setProgressValue(int value) {
    if (progress_) progress_->setValue(qBound(progress_->minimum(), value, progress_->maximum()));
}

QString paceText(const ProgressDetail& d) {
    return paceParts(d).join(QStringLiteral(" \u00B7 "));
}

void WidgetInteraction::setProgressDetail(const ProgressDetail& detail) {
    if (detailPanel_) detailPanel_->setText(paceText(detail));
}

void WidgetInteraction::setBusy(bool busy) {
    if (busy) {
        if (busyDepth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        if (--busyDepth_ == 0) QApplication::restoreOverrideCursor();
    }
}

RewritePromtForm* WidgetInteraction::rewritePromtForm() {
    if (!rewrite_) rewrite_ = new RewritePromtForm(window_);
    return rewrite_;
}

LoadCustomPromt* WidgetInteraction::loadCustomPromt() {
    if (!loadCustom_) loadCustom_ = new LoadCustomPromt(window_);
    return loadCustom_;
}

LoadUserCustomPromt* WidgetInteraction::loadUserCustomPromt() {
    if (!loadUserCustom_) loadUserCustom_ = new LoadUserCustomPromt(window_);
    return loadUserCustom_;
}

} // namespace x45::ui
