#include "options.h"

#include "commands.h"

#include "blocks/eepblock.h"
#include "blocks/number.h"
#include "files/syspath.h"
#include "files/userfiles.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdio>

namespace x45::cli {

namespace {

// Longest bound for --wait: a day is plenty for a phone that will not answer.
constexpr double MaxWaitSeconds = 86400;

// The first line of every trace file: an existing file that does not start with it is not one of
// ours and is never written over.
constexpr char TraceHeading[] = "# x45eep link trace";

// Set when a trace file could not be written completely.
bool traceFailed = false;

// The files a command reads: its arguments (with the id files of single-block files) and the
// description file, each as canonicalName gives it.
QStringList inputsOf(const QCommandLineParser& parser) {
    QStringList inputs;
    for (const QString& name : parser.positionalArguments())
        for (const QString& read : filesALoadReads(name))
            inputs << canonicalName(read);
    if (parser.optionNames().contains(QStringLiteral("descriptions")))
        inputs << canonicalName(parser.value(QStringLiteral("descriptions")));
    return inputs;
}

// A mistake on the command line: the command ends with the usage exit code.
Status usageFault(const QString& message) {
    return Status::fail(ErrorKind::BadInput, message);
}

std::optional<bool> yesNo(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("yes") || t == QLatin1String("y")) return true;
    if (t == QLatin1String("no") || t == QLatin1String("n")) return false;
    return std::nullopt;
}

} // namespace

CommandLine::CommandLine(QString command, QString synopsis, QString description)
    : command_(std::move(command)), synopsis_(std::move(synopsis)) {
    parser_.setApplicationDescription(description);
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.addHelpOption();
}

void CommandLine::addPortOptions() {
    port_ = true;
    parser_.addOption({QStringLiteral("port"),
                       QStringLiteral("Serial port of the cable: a device path (/dev/ttyUSB0) or "
                                      "COM1..COM4."),
                       QStringLiteral("P")});
    parser_.addOption({QStringLiteral("wait"),
                       QStringLiteral("Give up scanning for the phone after SECONDS (default: "
                                      "scan until Ctrl-C)."),
                       QStringLiteral("SECONDS")});
    parser_.addOption({QStringLiteral("trace"),
                       QStringLiteral("Write every frame to and from the phone, with its time and "
                                      "what the tool made of it, to FILE."),
                       QStringLiteral("FILE")});
}

void CommandLine::addErrorOptions() {
    errors_ = true;
    parser_.addOption({QStringLiteral("on-error"),
                       QStringLiteral("Answer to a failed request: abort (default), retry or "
                                      "ignore."),
                       QStringLiteral("abort|retry|ignore")});
    parser_.addOption(
        {QStringLiteral("retries"),
         QStringLiteral("With --on-error retry: give up after N retries (default 3)."),
         QStringLiteral("N")});
}

void CommandLine::addConfirmOption() {
    confirm_ = true;
    parser_.addOption({QStringLiteral("yes"), QStringLiteral("Answer Yes to confirmations.")});
}

void CommandLine::addOverwriteOption() {
    overwrite_ = true;
    parser_.addOption({QStringLiteral("overwrite"),
                       QStringLiteral("Replace blocks already in the list (default: cancel)."),
                       QStringLiteral("yes|no")});
}

void CommandLine::addFileQuestionOptions() {
    files_ = true;
    parser_.addOption({QStringLiteral("include-skipped"),
                       QStringLiteral("Mapping files: also take the blocks marked as skipped "
                                      "(default no)."),
                       QStringLiteral("yes|no")});
    parser_.addOption({QStringLiteral("block"),
                       QStringLiteral("Block number for a data file that has no id file."),
                       QStringLiteral("N")});
    parser_.addOption({QStringLiteral("version"),
                       QStringLiteral("Block version for a data file that has no id file."),
                       QStringLiteral("V")});
}

void CommandLine::addForceOption() {
    parser_.addOption({QStringLiteral("force"),
                       QStringLiteral("Replace output files that exist already (default: leave "
                                      "them and do nothing). A replaced file keeps its "
                                      "permissions and owner.")});
}

QString CommandLine::helpText() const {
    QString text = parser_.helpText();
    // Qt writes the program name alone; the command belongs in the usage line.
    const QString app = QCoreApplication::applicationName().isEmpty()
                            ? QStringLiteral("x45eep-cli")
                            : QCoreApplication::applicationName();
    const qsizetype eol = text.indexOf(QLatin1Char('\n'));
    text.replace(0, eol, QStringLiteral("Usage: %1 %2 %3").arg(app, command_, synopsis_));
    if (!epilog_.isEmpty()) text += QLatin1Char('\n') + epilog_ + QLatin1Char('\n');
    return text;
}

int CommandLine::usageError(const QString& message) const {
    std::fprintf(stderr, "x45eep-cli %s: %s\nRun \"x45eep-cli %s --help\" for its options.\n",
                 qPrintable(command_), qPrintable(message), qPrintable(command_));
    return ExitUsage;
}

int CommandLine::failure(const Status& failed) const {
    std::fprintf(stderr, "x45eep-cli %s: %s\n", qPrintable(command_),
                 qPrintable(failed.message()));
    return ExitFailed;
}

Status CommandLine::parse(const QStringList& args) {
    QStringList full = args;
    if (full.isEmpty()) full << command_;
    if (!parser_.parse(full)) return usageFault(parser_.errorText());
    // A second value would silently take the place of the first ("--blocks 12 --blocks 13").
    const QStringList given = parser_.optionNames();
    for (const QString& name : given)
        if (given.count(name) > 1)
            return usageFault(
                QStringLiteral("--%1 is given more than once; give it once").arg(name));
    if (helpAsked() || !port_) return Status::ok();
    if (Status port = checkPort(); !port) return port;
    return parser_.isSet(QStringLiteral("trace")) ? checkTrace() : Status::ok();
}

Status CommandLine::checkPort() {
    if (port().isEmpty()) return usageFault(QStringLiteral("--port is required"));
    if (!parser_.isSet(QStringLiteral("wait"))) return Status::ok();
    bool ok = false;
    wait_ = parser_.value(QStringLiteral("wait")).toDouble(&ok);
    if (!ok || !std::isfinite(wait_) || wait_ <= 0 || wait_ > MaxWaitSeconds)
        return usageFault(QStringLiteral("--wait takes a number of seconds above 0"));
    return Status::ok();
}

Status CommandLine::checkTrace() {
    trace_ = parser_.value(QStringLiteral("trace")).trimmed();
    if (trace_.isEmpty()) return usageFault(QStringLiteral("--trace needs a file name"));
    // The trace must never take the place of a file the command reads or writes.
    const QString target = canonicalName(trace_);
    bool clash = inputsOf(parser_).contains(target, FileNameCase);
    for (const char* name : {"out", "backup"})
        if (parser_.optionNames().contains(QLatin1String(name)) &&
            !parser_.value(QLatin1String(name)).trimmed().isEmpty())
            clash = clash ||
                    saveMayWrite(canonicalName(parser_.value(QLatin1String(name)).trimmed()), target);
    const QString shown = shownName(trace_);
    if (clash)
        return usageFault(QStringLiteral("--trace %1 names a file the command also reads or "
                                         "writes; name another file for the trace")
                              .arg(shown));
    const FileState state = fileState(trace_);
    if (state.kind == FileKind::Folder)
        return usageFault(QStringLiteral("--trace %1 is a folder; name a file").arg(shown));
    if (state.kind == FileKind::Special)
        return usageFault(QStringLiteral("--trace %1 is not a regular file but a pipe, device or "
                                         "socket; name a file")
                              .arg(shown));
    if (state.kind != FileKind::Regular || state.size == 0) return Status::ok();
    QFile existing;
    const bool ours = openForReading(existing, trace_).isOk() &&
                      existing.read(qstrlen(TraceHeading)) == TraceHeading;
    if (ours) return Status::ok();
    return usageFault(QStringLiteral("--trace %1 exists and is not a trace of this tool; it is "
                                     "left as it is. Name another file, or remove it first")
                          .arg(shown));
}

Status CommandLine::checkOutput(const QString& name) const {
    if (name.isEmpty()) return Status::ok();
    const QString folder = folderOf(name);
    if (fileState(folder).kind != FileKind::Folder)
        return Status::fail(QStringLiteral("cannot save to \"%1\": the folder \"%2\" does not "
                                           "exist. Nothing was done; name a folder that exists.")
                                .arg(shownName(name), shownName(folder)));
    if (!mayCreateIn(folder))
        return Status::fail(QStringLiteral("cannot save to \"%1\": you may not create files in "
                                           "the folder \"%2\". Nothing was done; name another "
                                           "folder.")
                                .arg(shownName(name), shownName(folder)));
    const QString target = canonicalName(name);
    for (const QString& there : filesASaveMayReplace(name)) {
        const FileKind kind = fileState(there).kind;
        if (kind == FileKind::Folder || kind == FileKind::Special)
            return Status::fail(QStringLiteral("cannot save to \"%1\": \"%2\" is %3. Nothing was "
                                               "done; name another file.")
                                    .arg(shownName(name), shownName(there),
                                         kind == FileKind::Folder
                                             ? QStringLiteral("a folder")
                                             : QStringLiteral("not a regular file but a pipe, "
                                                              "device or socket")));
        if (parser_.isSet(QStringLiteral("force"))) continue;
        return Status::fail(
            ErrorKind::Refused,
            canonicalName(there) == target
                ? QStringLiteral("\"%1\" exists already; it was left as it is and nothing was "
                                 "done. Give --force to replace it, or name another file.")
                      .arg(shownName(name))
                : QStringLiteral("\"%1\" exists already and a save to \"%2\" may replace it; it "
                                 "was left as it is and nothing was done. Give --force to "
                                 "replace such files, or name another file.")
                      .arg(shownName(there), shownName(name)));
    }
    return Status::ok();
}

Status CommandLine::applyTo(TerminalInteraction& ui) const {
    if (Status errors = applyErrorOptions(ui); !errors) return errors;
    if (confirm_) ui.yes = parser_.isSet(QStringLiteral("yes"));
    if (overwrite_ && parser_.isSet(QStringLiteral("overwrite"))) {
        const auto v = yesNo(parser_.value(QStringLiteral("overwrite")));
        if (!v) return usageFault(QStringLiteral("--overwrite takes yes or no"));
        ui.overwrite = *v ? RewriteAnswer::Yes : RewriteAnswer::No;
    }
    return files_ ? applyFileQuestionOptions(ui) : Status::ok();
}

Status CommandLine::applyErrorOptions(TerminalInteraction& ui) const {
    if (!errors_) return Status::ok();
    const QString e = parser_.value(QStringLiteral("on-error")).trimmed().toLower();
    if (e.isEmpty() || e == QLatin1String("abort"))
        ui.onError = Button::Abort;
    else if (e == QLatin1String("retry"))
        ui.onError = Button::Retry;
    else if (e == QLatin1String("ignore"))
        ui.onError = Button::Ignore;
    else
        return usageFault(QStringLiteral("--on-error takes abort, retry or ignore"));
    if (parser_.isSet(QStringLiteral("retries"))) {
        bool ok = false;
        const int n = parser_.value(QStringLiteral("retries")).toInt(&ok);
        if (!ok || n < 0)
            return usageFault(QStringLiteral("--retries takes a whole number of 0 or more"));
        ui.maxRetries = n;
    }
    return Status::ok();
}

Status CommandLine::applyFileQuestionOptions(TerminalInteraction& ui) const {
    if (parser_.isSet(QStringLiteral("include-skipped"))) {
        const auto v = yesNo(parser_.value(QStringLiteral("include-skipped")));
        if (!v) return usageFault(QStringLiteral("--include-skipped takes yes or no"));
        ui.includeSkipped = *v;
    }
    // Typed numbers that end up on the phone are read strictly: "abc" must not be block 0.
    const struct {
        const char* option;
        bool sign;
        qint64 lo, hi;
        QString* into;
    } numbers[] = {{"block", true, LowestBlockNumber, HighestBlockNumber, &ui.blockNumber},
                   {"version", false, 0, 255, &ui.blockVersion}};
    for (const auto& n : numbers) {
        const QString name = QLatin1String(n.option);
        if (!parser_.isSet(name)) continue;
        const QString text = parser_.value(name);
        const auto value = readStrictNumber(text, n.sign);
        if (!value || *value < n.lo || *value > n.hi)
            return usageFault(QStringLiteral("--%1 \"%2\" is not a whole number within %3..%4 "
                                             "(decimal, &H hexadecimal or &O octal)")
                                  .arg(name, text)
                                  .arg(n.lo)
                                  .arg(n.hi));
        *n.into = text;
    }
    return Status::ok();
}

QString CommandLine::port() const {
    return port_ ? parser_.value(QStringLiteral("port")).trimmed() : QString();
}

QString resolvePortName(const QString& name) {
    const QString t = name.trimmed();
    if (t.size() == 4 && t.startsWith(QLatin1String("com"), Qt::CaseInsensitive)) {
        const int n = t.at(3).digitValue();
        if (n >= 1 && n <= 4) return comPortDevice(n - 1);
    }
    return t;
}

PhoneConnection::PhoneConnection(TerminalInteraction& ui)
    : ui_(ui), port_(std::make_unique<QtSerialPort>()), link_(std::make_unique<Link>(*port_)),
      session_(std::make_unique<Session>(*link_, ui_)) {}

PhoneConnection::~PhoneConnection() {
    end();
}

int PhoneConnection::start(const CommandLine& cmd) {
    const QString path = cmd.tracePath();
    if (!path.isEmpty()) {
        if (const Status opened = openForWriting(traceFile_, path); !opened) {
            ui_.print(QStringLiteral("Cannot write the trace file %1: %2. Nothing was sent to the "
                                     "phone; name a file in a folder you can write to.")
                          .arg(shownName(path), opened.message()));
            return ExitFailed;
        }
        trace_ = std::make_unique<LinkTrace>(0);
        trace_->setSink([this](const QByteArray& line) {
            if (traceError_.isEmpty() && traceFile_.write(line) != line.size())
                traceError_ = traceFile_.errorString();
        });
        trace_->restart();
        link_->setTrace(trace_.get());
    }
    return start(cmd.port(), cmd.waitSeconds());
}

void PhoneConnection::finishTrace() {
    if (!trace_) return;
    link_->setTrace(nullptr);
    trace_->flush();
    trace_.reset();
    if (traceError_.isEmpty() && !traceFile_.flush()) traceError_ = traceFile_.errorString();
    traceFile_.close();
    if (traceError_.isEmpty() && traceFile_.error() != QFileDevice::NoError)
        traceError_ = traceFile_.errorString();
    if (traceError_.isEmpty()) return;
    traceFailed = true;
    ui_.print(QStringLiteral("The trace file %1 could not be written completely (%2); it lacks "
                             "the last frames. Free some space or name another file, then run "
                             "again for a whole trace.")
                  .arg(shownName(traceFile_.fileName()), traceError_));
}

int withTraceOutcome(int code) {
    return code == ExitOk && traceFailed ? ExitFailed : code;
}

int PhoneConnection::start(const QString& portName, double waitSeconds) {
    interrupt_ = std::make_unique<StopOnInterrupt>(session_->stopRequest());
    session_->setScanLimit(std::chrono::milliseconds(qint64(std::ceil(waitSeconds * 1000))));
    const Outcome outcome = session_->start(resolvePortName(portName));
    switch (outcome) {
    case Outcome::Done:
        return ExitOk;
    case Outcome::Stopped:
        if (session_->scanRanOut())
            ui_.print(QStringLiteral("No phone answered on %1 within %2 s; check the cable and "
                                     "the port choice.")
                          .arg(resolvePortName(portName))
                          .arg(waitSeconds));
        ui_.print(QStringLiteral("Stopped."));
        return ExitFailed;
    default: // Failed: the message has been printed
        return ExitFailed;
    }
}

void PhoneConnection::end() {
    if (session_->isOpen()) {
        // The line shows how the run ended; closing the port is not a stop.
        ui_.endLine();
        ui_.holdStatus(true);
        session_->end();
        ui_.holdStatus(false);
    }
    finishTrace();
}

} // namespace x45::cli
