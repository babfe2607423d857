#pragma once
// A question the phone engine puts to the person from its own thread, the answer it gets back,
// and the hand-over between the two threads: the engine waits on a PendingAnswer while the window
// shows the question without holding its own thread, then gives the answer.

#include "person/questions.h"

#include <QString>
#include <future>
#include <mutex>

namespace x45::ui {

// One of the questions of Questions, with what it shows.
struct Question {
    enum class Kind { Message, YesNo, Rewrite, BlockList, BlockInfo };
    Kind kind = Kind::Message;
    QString text{};
    QString title{};
    Buttons buttons = Buttons::Ok; // Message only
    Icon icon = Icon::None;
    Button defaultButton = Button::Ok; // Message only
    YesNoQuestion yesNo = YesNoQuestion::ConfirmDelete;
};

// The answer to a Question; only the field of its kind counts (YesNo answers in `button`).
struct Answer {
    Button button = Button::Ok;
    RewriteAnswer rewrite = RewriteAnswer::Cancel;
    QString blockList;
    BlockInfoTexts blockInfo;
};

// The answer a box gives when it is closed without choosing (Escape, the frame); for the failure
// box, which cannot be closed so, "Abort". What a closing window answers for the person.
[[nodiscard]] Button closingButton(Buttons buttons);
[[nodiscard]] Answer closingAnswer(const Question& question);

// The question asked of an Interaction that answers at once (the scripted answers of tests and
// demos).
[[nodiscard]] Answer answerNow(Questions& person, const Question& question);

// A question on its way between two threads. The asking thread waits in wait(); the first give()
// ends the wait, and later ones (a box answered after the window gave up on it) are dropped.
class PendingAnswer {
public:
    explicit PendingAnswer(Question question)
        : question_(std::move(question)), future_(promise_.get_future()) {}

    [[nodiscard]] const Question& question() const { return question_; }
    void give(const Answer& answer) {
        std::call_once(given_, [&] { promise_.set_value(answer); });
    }
    [[nodiscard]] Answer wait() { return future_.get(); }

private:
    Question question_;
    std::promise<Answer> promise_;
    std::future<Answer> future_;
    std::once_flag given_;
};

} // namespace x45::ui
