#pragma once
// Option parsing shared by the commands, and the phone connection that the phone-side commands
// open with --port: the real serial port, the link and the session over it.

#include "link/linktrace.h"
#include "link/qtserialport.h"
#include "link/session.h"
#include "base/status.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QFile>
#include <QStringList>
#include <memory>
#include <optional>

namespace x45::cli {

class CommandLine {
public:
    // command: "info", "read"...; synopsis: the arguments after it; description: one paragraph.
    CommandLine(QString command, QString synopsis, QString description);

    // --port P, --wait SECONDS and --trace FILE.
    void addPortOptions();
    // --on-error abort|retry|ignore and --retries N.
    void addErrorOptions();
    // --yes.
    void addConfirmOption();
    // --overwrite yes|no.
    void addOverwriteOption();
    // --include-skipped yes|no, --block N, --version V.
    void addFileQuestionOptions();
    // --force: files the command saves may replace files that exist already.
    void addForceOption();
    void addOption(const QCommandLineOption& option) { parser_.addOption(option); }
    void addPositional(const QString& name, const QString& description,
                       const QString& syntax = {}) {
        parser_.addPositionalArgument(name, description, syntax);
        arguments_ = true;
    }
    // True when arguments were declared with addPositional.
    [[nodiscard]] bool takesArguments() const { return arguments_; }
    // Text printed after the options in --help.
    void setEpilog(const QString& text) { epilog_ = text; }

    // Parses args (args[0] is the command). A failure is a usage error, for usageError(); with
    // --help the rest is not looked at (helpAsked()).
    [[nodiscard]] Status parse(const QStringList& args);
    // --help was given: the command prints helpText() and ends.
    [[nodiscard]] bool helpAsked() const { return parser_.isSet(QStringLiteral("help")); }
    // Copies the answer options that were added onto ui; a failure is a bad value, a usage error.
    [[nodiscard]] Status applyTo(TerminalInteraction& ui) const;

    // "info", "read"...
    [[nodiscard]] const QString& command() const { return command_; }
    [[nodiscard]] QStringList positional() const { return parser_.positionalArguments(); }
    [[nodiscard]] bool isSet(const QString& name) const { return parser_.isSet(name); }
    [[nodiscard]] QString value(const QString& name) const { return parser_.value(name); }

    // The --port value; empty when not given.
    [[nodiscard]] QString port() const;
    // The --wait value in seconds; 0 when not given.
    [[nodiscard]] double waitSeconds() const { return wait_; }
    // The --trace file; empty when not given.
    [[nodiscard]] QString tracePath() const { return trace_; }

    // Checks the output file `name` (--out, --backup) before anything is read or sent: its
    // folder exists and takes new files, and without --force no file a save under it may
    // replace is there yet (for .bin and .txt: its id file, and the names of several blocks with
    // theirs). A failure says why the command must end, for failure().
    [[nodiscard]] Status checkOutput(const QString& name) const;

    // Prints "x45eep-cli COMMAND: message" and a hint on stderr; returns the usage exit code.
    int usageError(const QString& message) const;
    int usageError(const Status& failed) const { return usageError(failed.message()); }
    // Prints "x45eep-cli COMMAND: message" on stderr; returns ExitFailed.
    int failure(const Status& failed) const;
    [[nodiscard]] QString helpText() const;

private:
    // Checks --trace: a file name that is none of the command's other files (nor one a save under
    // --out or --backup may write) and, when it exists, a regular file holding an earlier trace.
    // A failure is a usage error.
    [[nodiscard]] Status checkTrace();
    // Checks --port and --wait; a failure is a usage error.
    [[nodiscard]] Status checkPort();
    [[nodiscard]] Status applyErrorOptions(TerminalInteraction& ui) const;
    [[nodiscard]] Status applyFileQuestionOptions(TerminalInteraction& ui) const;

    QString command_;
    QString synopsis_;
    QString epilog_;
    QCommandLineParser parser_;
    bool port_ = false, errors_ = false, confirm_ = false, overwrite_ = false, files_ = false;
    bool arguments_ = false;
    double wait_ = 0;
    QString trace_;
};

// "COM1".."COM4" (any case) name this system's first four serial ports; any other name or path is
// used as given.
[[nodiscard]] QString resolvePortName(const QString& name);

// The phone side of a command: port, link and session, and the session's start and end.
class PhoneConnection {
public:
    // Uses the system's serial port.
    explicit PhoneConnection(TerminalInteraction& ui);
    // Ends a session that is still open.
    ~PhoneConnection();

    // Starts the session on the port. waitSeconds > 0 bounds the scan for the phone. Ctrl-C stops
    // it. Returns ExitOk when the session is open; otherwise what went wrong has been printed and
    // the command's exit code is returned.
    [[nodiscard]] int start(const QString& portName, double waitSeconds = 0);
    // The same with the command's --port, --wait and --trace; the trace file is opened first, and
    // when it cannot be, nothing is sent to the phone.
    [[nodiscard]] int start(const CommandLine& cmd);
    // Sends the end-of-session message and closes the port; ends the trace file.
    void end();

    [[nodiscard]] Session& session() { return *session_; }
    [[nodiscard]] SerialPort& port() { return *port_; }

private:
    TerminalInteraction& ui_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<Link> link_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<StopOnInterrupt> interrupt_; // Ctrl-C stops the start sequence

    // --trace: every line goes to the file as it is made, so that a run that ends badly still
    // leaves its trace behind.
    void finishTrace();
    QFile traceFile_;
    std::unique_ptr<LinkTrace> trace_;
    QString traceError_; // the first write that failed
};

// The exit status of a phone command: a trace file that could not be written completely turns a
// success into a failure (the reason has been printed).
[[nodiscard]] int withTraceOutcome(int code);

} // namespace x45::cli
