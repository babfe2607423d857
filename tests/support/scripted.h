#pragma once
// Interaction with scripted answers, recording everything the operation showed.

#include "person/interaction.h"

#include <QStringList>
#include <deque>

namespace x45::test {

struct ShownMessage {
    QString text;
    QString title;
    Buttons buttons;
    Icon icon;
    Button defaultButton;
};

class ScriptedInteraction : public Interaction {
public:
    // Answers handed out in order; when a queue runs dry the default answer is given.
    std::deque<Button> messageAnswers;
    Button defaultMessageAnswer = Button::Ok;
    std::deque<RewriteAnswer> rewriteAnswers;
    RewriteAnswer defaultRewriteAnswer = RewriteAnswer::Cancel;
    std::deque<QString> blockListAnswers;
    std::deque<BlockInfoTexts> blockInfoAnswers;

    std::vector<ShownMessage> messages;
    QStringList rewriteQuestions;
    QStringList blockInfoMessages;
    QStringList statuses;
    std::vector<int> progressValues;
    int progressMin = 0, progressMax = 0, progressValue = 0;
    int busyDepth = 0;

    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override;
    RewriteAnswer askRewrite(const QString& question) override;
    QString askBlockList() override;
    BlockInfoTexts askBlockInfo(const QString& message) override;
    void setStatus(const QString& text) override { statuses << text; }
    void setProgressRange(int minimum, int maximum) override {
        progressMin = minimum;
        progressMax = maximum;
    }
    void setProgressValue(int value) override {
        progressValue = value;
        progressValues.push_back(value);
    }
    void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }
    qsizetype readDone = 0, readTotal = 0;
    void readProgress(qsizetype done, qsizetype total) override {
        readDone = done;
        readTotal = total;
    }

    [[nodiscard]] QString lastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    [[nodiscard]] QStringList messageTexts() const;
};

} // namespace x45::test
