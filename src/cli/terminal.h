#pragma once
// The command line's side of Interaction: message boxes are printed on stderr and answered from
// flags; status and progress go to stderr when it is a terminal; Ctrl-C, SIGTERM and SIGHUP ask
// the running operation to stop.

#include "base/stoprequest.h"
#include "person/interaction.h"

#include <QString>
#include <optional>

namespace x45::cli {

class TerminalInteraction : public Interaction {
public:
    TerminalInteraction();
    ~TerminalInteraction() override;

    // --on-error abort|retry|ignore: the answer to Abort/Retry/Ignore (and Retry/Cancel: retry or
    // cancel). Retry is given at most maxRetries times in a run, then the answer is Abort/Cancel.
    Button onError = Button::Abort;
    int maxRetries = 3;
    // --yes: Yes to the confirmation questions ("Confirm delete", "Confirm delete from phone").
    bool yes = false;
    // --include-skipped yes|no: the mapping file's question; No by default.
    bool includeSkipped = false;
    // --overwrite yes|no: the overwrite question; unset answers Cancel.
    std::optional<RewriteAnswer> overwrite;
    // --block N [--version V] for a data file without its id file.
    QString blockNumber;
    QString blockVersion;

    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override;
    bool askYesNo(YesNoQuestion question, const QString& text, const QString& title,
                  Icon icon) override;
    RewriteAnswer askRewrite(const QString& question) override;
    // The commands hand their --blocks list to the run itself; a run that asks gets none.
    QString askBlockList() override { return {}; }
    BlockInfoTexts askBlockInfo(const QString& message) override;
    void setStatus(const QString& text) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    void setBusy(bool) override {}
    void setProgressDetail(const ProgressDetail& detail) override;

    // The last status text.
    [[nodiscard]] const QString& lastStatus() const { return status_; }
    // Prints a line on stderr, ending a progress line first.
    void print(const QString& text);
    // Ends the status/progress line on a terminal; call before writing results to stdout.
    void endLine();
    // While held, status texts are kept but not drawn: the end of a session sets "Stopped." as
    // the port closes, which must not overwrite the line of a run that completed.
    void holdStatus(bool held) { statusHeld_ = held; }
    // Prints nothing from now on; questions are still answered from the flags.
    void mute() { muted_ = true; }

private:
    void drawLine();

    QString status_;
    bool interactive_ = false;
    bool lineOpen_ = false;
    bool statusHeld_ = false;
    bool muted_ = false;
    int retriesGiven_ = 0;
    int progressMin_ = 0;
    int progressMax_ = 0;
    int progressValue_ = 0;
    ProgressDetail detail_;
};

// " block 120/6402, 1.4 kB/s, 3 min 20 s left": the pace as the progress line shows it; the
// figures not known yet are left out.
[[nodiscard]] QString paceText(const ProgressDetail& detail);

// A closed stdout or stderr never ends the program: SIGPIPE is ignored, and a standard stream
// that is not open at all is opened on the null device, so that no file or port the program
// opens later takes its place and gets its messages. Called first thing in main().
void keepStandardStreamsHarmless();

// Routes SIGINT (Ctrl-C), SIGTERM and SIGHUP to the running operation's stop request: the handler
// sets it, and the operation stops at its next safe point; a second Ctrl-C ends the process at
// once. A later call moves the target.
void installStopOnInterrupt(StopRequest& stop);

// True once one of those signals arrived: a command checks it before it starts what changes the
// phone, as an operation only sees the requests that come while it runs.
[[nodiscard]] bool stopSignalled();

// Ctrl-C (SIGTERM, SIGHUP) stops this operation for the object's lifetime, then the one it stopped
// before.
class StopOnInterrupt {
public:
    explicit StopOnInterrupt(StopRequest& stop);
    ~StopOnInterrupt();
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

private:
    StopRequest* previous_;
};

} // namespace x45::cli
