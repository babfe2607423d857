#include "question.h"

namespace x45::ui {

Button closingButton(Buttons buttons) {
    switch (buttons) {
    case Buttons::Ok:
        return Button::Ok;
    case Buttons::YesNo:
        return Button::No;
    case Buttons::RetryCancel:
        return Button::Cancel;
    case Buttons::AbortRetryIgnore:
        return Button::Abort;
    }
    return Button::Ok;
}

Answer closingAnswer(const Question& question) {
    Answer answer;
    answer.button =
        question.kind == Question::Kind::YesNo ? Button::No : closingButton(question.buttons);
    return answer; // Cancel to the rewrite question, an empty typed list, no block info
}

Answer answerNow(Questions& person, const Question& q) {
    Answer answer;
    switch (q.kind) {
    case Question::Kind::Message:
        answer.button = person.message(q.text, q.title, q.buttons, q.icon, q.defaultButton);
        break;
    case Question::Kind::YesNo:
        answer.button =
            person.askYesNo(q.yesNo, q.text, q.title, q.icon) ? Button::Yes : Button::No;
        break;
    case Question::Kind::Rewrite:
        answer.rewrite = person.askRewrite(q.text);
        break;
    case Question::Kind::BlockList:
        answer.blockList = person.askBlockList();
        break;
    case Question::Kind::BlockInfo:
        answer.blockInfo = person.askBlockInfo(q.text);
        break;
    }
    return answer;
}

} // namespace x45::ui
