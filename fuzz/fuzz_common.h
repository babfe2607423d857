#pragma once
// Shared bits of the fuzz targets: an Interaction that answers from the input, and a check that
// aborts (so libFuzzer records the input) when a property of a reader does not hold.

#include "person/interaction.h"

#include <cstdio>
#include <cstdlib>

namespace x45::fuzz {

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

// Answers every question with Yes or No as chosen, and types fixed texts into dialogs.
class FixedAnswers : public Interaction {
public:
    explicit FixedAnswers(bool yes) : yes_(yes) {}
    int questions = 0;

    Button message(const QString&, const QString&, Buttons buttons, Icon, Button) override {
        ++questions;
        return buttons == Buttons::YesNo ? (yes_ ? Button::Yes : Button::No) : Button::Ok;
    }
    RewriteAnswer askRewrite(const QString&) override { return yes_ ? RewriteAnswer::Yes : RewriteAnswer::No; }
    QString askBlockList() override { return {}; }
    BlockInfoTexts askBlockInfo(const QString&) override { return {}; }
    void setStatus(const QString&) override {}
    void setProgressRange(int, int) override {}
    void setProgressValue(int) override {}
    void setBusy(bool) override {}

private:
    bool yes_;
};

} // namespace x45::fuzz
