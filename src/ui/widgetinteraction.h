#pragma once
// Interaction with widgets: message boxes, the window's dialogs, the status bar's text panel, the
// progress bar and the busy pointer.

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
    // A Yes/No question that does not hold the caller: `answered` runs with true for "Yes" once
    // the person has answered ("Yes" is the default; Escape and the frame's close answer "No").
    // While it is open, asking again only brings it to the front.
    void askYesNoLater(const QString& text, const std::function<void(bool yes)>& answered);
    RewriteAnswer askRewrite(const QString& question) override;
    QString askBlockList() override;
    BlockInfoTexts askBlockInfo(const QString& message) override;

    void setStatus(const QString& text) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    void setBusy(bool busy) override;
    void readProgress(qsizetype done, qsizetype total) override;
    // Shown in the status bar's second panel; an empty detail empties it.
    void setProgressDetail(const ProgressDetail& detail) override;
    void setDetailPanel(QLabel* panel) { detailPanel_ = panel; }

    // The icon of boxes whose caller gave none: by default the information icon for a plain
    // message and the question icon for a question.
    void setIconForPlainMessages(Icon icon) { plainIcon_ = icon; }

    [[nodiscard]] QString statusText() const;
    [[nodiscard]] bool busy() const { return busyDepth_ > 0; }

    // The dialogs, created at first use and reused afterwards.
    RewritePromtForm* rewritePromtForm();
    LoadCustomPromt* loadCustomPromt();
    LoadUserCustomPromt* loadUserCustomPromt();

    // Automated runs: questions go to this object instead of modal widgets (status, progress and
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
    QPointer<QWidget> laterQuestion_;
    Interaction* answerer_ = nullptr;
    Icon plainIcon_ = Icon::None;
    int busyDepth_ = 0;
};

// "Block 120 of 6402 · 1.4 kB/s · 3 min 20 s left"; the figures not known yet are left out.
[[nodiscard]] QString paceText(const ProgressDetail& detail);

} // namespace x45::ui
