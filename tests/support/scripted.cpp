#include "scripted.h"

namespace x45::test {

namespace {
// The next queued answer, or the fallback once the queue has run dry.
template <typename T> T next(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
}
} // namespace

Button ScriptedInteraction::message(const QString& text, const QString& title, Buttons buttons,
                                    Icon icon, Button defaultButton) {
    messages.push_back({text, title, buttons, icon, defaultButton});
    return next(messageAnswers, defaultMessageAnswer);
}

RewriteAnswer ScriptedInteraction::askRewrite(const QString& question) {
    rewriteQuestions << question;
    return next(rewriteAnswers, defaultRewriteAnswer);
}

QString ScriptedInteraction::askBlockList() {
    return next(blockListAnswers, QString());
}

BlockInfoTexts ScriptedInteraction::askBlockInfo(const QString& message) {
    blockInfoMessages << message;
    return next(blockInfoAnswers, BlockInfoTexts{});
}

QStringList ScriptedInteraction::messageTexts() const {
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}

} // namespace x45::test
