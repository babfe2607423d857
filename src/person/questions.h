#pragma once
// Questions an operation puts to the person, and the answers it can get.

#include <QString>

namespace x45 {

enum class Button { Ok, Cancel, Abort, Retry, Ignore, Yes, No };
enum class Buttons { Ok, YesNo, AbortRetryIgnore, RetryCancel };
enum class Icon { None, Exclamation, Question, Critical };

// Answers of the overwrite question; the "for all" answers stand for the rest of the run.
enum class RewriteAnswer { Yes = 1, No, YesAll, NoAll, Cancel };

// The Yes/No questions, so that a front end without a person can answer each by what it asks.
enum class YesNoQuestion {
    ConfirmDelete,      // remove the selected blocks from the User's list
    ConfirmPhoneDelete, // delete the selected blocks on the phone
    IncludeSkipped,     // take the blocks a mapping file marks as not to be written
};

// Texts typed into the "Load custom block file" dialog, blanks trimmed; an empty number is a
// cancel.
struct BlockInfoTexts {
    QString number;
    QString version;
};

// The program's name: the title of boxes that have none of their own.
inline const QString AppTitle = QStringLiteral("x45eep");

class Questions {
public:
    virtual ~Questions() = default;

    // Modal message box; returns the button pressed. An empty title means the program's name.
    virtual Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                           Button defaultButton) = 0;
    // A Yes/No box with "Yes" as the default; true for "Yes".
    virtual bool askYesNo(YesNoQuestion question, const QString& text, const QString& title,
                          Icon icon) {
        (void)question;
        return message(text, title, Buttons::YesNo, icon, Button::Yes) == Button::Yes;
    }
    virtual RewriteAnswer askRewrite(const QString& question) = 0;
    // "Load custom blocks": the typed list, or empty on Cancel.
    virtual QString askBlockList() = 0;
    // "Load custom block file" with its message label.
    virtual BlockInfoTexts askBlockInfo(const QString& message) = 0;

    // Convenience for the common OK box with the program's title.
    void inform(const QString& text, Icon icon = Icon::None) {
        message(text, QString(), Buttons::Ok, icon, Button::Ok);
    }
};

} // namespace x45
