#pragma once
// The person as a phone operation sees them: every call goes through unchanged, and the pace's
// clock stands still while a question waits for an answer, so that the rate and the time left
// count the wire only. Internal to src/transfer.

#include "person/interaction.h"
#include "progressrate.h"

namespace x45 {

class PausingInteraction final : public Interaction {
public:
    PausingInteraction(Interaction& person, ProgressRate& pace) : person_(person), pace_(pace) {}

    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override {
        const Paused paused{pace_};
        return person_.message(text, title, buttons, icon, defaultButton);
    }
    bool askYesNo(YesNoQuestion question, const QString& text, const QString& title,
                  Icon icon) override {
        const Paused paused{pace_};
        return person_.askYesNo(question, text, title, icon);
    }
    RewriteAnswer askRewrite(const QString& question) override {
        const Paused paused{pace_};
        return person_.askRewrite(question);
    }
    QString askBlockList() override {
        const Paused paused{pace_};
        return person_.askBlockList();
    }
    BlockInfoTexts askBlockInfo(const QString& message) override {
        const Paused paused{pace_};
        return person_.askBlockInfo(message);
    }

    void setStatus(const QString& text) override { person_.setStatus(text); }
    void setProgressRange(int minimum, int maximum) override {
        person_.setProgressRange(minimum, maximum);
    }
    void setProgressValue(int value) override { person_.setProgressValue(value); }
    void setBusy(bool busy) override { person_.setBusy(busy); }
    void readProgress(qsizetype done, qsizetype total) override {
        person_.readProgress(done, total);
    }
    void setProgressDetail(const ProgressDetail& detail) override {
        person_.setProgressDetail(detail);
    }

private:
    struct Paused {
        explicit Paused(ProgressRate& rate) : rate_(rate) { rate_.pause(); }
        ~Paused() { rate_.resume(); }
        Paused(const Paused&) = delete;
        Paused& operator=(const Paused&) = delete;
        ProgressRate& rate_;
    };
    Interaction& person_;
    ProgressRate& pace_;
};

} // namespace x45
