// The command line's answers to the operations' questions, and the shared option parsing.

// These pieces are built into the program only; compile the ones under test here.
#include "../src/cli/options.cpp"
#include "../src/cli/terminal.cpp"

#include <gtest/gtest.h>

using x45::Button;
using x45::Buttons;
using x45::Icon;
using x45::YesNoQuestion;
using x45::cli::CommandLine;
using x45::cli::TerminalInteraction;

namespace {

Button ask(TerminalInteraction& ui, Buttons buttons, const QString& title = {}) {
    return ui.message(QStringLiteral("question"), title, buttons, Icon::Question, Button::Ok);
}

} // namespace

TEST(Terminal, ErrorDialogsFollowOnErrorWithBoundedRetries) {
    TerminalInteraction ui;
    EXPECT_EQ(ask(ui, Buttons::AbortRetryIgnore), Button::Abort) << "abort by default";
    EXPECT_EQ(ask(ui, Buttons::RetryCancel), Button::Cancel);
    ui.onError = Button::Ignore;
    EXPECT_EQ(ask(ui, Buttons::AbortRetryIgnore), Button::Ignore);
    EXPECT_EQ(ask(ui, Buttons::RetryCancel), Button::Cancel);
    ui.onError = Button::Retry;
    ui.maxRetries = 2;
    EXPECT_EQ(ask(ui, Buttons::AbortRetryIgnore), Button::Retry);
    EXPECT_EQ(ask(ui, Buttons::RetryCancel), Button::Retry);
    EXPECT_EQ(ask(ui, Buttons::AbortRetryIgnore), Button::Abort) << "retries used up";
    EXPECT_EQ(ask(ui, Buttons::RetryCancel), Button::Cancel);
    EXPECT_EQ(ask(ui, Buttons::Ok), Button::Ok);
    EXPECT_EQ(ask(ui, Buttons::YesNo), Button::No) << "a question no flag answers";
}

TEST(Terminal, YesNoQuestionsAndListAnswersComeFromFlags) {
    TerminalInteraction ui;
    const auto yesNo = [&ui](YesNoQuestion q) { return ui.askYesNo(q, "?", {}, Icon::None); };
    EXPECT_FALSE(yesNo(YesNoQuestion::ConfirmPhoneDelete) || yesNo(YesNoQuestion::IncludeSkipped));
    ui.yes = true;
    EXPECT_TRUE(yesNo(YesNoQuestion::ConfirmDelete) && yesNo(YesNoQuestion::ConfirmPhoneDelete));
    EXPECT_FALSE(yesNo(YesNoQuestion::IncludeSkipped)) << "--yes does not answer this one";
    ui.includeSkipped = true;
    ui.yes = false;
    EXPECT_TRUE(yesNo(YesNoQuestion::IncludeSkipped));
    EXPECT_EQ(ui.askRewrite(QStringLiteral("Rewrite?")), x45::RewriteAnswer::Cancel);
    ui.overwrite = x45::RewriteAnswer::Yes;
    EXPECT_EQ(ui.askRewrite(QStringLiteral("Rewrite?")), x45::RewriteAnswer::Yes);
    EXPECT_TRUE(ui.askBlockList().isEmpty()) << "the commands hand their list to the run";
    ui.blockNumber = QStringLiteral(" 77 ");
    ui.blockVersion = QStringLiteral("2");
    const x45::BlockInfoTexts info = ui.askBlockInfo(QStringLiteral("which block?"));
    EXPECT_EQ(info.number + "/" + info.version, QStringLiteral("77/2"));
}

TEST(Options, ValuesAreCheckedAndApplied) {
    {
        CommandLine cmd(QStringLiteral("read"), QStringLiteral("--port P"), QStringLiteral("d"));
        cmd.addPortOptions();
        cmd.addErrorOptions();
        cmd.addOverwriteOption();
        cmd.addConfirmOption();
        cmd.addFileQuestionOptions();
        EXPECT_TRUE(cmd.parse({"read", "--port", "COM2", "--wait=2.5", "--on-error", "retry",
                               "--retries", "7", "--overwrite", "yes", "--yes", "--block", "12",
                               "--version", "3", "--include-skipped", "yes", "a.eep"}));
        TerminalInteraction ui;
        EXPECT_TRUE(cmd.applyTo(ui));
        EXPECT_EQ(cmd.waitSeconds(), 2.5);
        EXPECT_EQ(cmd.positional(), QStringList{QStringLiteral("a.eep")});
        EXPECT_EQ(ui.onError, Button::Retry);
        EXPECT_EQ(ui.maxRetries, 7);
        EXPECT_EQ(ui.overwrite, x45::RewriteAnswer::Yes);
        EXPECT_TRUE(ui.yes);
        EXPECT_TRUE(ui.includeSkipped);
        EXPECT_EQ(ui.blockNumber, QStringLiteral("12"));
        EXPECT_EQ(ui.blockVersion, QStringLiteral("3"));
        EXPECT_EQ(x45::cli::resolvePortName(cmd.port()), x45::comPortDevice(1));
    }
    // Refused when parsed or when applied: either way a usage error, naming the option.
    const struct {
        QStringList args;
        const char* said;
    } bad[] = {
        {{"read", "--wait", "1"}, "--port"},
        {{"read", "--port", "p", "--wait", "0"}, "--wait"},
        {{"read", "--port", "p", "--wait", "soon"}, "--wait"},
        {{"read", "--port", "p", "--unknown"}, "unknown"},
        {{"read", "--port", "p", "--on-error", "maybe"}, "--on-error"},
        {{"read", "--port", "p", "--retries", "-1"}, "--retries"},
        {{"read", "--port", "p", "--overwrite", "sometimes"}, "--overwrite"},
        {{"read", "--port", "p", "--include-skipped", "perhaps"}, "--include-skipped"},
        {{"read", "--port", "p", "--block", "32768"}, "--block \"32768\""},
        {{"read", "--port", "p", "--version", "&H100"}, "--version \"&H100\""},
    };
    for (const auto& b : bad) {
        CommandLine cmd(QStringLiteral("read"), {}, {});
        cmd.addPortOptions();
        cmd.addErrorOptions();
        cmd.addOverwriteOption();
        cmd.addFileQuestionOptions();
        TerminalInteraction ui;
        x45::Status refused = cmd.parse(b.args);
        if (refused) refused = cmd.applyTo(ui);
        EXPECT_TRUE(refused.is(x45::ErrorKind::BadInput)) << b.args.join(' ').toStdString();
        EXPECT_TRUE(refused.message().contains(QLatin1String(b.said))) << refused.message().toStdString();
    }
    EXPECT_EQ(x45::cli::resolvePortName(QStringLiteral(" /dev/ttyUSB0 ")),
              QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(x45::cli::resolvePortName(QStringLiteral("com5")), QStringLiteral("com5"));
}
