#pragma once
// Interaction with widgets: message boxes, the window's dialogs, the status bar's text panel, the
// progress bar and the busy pointer.

#include "person/interaction.h"

#include <QPointer>

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
    RewriteAnswer askRewrite(const QString& question) override;
    QString askBlockList() override;
    BlockInfoTexts askBlockInfo(const QString& message) override;

    void setStatus(const QString& text) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    void setBusy(bool busy) override;
    void readProgress(qsizetype done, qsizetype total) override;

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
    QPointer<RewritePromtForm> rewrite_;
    QPointer<LoadCustomPromt> loadCustom_;
    QPointer<LoadUserCustomPromt> loadUserCustom_;
    Interaction* answerer_ = nullptr;
    int busyDepth_ = 0;
};

} // namespace x45::ui
