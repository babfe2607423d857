#pragma once
// Interaction with widgets: message boxes, the window's dialogs, the status bar's text panel, the
// progress bar and the busy pointer. The Interaction calls answer at once (modal boxes), for the
// core's work on the window's own thread; askLater() shows a question without holding the
// caller, for the phone engine's questions.

#include "question.h"

#include "person/interaction.h"

#include <QPointer>

#include <functional>

class QLabel;
class QProgressBar;
class QWidget;

namespace x45::ui {

class RewritePromtForm;
class LoadCustomPromt;
class LoadUserCustomPromt;

class WidgetInteraction final : public Interaction {
public:
    WidgetInteraction(QWidget* window, QLabel* statusPanel, QProgressBar* progress);
    ~WidgetInteraction() override;
    WidgetInteraction(const WidgetInteraction&) = delete;
    WidgetInteraction& operator=(const WidgetInteraction&) = delete;

    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override;
    // Shows the question window-modal and returns at once; `answered` runs once the person has
    // answered. Returns the box or dialog shown (nullptr when an answerer answered at once).
    QWidget* askLater(const Question& question, const std::function<void(const Answer&)>& answered);
    // An OK box that does not hold the caller.
    void informLater(const QString& text, Icon icon = Icon::Exclamation);
    RewriteAnswer askRewrite(const QString& question) override;
    QString askBlockList() override;
    BlockInfoTexts askBlockInfo(const QString& message) override;

    void setStatus(const QString& text) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    void setBusy(bool busy) override;
    // Shown in the status bar's second panel; an empty detail empties it.
    void setProgressDetail(const ProgressDetail& detail) override;
    void setDetailPanel(QLabel* panel) { detailPanel_ = panel; }

    [[nodiscard]] QString statusText() const;
    [[nodiscard]] bool busy() const { return busyDepth_ > 0; }

    // The dialogs, created at first use and reused afterwards.
    RewritePromtForm* rewritePromtForm();
    LoadCustomPromt* loadCustomPromt();
    LoadUserCustomPromt* loadUserCustomPromt();

    // Automated runs: questions go to this object instead of widgets (status, progress and
    // pointer still go to the widgets). nullptr shows the widgets again.
    void setAnswerer(Interaction* answerer) { answerer_ = answerer; }

private:
    // A modal question shows the normal pointer even in the middle of file work.
    class NormalPointer;

    QWidget* window_;
    QLabel* statusPanel_;
    QProgressBar* progress_;
    QLabel* detailPanel_ = nullptr;
    QPointer<RewritePromtForm> rewrite_;
    QPointer<LoadCustomPromt> loadCustom_;
    QPointer<LoadUserCustomPromt> loadUserCustom_;
    Interaction* answerer_ = nullptr;
    int busyDepth_ = 0;
};

// "Block 120 of 6402 · 1.4 kB/s · 3 min 20 s left"; the figures not known yet are left out.
[[nodiscard]] QString paceText(const ProgressDetail& detail);

} // namespace x45::ui
