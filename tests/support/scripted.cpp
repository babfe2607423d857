#include "scripted.h"

namespace x45::test {

Button ScriptedInteraction::message(const QString& text, const QString& title, Buttons buttons,
                                    Icon icon, Button defaultButton) {
    messages.push_back({text, title, buttons, icon, defaultButton});
    if (messageAnswers.empty())
        return defaultMessageAnswer;
    const Button b = messageAnswers.front();
    messageAnswers.pop_front();
    return b;
}

RewriteAnswer ScriptedInteraction::askRewrite(const QString& question) {
    rewriteQuestions << question;
    if (rewriteAnswers.empty())
        return defaultRewriteAnswer;
    const RewriteAnswer a = rewriteAnswers.front();
    rewriteAnswers.pop_front();
    return a;
}

QString ScriptedInteraction::askBlockList() {
    if (blockListAnswers.empty())
        return {};
    QString a = blockListAnswers.front();
    blockListAnswers.pop_front();
    return a;
}

BlockInfoTexts ScriptedInteraction::askBlockInfo(const QString& message) {
    blockInfoMessages << message;
    if (blockInfoAnswers.empty())
        return {};
    BlockInfoTexts a = blockInfoAnswers.front();
    blockInfoAnswers.pop_front();
    return a;
}

QStringList ScriptedInteraction::messageTexts() const {
    QStringList out;
    for (const auto& m : messages)
        out << m.text;
    return out;
}

} // namespace x45::test
