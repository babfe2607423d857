#include "widgetinteraction.h"

#include "transfer/progressrate.h"

#include "dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QEventLoop>
#include <QMessageBox>
#include <QProgressBar>

#include <optional>

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

// The answer a box gives when it is closed without a button (Escape, window frame): the harmless
// choice of each set. Abort/Retry/Ignore has none, so that box cannot be closed that way.
std::optional<Button> escapeAnswer(Buttons buttons) {
    switch (buttons) {
    case Buttons::Ok:
        return Button::Ok;
    case Buttons::YesNo:
        return Button::No;
    case Buttons::RetryCancel:
        return Button::Cancel;
    case Buttons::AbortRetryIgnore:
        return std::nullopt;
    }
    return std::nullopt;
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
        return escapeAnswer(buttons).value_or(Button::Retry);
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
QMessageBox::Icon iconFor(Icon icon, Buttons buttons, Icon plain) {
    if (icon == Icon::None) icon = plain;
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
    const auto escape = escapeAnswer(buttons);
    AnswerBox box(iconFor(icon, buttons, plainIcon_), title.isEmpty() ? AppTitle : title,
                  displayText(text), standardSet(buttons), window_, escape.has_value());
    box.setTextFormat(Qt::PlainText); // file names and replies are shown as they are
    box.setDefaultButton(standardOf(defaultButton));
    if (escape) box.setEscapeButton(standardOf(*escape));
    fitTitle(box);
    return buttonOf(box.exec(), buttons);
}

void WidgetInteraction::askYesNoLater(const QString& text,
                                      const std::function<void(bool yes)>& answered) {
    if (answerer_) {
        answered(answerer_->message(text, QString(), Buttons::YesNo, Icon::Question,
                                    Button::Yes) == Button::Yes);
        return;
    }
    if (laterQuestion_) {
        laterQuestion_->raise();
        laterQuestion_->activateWindow();
        return;
    }
    auto* box = new AnswerBox(QMessageBox::Question, AppTitle, displayText(text),
                              QMessageBox::Yes | QMessageBox::No, window_, true);
    box->setObjectName(QStringLiteral("LaterQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    fitTitle(*box);
    QObject::connect(box, &QMessageBox::finished, box, [box, answered] {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    laterQuestion_ = box;
    box->open(); // window-modal, and the caller goes on
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

void WidgetInteraction::readProgress(qsizetype done, qsizetype total) {
    // The window repaints while long files are read; clicks wait until the load is over, so no
    // other operation can start on the list being built.
    constexpr qsizetype Every = 64; // lines between two repaints
    if (done % Every == 0 || done == total)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
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
