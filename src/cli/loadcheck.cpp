#include "loadcheck.h"

#include "commands.h"

#include "files/blockfile.h"
#include "files/syspath.h"
#include "files/userfiles.h"
#include "transfer/parseblocklist.h"

#include <cstdio>

namespace x45::cli {

namespace {

QString shown(const QString& path) {
    return shownName(path);
}

// An empty data file beside its id file is a block of no bytes; any other empty file holds
// nothing to load.
bool emptyBlockFile(const QString& name) {
    const FileFormat format = formatOfName(name);
    return (format == FileFormat::Bin || format == FileFormat::Txt) &&
           fileState(idFileNameOf(name)).size > 0;
}

// The named files are there to be read: regular files, none empty without reason.
Status checkInputs(const char* command, const QStringList& names) {
    for (const QString& name : names) {
        const FileState state = fileState(name);
        if (state.kind == FileKind::Missing)
            return commandFault(command, QStringLiteral("cannot find \"%1\"; nothing was loaded.")
                                             .arg(shown(name)));
        if (state.kind == FileKind::Special)
            return commandFault(command, QStringLiteral("\"%1\" is not a regular file but a "
                                                        "pipe, device or socket; nothing was "
                                                        "loaded.")
                                             .arg(shown(name)));
        // A command line names files deliberately: an empty one is reported and left alone.
        if (state.kind == FileKind::Regular && state.size == 0 && !emptyBlockFile(name))
            return commandFault(command,
                                QStringLiteral("\"%1\" is empty; nothing was loaded.").arg(shown(name)));
    }
    return Status::ok();
}

// Whether a load that went through gave a list the command may use.
Status checkLoaded(const char* command, LoadOutcome outcome, const LoadReport& report,
                   LoadUse use) {
    if (outcome == LoadOutcome::EndedEarly)
        return commandFault(command,
                            QStringLiteral("the load ended early: %1; the result is incomplete, "
                                           "nothing was used.")
                                .arg(report.endReason.isEmpty()
                                         ? QStringLiteral("at \"%1\"").arg(report.endedAt)
                                         : report.endReason));
    // The skipped names and the lines that do not read have been printed.
    if (!report.skipped.isEmpty())
        return commandFault(command, QStringLiteral("%1 file(s) of no known format; nothing was "
                                                    "used. Name .eep, .bin, .txt or .map files "
                                                    "only.")
                                         .arg(report.skipped.size()));
    if (!report.problems.isEmpty() && use == LoadUse::Use)
        return commandFault(command, QStringLiteral("the files hold %1 line(s) that do not read; "
                                                    "nothing was used. Correct them, or give "
                                                    "--lenient to take the files as far as they "
                                                    "read.")
                                         .arg(problemCount(report.problems)));
    return Status::ok();
}

} // namespace

Status commandFault(const char* command, const QString& text, ErrorKind kind) {
    return Status::fail(kind, QStringLiteral("x45eep-cli %1: %2").arg(QLatin1String(command), text));
}

int printFailure(TerminalInteraction& ui, const Status& failed) {
    ui.print(failed.message());
    return ExitFailed;
}

void addLenientOption(CommandLine& cmd) {
    cmd.addOption({QStringLiteral("lenient"),
                   QStringLiteral("Take files with lines that do not read (bad hex text, id "
                                  "numbers with other characters, mapping-file lines that lose "
                                  "or misplace data) as the window loads them, instead of "
                                  "refusing them.")});
}

LoadUse loadUseOf(const CommandLine& cmd) {
    return cmd.isSet(QStringLiteral("lenient")) ? LoadUse::Lenient : LoadUse::Use;
}

Status loadFiles(const char* command, const QStringList& names, Dump& ws,
                 TerminalInteraction& ui, LoadUse use) {
    if (Status there = checkInputs(command, names); !there) return there;
    LoadReport report;
    const Result<LoadOutcome> loaded = loadUserFiles(names, ws.blocks, ws.hwid, ui, report);
    if (!loaded) return loaded.status();
    if (const QString text = loadReportText(report); !text.isEmpty()) ui.print(text);
    return checkLoaded(command, loaded.value(), report, use);
}

Result<QVector<qint32>> strictBlockList(const QString& text) {
    Result<QVector<qint32>> numbers = parseBlockListStrict(text);
    if (!numbers)
        return Status::fail(ErrorKind::BadInput, QStringLiteral("--blocks: ") + numbers.message());
    return numbers;
}

QString plainList(const QVector<qint32>& numbers) {
    QStringList parts;
    parts.reserve(numbers.size());
    for (const qint32 n : numbers)
        parts << QString::number(n);
    return parts.join(QLatin1Char(' '));
}

QVector<int> allRows(const BlockList& blocks) {
    QVector<int> rows(blocks.size());
    for (int i = 0; i < rows.size(); ++i)
        rows[i] = i;
    return rows;
}

Result<QVector<PlannedFile>> saveOutput(const char* command, const QString& path, const Dump& ws,
                                        bool force, const QStringList& inputs) {
    Result<QVector<PlannedFile>> files = planUserFiles(path, ws.blocks, ws.hwid, allRows(ws.blocks));
    if (!files) return files;
    QStringList read;
    for (const QString& input : inputs)
        for (const QString& name : filesALoadReads(input))
            read << canonicalName(name);
    for (const PlannedFile& file : files.value())
        if (read.contains(canonicalName(file.path), FileNameCase))
            return commandFault(command,
                                QStringLiteral("\"%1\" is also read by the command; it was left "
                                               "as it is and nothing was saved. Name another "
                                               "output file.")
                                    .arg(shown(file.path)),
                                ErrorKind::BadInput);
    if (const QStringList there = existingFiles(files.value()); !there.isEmpty() && !force)
        return commandFault(command,
                            QStringLiteral("\"%1\" exists already; it was left as it is and "
                                           "nothing was saved. Give --force to replace it, or "
                                           "name another file.")
                                .arg(shown(there.first())),
                            ErrorKind::Refused);
    if (const Status saved =
            writeFilesTogether(files.value(), force ? Replace::Allowed : Replace::Refused);
        !saved)
        return saved;
    return files;
}

Status saveProvenBackup(const QString& path, const Dump& ws, bool force) {
    const Result<QVector<PlannedFile>> written = saveOutput("delete", path, ws, force);
    if (!written) return written.status();
    if (const Status proven = verifyFiles(written.value()); !proven)
        return Status::fail(QStringLiteral("The backup is not sound: %1").arg(proven.message()));
    return Status::ok();
}

} // namespace x45::cli
