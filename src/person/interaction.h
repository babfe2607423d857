#pragma once
// The only way an operation reaches the person: the window implements it with widgets, the command
// line with flags and the terminal, the tests with scripted answers.

#include "progressdetail.h"

#include <QString>

namespace x45 {

enum class Button { Ok, Cancel, Abort, Retry, Ignore, Yes, No };
enum class Buttons { Ok, YesNo, AbortRetryIgnore, RetryCancel };
enum class Icon { None, Exclamation, Question, Critical };

// Answers of the overwrite question.
enum RewriteCode : int {
    RewriteYes = 1,
    RewriteNo = 2,
    RewriteYesAll = 3,
    RewriteNoAll = 4,
    RewriteCancel = 5
};

// Texts typed into the "Load custom block file" dialog, blanks trimmed; an empty number is a
// cancel.
struct BlockInfoTexts {
    QString number;
    QString version;
};

// The program's name: the title of boxes that have none of their own.
inline const QString AppTitle = QStringLiteral("x45eep");

class Interaction {
public:
    virtual ~Interaction() = default;

    // Modal message box; returns the button pressed. An empty title means the program's name.
    virtual Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                           Button defaultButton) = 0;
    // The overwrite question; returns one of RewriteCode.
    virtual int askRewrite(const QString& question) = 0;
    // "Load custom blocks": the typed list, or empty on Cancel.
    virtual QString askBlockList() = 0;
    // "Load custom block file" with its message label.
    virtual BlockInfoTexts askBlockInfo(const QString& message) = 0;

    virtual void setStatus(const QString& text) = 0;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    // Hourglass while files are read or written.
    virtual void setBusy(bool busy) = 0;

    // ---- Pace of a long phone operation (block n of N, rate, time left) ----
    // Called as the run goes and once more with an empty detail when it ends. Front ends that
    // show no pace keep the empty default.
    virtual void setProgressDetail(const ProgressDetail& detail) { (void)detail; }
    // ---- end of pace ----

    // The stop request of the running operation: set by the person's "Stop", cleared when an
    // operation starts, set by operations themselves on Abort.
    bool StopProcess = false;

    // Convenience for the common OK box with the program's title.
    void inform(const QString& text, Icon icon = Icon::None) {
        message(text, QString(), Buttons::Ok, icon, Button::Ok);
    }
};

} // namespace x45
