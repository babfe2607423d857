#include "loadcheck.h"

#include "commands.h"

#include "files/blockfile.h"
#include "files/syspath.h"
#include "files/userfiles.h"
#include "transfer/parseblocklist.h"

#include <cstdio>

namespace x45::cli {

namespace {

void printError(const char* command, const QString& text) {
    std::fprintf(stderr, "x45eep-cli %s: %s\n", command, text.toLocal8Bit().constData());
    std::fflush(stderr);
}

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

} // namespace

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

int loadFiles(const char* command, const QStringList& names, Dump& ws,
              TerminalInteraction& ui, LoadUse use) {
    for (const QString& name : names) {
        const FileState state = fileState(name);
        if (state.kind == FileKind::Missing) {
            printError(command,
                       QStringLiteral("cannot find \"%1\"; nothing was loaded.").arg(shown(name)));
            return ExitFailed;
        }
        if (state.kind == FileKind::Special) {
            printError(command, QStringLiteral("\"%1\" is not a regular file but a pipe, device "
                                               "or socket; nothing was loaded.")
                                    .arg(shown(name)));
            return ExitFailed;
        }
        // A command line names files deliberately: an empty one is reported and left alone.
        if (state.kind == FileKind::Regular && state.size == 0 && !emptyBlockFile(name)) {
            printError(command,
                       QStringLiteral("\"%1\" is empty; nothing was loaded.").arg(shown(name)));
            return ExitFailed;
        }
    }
    LoadReport report;
    const Result<LoadOutcome> loaded = LoadUserFiles(names, ws.blocks, ws.hwid, ui, report);
    if (!loaded) {
        ui.print(loaded.message());
        return ExitFailed;
    }
    if (const QString text = loadReportText(report); !text.isEmpty()) ui.print(text);
    switch (loaded.value()) {
    case LoadOutcome::Loaded:
        break;
    case LoadOutcome::EndedEarly:
        printError(command, QStringLiteral("the load ended early: %1; the result is incomplete, "
                                           "nothing was used.")
                                .arg(report.endReason.isEmpty()
                                         ? QStringLiteral("at \"%1\"").arg(report.endedAt)
                                         : report.endReason));
        return ExitFailed;
    }
    // The skipped names and the lines that do not read have been printed above.
    if (!report.skipped.isEmpty()) {
        printError(command, QStringLiteral("%1 file(s) of no known format; nothing was used. "
                                           "Name .eep, .bin, .txt or .map files only.")
                                .arg(report.skipped.size()));
        return ExitFailed;
    }
    if (!report.problems.isEmpty() && use == LoadUse::Use) {
        printError(command, QStringLiteral("the files hold %1 line(s) that do not read; nothing "
                                           "was used. Correct them, or give --lenient to take "
                                           "the files as far as they read.")
                                .arg(problemCount(report.problems)));
        return ExitFailed;
    }
    return ExitOk;
}

std::optional<int> strictBlockList(const CommandLine& cmd, const QString& text,
                                   QVector<qint32>& numbers) {
    if (const Status st = ParseBlockListStrict(text, numbers); !st)
        return cmd.usageError(QStringLiteral("--blocks: ") + st.message());
    return std::nullopt;
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

int saveOutput(const char* command, TerminalInteraction& ui, const QString& path,
               const Dump& ws, bool force, const QStringList& inputs,
               QVector<PlannedFile>* written) {
    QVector<PlannedFile> files;
    if (const Status planned = PlanUserFiles(path, ws.blocks, ws.hwid, allRows(ws.blocks), files);
        !planned) {
        ui.print(planned.message());
        return ExitFailed;
    }
    QStringList read;
    for (const QString& input : inputs)
        for (const QString& name : filesALoadReads(input))
            read << canonicalName(name);
    for (const PlannedFile& file : std::as_const(files))
        if (read.contains(canonicalName(file.path), FileNameCase)) {
            printError(command, QStringLiteral("\"%1\" is also read by the command; it was left "
                                               "as it is and nothing was saved. Name another "
                                               "output file.")
                                    .arg(shown(file.path)));
            return ExitUsage;
        }
    if (const QStringList there = existingFiles(files); !there.isEmpty() && !force) {
        printError(command, QStringLiteral("\"%1\" exists already; it was left as it is and "
                                           "nothing was saved. Give --force to replace it, or "
                                           "name another file.")
                                .arg(shown(there.first())));
        return ExitFailed;
    }
    if (const Status saved = writeFilesTogether(files, force ? Replace::Allowed : Replace::Refused);
        !saved) {
        ui.print(saved.message());
        return ExitFailed;
    }
    if (written) *written = std::move(files);
    return ExitOk;
}

int saveProvenBackup(TerminalInteraction& ui, const QString& path, const Dump& ws, bool force) {
    QVector<PlannedFile> written;
    if (saveOutput("delete", ui, path, ws, force, {}, &written) != ExitOk) return ExitFailed;
    if (const Status proven = verifyFiles(written); !proven) {
        ui.print(QStringLiteral("The backup is not sound: %1").arg(proven.message()));
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace x45::cli
