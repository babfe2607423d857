// x45eep-cli read, write and delete: the phone-side operations of the window over the terminal.

#include "cli_json.h"
#include "commands.h"
#include "loadcheck.h"
#include "options.h"

#include "files/userfiles.h"
#include "transfer/parseblocklist.h"
#include "transfer/transfer.h"

#include <QDir>
#include <QSet>
#include <cstdio>

namespace x45::cli {

namespace {

void say(TerminalInteraction& ui, const QString& text) {
    // Through the interaction, so a progress line on the terminal is ended first.
    ui.message(text, AppTitle, Buttons::Ok, Icon::None, Button::Ok);
}

// Parses --blocks before anything touches the phone; a failure is a usage error.
Result<QVector<qint32>> checkBlockList(const QString& text) {
    if (text.trimmed().isEmpty())
        return Status::fail(ErrorKind::BadInput,
                            QStringLiteral("--blocks needs a list such as 1,5;7-9"));
    Result<QVector<qint32>> numbers = parseBlockList(text.trimmed());
    if (numbers && numbers->isEmpty())
        return Status::fail(ErrorKind::BadInput,
                            QStringLiteral("--blocks \"%1\" names no block").arg(text));
    return numbers;
}

// What a run that did not go through completely leaves to say; ExitOk when it was clean.
int runExit(TerminalInteraction& ui, const RunResult& r, const char* skippedWhat) {
    switch (r.end) {
    case Outcome::Done:
        break;
    case Outcome::Stopped:
        say(ui, QStringLiteral("Stopped."));
        return ExitFailed;
    default: // Cancelled, PortLost, Failed, Unverified: the reason has been shown
        return ExitFailed;
    }
    if (!r.skipped.isEmpty()) {
        say(ui, QStringLiteral("%1 block(s) %2.").arg(r.skippedCount()).arg(QLatin1String(skippedWhat)));
        return ExitFailed;
    }
    return r.notFound > 0 ? ExitFailed : ExitOk;
}

// The last line of every read, write and delete: what the run did and what it took.
void printSummary(TerminalInteraction& ui, const RunResult& r, const char* doneWhat) {
    say(ui, QStringLiteral("Summary: %1 block(s) %2, %3 retried, %4 resynchronised, %5 skipped, "
                           "%6 verified.")
                .arg(r.done)
                .arg(QLatin1String(doneWhat))
                .arg(r.retried)
                .arg(r.resyncs)
                .arg(r.skippedCount() + r.notFound)
                .arg(r.verified));
}

// The listed numbers (each once, in the order given) that are not in `done`.
QVector<qint32> listedNotIn(const QVector<qint32>& listed, const QSet<qint32>& done) {
    QVector<qint32> out;
    QSet<qint32> seen;
    for (const qint32 n : listed)
        if (!done.contains(n) && !seen.contains(n)) {
            out.append(n);
            seen.insert(n);
        }
    return out;
}

QSet<qint32> idsOf(const BlockList& blocks) {
    QSet<qint32> ids;
    for (const EEPBlock& b : blocks)
        ids.insert(b.BlockId);
    return ids;
}

// A completed read: saves the blocks read to `out` as the phone's list and prints the result.
// `code` is the run's own exit code, kept when the save goes through.
int saveRead(TerminalInteraction& ui, const QString& out, const Dump& read, RunSummary summary,
             bool json, int code, bool force) {
    if (read.blocks.isEmpty()) {
        say(ui, QStringLiteral("No block was read; %1 was not written.").arg(out));
        if (json) printJson(summaryJson(summary));
        return ExitFailed;
    }
    if (const auto saved = saveOutput("read", out, read, force); !saved) {
        ui.print(saved.message());
        if (json) printJson(summaryJson(summary));
        return ExitFailed;
    }
    if (json) {
        summary.file = out;
        printJson(summaryJson(summary));
        return code;
    }
    std::printf(
        "%s\n",
        qPrintable(
            QStringLiteral("Read %1 block(s) into %2.").arg(read.blocks.size()).arg(out)));
    std::fflush(stdout);
    return code;
}

// Loads the files to write and checks that every listed block is in them: ok with the blocks in
// ws; otherwise nothing may be sent, and the failure says why.
Status loadForWrite(TerminalInteraction& ui, const CommandLine& cmd, const QVector<qint32>& listed,
                    Dump& ws) {
    if (const Status loaded = loadFiles("write", cmd.positional(), ws, ui, loadUseOf(cmd));
        !loaded) {
        ui.print(loaded.message());
        return Status::fail(
            QStringLiteral("The files could not all be loaded; nothing was written."));
    }
    if (ws.blocks.isEmpty())
        return Status::fail(QStringLiteral("The files hold no block; nothing was written."));
    for (const qint32 n : listed)
        if (findBlock(ws.blocks, n) < 0)
            return Status::fail(
                QStringLiteral("Block %1 is in none of the files; nothing was written.").arg(n));
    // The operation checks this too; here it costs no port and no phone.
    BlockList toWrite;
    for (const EEPBlock& b : std::as_const(ws.blocks))
        if (listed.isEmpty() || listed.contains(b.BlockId)) toWrite.append(b);
    if (const Status carriable = checkCarriable(toWrite); !carriable)
        return Status::fail(ErrorKind::Refused,
                            carriable.message() + QStringLiteral("\nNothing was sent to the phone; "
                                                                 "correct or leave out the "
                                                                 "block(s) named."));
    return Status::ok();
}

// Which file each loaded block comes from, with that file's hardware id: the last file that
// holds it, as the load merges them. Each file is loaded once more on its own, quietly, with the
// same answers; a block no file accounts for keeps no origin, which the rule refuses.
QHash<qint16, BlockOrigin> originsOf(const QStringList& names, const TerminalInteraction& ui) {
    QHash<qint16, BlockOrigin> origins;
    TerminalInteraction quiet = ui;
    quiet.mute();
    for (const QString& name : names) {
        BlockList blocks;
        quint16 hwid = 0;
        LoadReport report;
        if (!loadUserFiles({name}, blocks, hwid, quiet, report)) continue;
        for (const EEPBlock& b : std::as_const(blocks))
            origins.insert(b.BlockId, BlockOrigin{QDir::toNativeSeparators(name), hwid});
    }
    return origins;
}

// The --json summary of a run stopped before its first block.
RunSummary stoppedSummary(const CommandLine& cmd, const QVector<qint32>& listed) {
    RunResult stopped;
    stopped.end = Outcome::Stopped;
    RunSummary summary = summaryOf(cmd.command(), stopped);
    if (!listed.isEmpty()) summary.notDone = listedNotIn(listed, {});
    return summary;
}

// After the session started: a stop signal that came before the run would be lost on it. Ends
// the session, says so and prints `summary` for --json.
bool stoppedBeforeRun(TerminalInteraction& ui, PhoneConnection& phone, const CommandLine& cmd,
                      const RunSummary& summary) {
    if (!stopSignalled()) return false;
    phone.end();
    say(ui, QStringLiteral("Stopped before anything was done to the phone."));
    if (jsonWanted(cmd)) printJson(summaryJson(summary));
    return true;
}

// A delete from its read of the listed blocks to its end.
struct DeleteRun {
    TerminalInteraction& ui;
    PhoneConnection& phone;
    const QVector<qint32>& numbers;
    bool json;
    RunSummary summary;

    // After the session ended without deleting: says so and prints the --json summary as
    // cancelled.
    int refuse(const QString& text) {
        say(ui, text);
        summary.result = runEndName(Outcome::Cancelled);
        if (json) printJson(summaryJson(summary));
        return ExitFailed;
    }
};

// Whether the delete may go on: every listed block the phone holds was read, and it holds some.
bool deleteMayGoOn(const RunResult& loaded, const BlockList& PhoneBlocks) {
    return loaded.end == Outcome::Done && loaded.skipped.isEmpty() && !PhoneBlocks.isEmpty();
}

// Ends a delete that may not go on (deleteMayGoOn), saying why; returns the exit code.
int refuseDelete(DeleteRun& run, const RunResult& loaded) {
    if (loaded.end != Outcome::Done || !loaded.skipped.isEmpty()) {
        run.phone.end();
        printSummary(run.ui,
                     RunResult{loaded.end, 0, loaded.skipped, loaded.notFound, loaded.retried,
                               loaded.resyncs, loaded.verified, {}},
                     "deleted");
        const int code = runExit(run.ui, loaded, "could not be read");
        say(run.ui, QStringLiteral("Nothing was deleted."));
        if (loaded.end == Outcome::Done) run.summary.result = runEndName(Outcome::Cancelled);
        if (run.json) printJson(summaryJson(run.summary));
        return code == ExitOk ? ExitFailed : code;
    }
    run.phone.end();
    printSummary(run.ui, loaded, "deleted");
    return run.refuse(QStringLiteral("None of the blocks is on the phone; nothing was deleted."));
}

// Deletes the blocks read and prints how it went; returns the exit code.
int deleteRead(DeleteRun& run, PhoneTransfer& transfer, BlockList& PhoneBlocks,
               const RunResult& loaded) {
    QVector<qint16> deleted;
    const RunResult r =
        transfer.deleteDirectly(PhoneBlocks, allRows(PhoneBlocks),
                                [&deleted](const QVector<qint16>& ids) { deleted = ids; });
    run.phone.end();
    RunResult total = r;
    total.retried += loaded.retried;
    total.resyncs += loaded.resyncs;
    total.notFound += loaded.notFound;
    printSummary(run.ui, total, "deleted");
    // The run deletes in list order: what the phone confirmed is the first r.done blocks.
    QSet<qint32> gone;
    for (int i = 0; i < r.done && i < PhoneBlocks.size(); ++i)
        gone.insert(PhoneBlocks.at(i).BlockId);
    RunSummary& summary = run.summary;
    summary.result = runEndName(r.end);
    summary.done = r.done;
    summary.skipped += r.skippedCount();
    summary.retried = total.retried;
    summary.resynchronised = total.resyncs;
    summary.notDone = listedNotIn(run.numbers, gone);
    if (run.json) printJson(summaryJson(summary));
    if (r.end == Outcome::Cancelled) {
        say(run.ui, QStringLiteral("Nothing was deleted (confirm with --yes)."));
        return ExitFailed;
    }
    const int code = runExit(run.ui, r, "were not deleted");
    if (r.end == Outcome::Done) {
        if (!run.json)
            std::printf("%s\n",
                        qPrintable(QStringLiteral("Deleted %1 block(s).").arg(deleted.size())));
        std::fflush(stdout);
        return loaded.notFound > 0 ? ExitFailed : code;
    }
    return code;
}

} // namespace

int runRead(const CommandLine& cmd) {
    const QString out = cmd.value(QStringLiteral("out")).trimmed();
    if (out.isEmpty()) return cmd.usageError(QStringLiteral("--out FILE is required"));
    if (formatOfName(out) == FileFormat::Unknown || formatOfName(out) == FileFormat::Map)
        return cmd.usageError(QStringLiteral("--out must end in .eep, .bin or .txt"));
    const bool custom = cmd.isSet(QStringLiteral("blocks"));
    const QString list = cmd.value(QStringLiteral("blocks"));
    QVector<qint32> numbers;
    if (custom) {
        const Result<QVector<qint32>> listed = checkBlockList(list);
        if (!listed) return cmd.usageError(listed.status());
        numbers = listed.value();
    }
    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    if (const Status free = cmd.checkOutput(out); !free) return cmd.failure(free);
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd); code != ExitOk) return code;
    if (stoppedBeforeRun(ui, phone, cmd, stoppedSummary(cmd, numbers))) return ExitFailed;

    PhoneTransfer transfer(phone.session());
    const StopOnInterrupt interrupt(transfer.stopRequest());
    transfer.setVerify(cmd.isSet(QStringLiteral("verify")));
    Dump read;
    BlockList& PhoneBlocks = read.blocks;
    const RunResult r =
        custom ? transfer.loadCustom(PhoneBlocks, list) : transfer.loadAll(PhoneBlocks);
    printSummary(ui, r, "read");
    const int code = runExit(ui, r, "could not be read and are missing from the file");
    const bool json = jsonWanted(cmd);
    RunSummary summary = summaryOf(QStringLiteral("read"), r);
    if (custom) summary.notDone = listedNotIn(numbers, idsOf(PhoneBlocks));
    read.hwid = phone.session().identity.PhoneHWid;
    phone.end();
    if (r.end != Outcome::Done) {
        if (json) printJson(summaryJson(summary));
        return code;
    }
    return saveRead(ui, out, read, summary, json, code, cmd.isSet(QStringLiteral("force")));
}

int runWrite(const CommandLine& cmd) {
    const bool all = cmd.isSet(QStringLiteral("all"));
    const bool some = cmd.isSet(QStringLiteral("blocks"));
    if (all == some) return cmd.usageError(QStringLiteral("give either --all or --blocks LIST"));
    if (cmd.positional().isEmpty())
        return cmd.usageError(QStringLiteral("name at least one file to write"));
    QVector<qint32> numbers;
    if (some) {
        const Result<QVector<qint32>> listed = strictBlockList(cmd.value(QStringLiteral("blocks")));
        if (!listed) return cmd.usageError(listed.status());
        numbers = listed.value();
    }
    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    Dump ws;
    if (const Status loaded = loadForWrite(ui, cmd, numbers, ws); !loaded) {
        say(ui, loaded.message());
        return ExitFailed;
    }
    const QSet<qint32> wanted(numbers.cbegin(), numbers.cend());
    const BlockList& PhoneBlocks = ws.blocks;
    HWidRule hwidRule{0, originsOf(cmd.positional(), ui), cmd.isSet(QStringLiteral("any-hwid"))};

    if (some) ui.print(QStringLiteral("Blocks to write: %1").arg(blockNamesText(numbers)));
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd); code != ExitOk) return code;
    if (stoppedBeforeRun(ui, phone, cmd, stoppedSummary(cmd, {}))) return ExitFailed;
    // Another phone's calibration blocks can leave this one unusable: the operation asks, and
    // the answer here is No unless --any-hwid was given.
    hwidRule.phoneHWid = phone.session().identity.PhoneHWid;
    PhoneTransfer transfer(phone.session());
    const StopOnInterrupt interrupt(transfer.stopRequest());
    transfer.setVerify(cmd.isSet(QStringLiteral("verify")));
    const auto isWanted = [&](int row) {
        return row < PhoneBlocks.size() && wanted.contains(PhoneBlocks.at(row).BlockId);
    };
    int toWrite = 0; // for the pace
    for (int row = 0; row < PhoneBlocks.size(); ++row)
        toWrite += isWanted(row) ? 1 : 0;
    const RunResult r = all ? transfer.saveAll(PhoneBlocks, hwidRule)
                            : transfer.saveSelected(PhoneBlocks, isWanted, toWrite, hwidRule);
    phone.end();
    if (r.end == Outcome::Cancelled)
        say(ui, QStringLiteral("Nothing was written.%1")
                    .arg(hwidRule.anyHWid ? QString()
                                          : QStringLiteral(" Blocks of another or no known "
                                                           "hardware id are written only with "
                                                           "--any-hwid.")));
    printSummary(ui, r, "written");
    const int code = runExit(ui, r, "were skipped and not written");
    if (jsonWanted(cmd)) {
        printJson(summaryJson(summaryOf(QStringLiteral("write"), r)));
        return code;
    }
    if (r.end == Outcome::Done) {
        std::printf("%s\n", qPrintable(QStringLiteral("Wrote %1 block(s).").arg(r.done)));
        std::fflush(stdout);
    }
    return code;
}

int runDelete(const CommandLine& cmd) {
    if (!cmd.isSet(QStringLiteral("blocks")))
        return cmd.usageError(QStringLiteral("--blocks LIST is required"));
    const Result<QVector<qint32>> listed = strictBlockList(cmd.value(QStringLiteral("blocks")));
    if (!listed) return cmd.usageError(listed.status());
    const QVector<qint32>& numbers = listed.value();
    const QString backup = cmd.value(QStringLiteral("backup")).trimmed();
    if (!backup.isEmpty() &&
        (formatOfName(backup) == FileFormat::Unknown || formatOfName(backup) == FileFormat::Map))
        return cmd.usageError(QStringLiteral("--backup must end in .eep, .bin or .txt"));

    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    if (const Status free = cmd.checkOutput(backup); !free) return cmd.failure(free);
    ui.overwrite = RewriteAnswer::No; // a number listed twice is read once
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd); code != ExitOk) return code;
    if (stoppedBeforeRun(ui, phone, cmd, stoppedSummary(cmd, numbers))) return ExitFailed;
    PhoneTransfer transfer(phone.session());
    const StopOnInterrupt interrupt(transfer.stopRequest());
    Dump read;
    BlockList& PhoneBlocks = read.blocks;
    const RunResult loaded = transfer.loadCustom(PhoneBlocks, plainList(numbers));
    // Nothing deleted yet: every listed number is left.
    DeleteRun run{ui, phone, numbers, jsonWanted(cmd), summaryOf(QStringLiteral("delete"), loaded)};
    run.summary.done = 0;
    run.summary.notDone = listedNotIn(numbers, {});
    if (!deleteMayGoOn(loaded, PhoneBlocks)) return refuseDelete(run, loaded);
    if (!backup.isEmpty()) {
        read.hwid = phone.session().identity.PhoneHWid;
        if (const Status proven =
                saveProvenBackup(backup, read, cmd.isSet(QStringLiteral("force")));
            !proven) {
            ui.print(proven.message());
            phone.end();
            return run.refuse(QStringLiteral("Nothing was deleted."));
        }
        run.summary.file = backup;
    }
    RunSummary stopped = run.summary; // the backup, if any, is written
    stopped.result = runEndName(Outcome::Stopped);
    if (stoppedBeforeRun(ui, phone, cmd, stopped)) return ExitFailed;
    return deleteRead(run, transfer, PhoneBlocks, loaded);
}

} // namespace x45::cli
