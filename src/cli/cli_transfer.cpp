// x45eep-cli read, write and delete: the phone-side operations of the window over the terminal.

#include "cli_json.h"
#include "commands.h"
#include "loadcheck.h"
#include "options.h"

#include "files/userfiles.h"
#include "transfer/parseblocklist.h"
#include "transfer/transfer.h"

#include <QSet>
#include <cstdio>

namespace x45::cli {

namespace {

const char* const ExitEpilog =
    R"(Exit status: 0 done; 1 failed, aborted, stopped, or some block was skipped or not
found (the reasons are on stderr); 2 usage error. Ctrl-C stops after the current block.)";

void say(TerminalInteraction& ui, const QString& text) {
    // Through the interaction, so a progress line on the terminal is ended first.
    ui.message(text, AppTitle, Buttons::Ok, Icon::None, Button::Ok);
}

// Parses --blocks before anything touches the phone. Returns an exit code on a bad list.
std::optional<int> checkBlockList(const CommandLine& cmd, const QString& text,
                                  QVector<qint32>& numbers) {
    if (text.trimmed().isEmpty())
        return cmd.usageError(QStringLiteral("--blocks needs a list such as 1,5;7-9"));
    if (const Status st = ParseBlockList(text.trimmed(), numbers); !st)
        return cmd.usageError(st.message());
    if (numbers.isEmpty())
        return cmd.usageError(QStringLiteral("--blocks \"%1\" names no block").arg(text));
    return std::nullopt;
}

// What a run that did not go through completely leaves to say; ExitOk when it was clean.
int runExit(TerminalInteraction& ui, const RunResult& r, const char* skippedWhat) {
    switch (r.end) {
    case RunEnd::Completed:
        break;
    case RunEnd::Stopped:
        say(ui, QStringLiteral("Stopped."));
        return ExitFailed;
    case RunEnd::Cancelled:
    case RunEnd::PortLost:
    case RunEnd::Failed:
    case RunEnd::Unverified:
        return ExitFailed; // the reason has been shown
    }
    if (r.skipped > 0) {
        say(ui, QStringLiteral("%1 block(s) %2.").arg(r.skipped).arg(QLatin1String(skippedWhat)));
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
                .arg(r.skipped + r.notFound)
                .arg(r.verified));
}

QCommandLineOption verifyOption(const char* what) {
    return {QStringLiteral("verify"), QString::fromLatin1(what)};
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

// Every row: "Save" writes the selected rows of single-block formats, and all of an .eep.
QVector<int> allRows(const BlockList& blocks) {
    QVector<int> rows;
    for (int i = 0; i < blocks.size(); ++i)
        rows.append(i);
    return rows;
}

} // namespace

int runRead(const QStringList& args) {
    CommandLine cmd(QStringLiteral("read"), QStringLiteral("--port P [--blocks LIST] --out FILE"),
                    QStringLiteral("Reads every block of the phone (\"Load all\"), or the blocks "
                                   "of LIST (\"Load custom...\"), and saves them to FILE as "
                                   "\"Save\" does (.eep: all blocks with the phone's hardware "
                                   "id; .bin/.txt: one file per block with its id file). FILE "
                                   "is written only when the read was not stopped, and replaced "
                                   "only once the new one is complete."));
    cmd.addPortOptions();
    cmd.addErrorOptions();
    cmd.addOverwriteOption();
    cmd.addOption({QStringLiteral("blocks"),
                   QStringLiteral("Only these blocks, e.g. \"1,5;7-9 5000-5010\"."),
                   QStringLiteral("LIST")});
    cmd.addOption({QStringLiteral("out"), QStringLiteral("File to save the blocks in."),
                   QStringLiteral("FILE")});
    cmd.addOption(verifyOption("Read every block twice and keep it only when two reads agree."));
    addJsonOption(cmd);
    cmd.setEpilog(QString::fromLatin1(ExitEpilog));
    if (const auto done = cmd.parse(args)) return *done;
    if (!cmd.positional().isEmpty())
        return cmd.usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(cmd.positional().first()));
    const QString out = cmd.value(QStringLiteral("out")).trimmed();
    if (out.isEmpty()) return cmd.usageError(QStringLiteral("--out FILE is required"));
    if (formatOfName(out) == FileFormat::Unknown || formatOfName(out) == FileFormat::Map)
        return cmd.usageError(QStringLiteral("--out must end in .eep, .bin or .txt"));
    const bool custom = cmd.isSet(QStringLiteral("blocks"));
    const QString list = cmd.value(QStringLiteral("blocks"));
    QVector<qint32> numbers;
    if (custom)
        if (const auto bad = checkBlockList(cmd, list, numbers)) return *bad;

    TerminalInteraction ui;
    if (const auto bad = cmd.applyTo(ui)) return *bad;
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd.port(), cmd.waitSeconds()); code != ExitOk) return code;

    PhoneTransfer transfer(phone.session());
    const StopOnInterrupt interrupt(transfer.stopRequest());
    transfer.setVerify(cmd.isSet(QStringLiteral("verify")));
    BlockList PhoneBlocks;
    const RunResult r =
        custom ? transfer.LoadCustom(PhoneBlocks, list) : transfer.LoadAll(PhoneBlocks);
    printSummary(ui, r, "read");
    int code = runExit(ui, r, "could not be read and are missing from the file");
    const bool json = jsonWanted(cmd);
    RunSummary summary = summaryOf(QStringLiteral("read"), r);
    if (custom) summary.notDone = listedNotIn(numbers, idsOf(PhoneBlocks));
    if (r.end != RunEnd::Completed) {
        phone.end();
        if (json) printJson(summaryJson(summary));
        return code;
    }
    const quint16 hwid = phone.session().identity.PhoneHWid;
    phone.end();
    if (PhoneBlocks.isEmpty()) {
        say(ui, QStringLiteral("No block was read; %1 was not written.").arg(out));
        if (json) printJson(summaryJson(summary));
        return ExitFailed;
    }
    if (const Status saved = SaveUserFiles(out, PhoneBlocks, hwid, allRows(PhoneBlocks), ui);
        !saved) {
        say(ui, saved.message());
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
        qPrintable(QStringLiteral("Read %1 block(s) into %2.").arg(PhoneBlocks.size()).arg(out)));
    std::fflush(stdout);
    return code;
}

int runWrite(const QStringList& args) {
    CommandLine cmd(QStringLiteral("write"),
                    QStringLiteral("--port P (--all | --blocks LIST) FILE..."),
                    QStringLiteral("Loads FILE... as \"Load\" does and writes the blocks to the "
                                   "phone: --all as \"Save all\" (the EEfull area is compacted "
                                   "and the EElite area ERASED first, then every block is "
                                   "written), --blocks as \"Save selected\" (only the listed "
                                   "blocks, nothing erased). Nothing is sent when a file cannot "
                                   "be loaded or a listed block is in none of the files."));
    cmd.addPortOptions();
    cmd.addErrorOptions();
    cmd.addFileQuestionOptions();
    addLenientOption(cmd);
    cmd.addOption({QStringLiteral("all"), QStringLiteral("Write every block (\"Save all\").")});
    cmd.addOption({QStringLiteral("blocks"),
                   QStringLiteral("Write only these blocks (\"Save selected\")."),
                   QStringLiteral("LIST")});
    cmd.addOption({QStringLiteral("any-hwid"),
                   QStringLiteral("Write even when the files belong to another hardware id than "
                                  "the phone's.")});
    cmd.addOption(verifyOption("Read every written block back and compare it with what was "
                               "written; a difference fails the run."));
    addJsonOption(cmd);
    cmd.addPositional(QStringLiteral("FILE"), QStringLiteral(".eep, .bin, .txt or .map files."),
                      QStringLiteral("FILE..."));
    cmd.setEpilog(QString::fromLatin1(ExitEpilog));
    if (const auto done = cmd.parse(args)) return *done;
    const bool all = cmd.isSet(QStringLiteral("all"));
    const bool some = cmd.isSet(QStringLiteral("blocks"));
    if (all == some) return cmd.usageError(QStringLiteral("give either --all or --blocks LIST"));
    const QStringList files = cmd.positional();
    if (files.isEmpty()) return cmd.usageError(QStringLiteral("name at least one file to write"));
    QVector<qint32> numbers;
    if (some)
        if (const auto bad = strictBlockList(cmd, cmd.value(QStringLiteral("blocks")), numbers))
            return *bad;

    TerminalInteraction ui;
    if (const auto bad = cmd.applyTo(ui)) return *bad;
    Dump ws;
    if (loadFiles("write", files, ws, ui, loadUseOf(cmd)) != ExitOk) {
        say(ui, QStringLiteral("The files could not all be loaded; nothing was written."));
        return ExitFailed;
    }
    const BlockList PhoneBlocks = ws.blocks;
    if (PhoneBlocks.isEmpty()) {
        say(ui, QStringLiteral("The files hold no block; nothing was written."));
        return ExitFailed;
    }
    QSet<qint32> wanted;
    for (const qint32 n : numbers)
        wanted.insert(n);
    for (const qint32 n : std::as_const(wanted))
        if (findBlock(PhoneBlocks, n) < 0) {
            say(ui,
                QStringLiteral("Block %1 is in none of the files; nothing was written.").arg(n));
            return ExitFailed;
        }

    if (some) ui.print(QStringLiteral("Blocks to write: %1").arg(blockNamesText(numbers)));
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd.port(), cmd.waitSeconds()); code != ExitOk) return code;
    // Another phone's calibration blocks can leave this one unusable: refuse unless asked to.
    const quint16 phoneHWid = phone.session().identity.PhoneHWid;
    if (ws.hwid != 0 && ws.hwid != phoneHWid && !cmd.isSet(QStringLiteral("any-hwid"))) {
        phone.end();
        say(ui, QStringLiteral("The files belong to hardware id %1, the phone has %2; nothing was "
                               "written. Give --any-hwid to write them all the same.")
                    .arg(ws.hwid)
                    .arg(phoneHWid));
        return ExitFailed;
    }
    PhoneTransfer transfer(phone.session());
    const StopOnInterrupt interrupt(transfer.stopRequest());
    transfer.setVerify(cmd.isSet(QStringLiteral("verify")));
    const RunResult r =
        all ? transfer.SaveAll(PhoneBlocks) : transfer.SaveSelected(PhoneBlocks, [&](int row) {
            return row < PhoneBlocks.size() && wanted.contains(PhoneBlocks.at(row).BlockId);
        });
    phone.end();
    printSummary(ui, r, "written");
    const int code = runExit(ui, r, "were skipped and not written");
    if (jsonWanted(cmd)) {
        printJson(summaryJson(summaryOf(QStringLiteral("write"), r)));
        return code;
    }
    if (r.end == RunEnd::Completed) {
        std::printf("%s\n", qPrintable(QStringLiteral("Wrote %1 block(s).").arg(r.done)));
        std::fflush(stdout);
    }
    return code;
}

int runDelete(const QStringList& args) {
    CommandLine cmd(QStringLiteral("delete"), QStringLiteral("--port P --blocks LIST [--yes]"),
                    QStringLiteral("Reads the blocks of LIST from the phone (\"Load custom...\") "
                                   "and deletes them there (\"Delete directly\"). Without --yes "
                                   "the confirmation is answered No and nothing is deleted. "
                                   "--backup FILE saves the blocks read before any is deleted."));
    cmd.addPortOptions();
    cmd.addErrorOptions();
    cmd.addConfirmOption();
    cmd.addOption(
        {QStringLiteral("blocks"), QStringLiteral("Blocks to delete."), QStringLiteral("LIST")});
    cmd.addOption({QStringLiteral("backup"),
                   QStringLiteral("Save the blocks to FILE (.eep, .bin, .txt) before deleting."),
                   QStringLiteral("FILE")});
    addJsonOption(cmd);
    cmd.setEpilog(QString::fromLatin1(ExitEpilog));
    if (const auto done = cmd.parse(args)) return *done;
    if (!cmd.positional().isEmpty())
        return cmd.usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(cmd.positional().first()));
    if (!cmd.isSet(QStringLiteral("blocks")))
        return cmd.usageError(QStringLiteral("--blocks LIST is required"));
    const QString list = cmd.value(QStringLiteral("blocks"));
    QVector<qint32> numbers;
    if (const auto bad = strictBlockList(cmd, list, numbers)) return *bad;
    const QString backup = cmd.value(QStringLiteral("backup")).trimmed();
    if (!backup.isEmpty() &&
        (formatOfName(backup) == FileFormat::Unknown || formatOfName(backup) == FileFormat::Map))
        return cmd.usageError(QStringLiteral("--backup must end in .eep, .bin or .txt"));

    TerminalInteraction ui;
    if (const auto bad = cmd.applyTo(ui)) return *bad;
    ui.overwrite = RewriteAnswer::No; // a number listed twice is read once
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd.port(), cmd.waitSeconds()); code != ExitOk) return code;
    PhoneTransfer transfer(phone.session());
    const StopOnInterrupt interrupt(transfer.stopRequest());
    BlockList PhoneBlocks;
    const RunResult loaded = transfer.LoadCustom(PhoneBlocks, plainList(numbers));
    const bool json = jsonWanted(cmd);
    // Nothing deleted: every listed number is left.
    RunSummary summary = summaryOf(QStringLiteral("delete"), loaded);
    summary.done = 0;
    summary.notDone = listedNotIn(numbers, {});
    if (loaded.end != RunEnd::Completed || loaded.skipped > 0) {
        phone.end();
        printSummary(ui,
                     RunResult{loaded.end, 0, loaded.skipped, loaded.notFound, loaded.retried,
                               loaded.resyncs, loaded.verified, {}},
                     "deleted");
        const int code = runExit(ui, loaded, "could not be read");
        say(ui, QStringLiteral("Nothing was deleted."));
        if (loaded.end == RunEnd::Completed) summary.result = runEndName(RunEnd::Cancelled);
        if (json) printJson(summaryJson(summary));
        return code == ExitOk ? ExitFailed : code;
    }
    if (PhoneBlocks.isEmpty()) {
        phone.end();
        printSummary(ui, loaded, "deleted");
        say(ui, QStringLiteral("None of the blocks is on the phone; nothing was deleted."));
        summary.result = runEndName(RunEnd::Cancelled);
        if (json) printJson(summaryJson(summary));
        return ExitFailed;
    }
    if (!backup.isEmpty()) {
        if (saveProvenBackup(ui, backup, {PhoneBlocks, phone.session().identity.PhoneHWid}) !=
            ExitOk) {
            phone.end();
            say(ui, QStringLiteral("Nothing was deleted."));
            summary.result = runEndName(RunEnd::Cancelled);
            if (json) printJson(summaryJson(summary));
            return ExitFailed;
        }
        summary.file = backup;
    }
    QVector<qint16> deleted;
    const RunResult r =
        transfer.DeleteDirectly(PhoneBlocks, allRows(PhoneBlocks),
                                [&deleted](const QVector<qint16>& ids) { deleted = ids; });
    phone.end();
    RunResult total = r;
    total.retried += loaded.retried;
    total.resyncs += loaded.resyncs;
    total.notFound += loaded.notFound;
    printSummary(ui, total, "deleted");
    QSet<qint32> gone;
    for (const qint16 id : std::as_const(deleted))
        gone.insert(id);
    summary.result = runEndName(r.end);
    summary.done = int(deleted.size());
    summary.skipped += r.skipped;
    summary.retried = total.retried;
    summary.resynchronised = total.resyncs;
    summary.notDone = listedNotIn(numbers, gone);
    if (json) printJson(summaryJson(summary));
    if (r.end == RunEnd::Cancelled) {
        say(ui, QStringLiteral("Nothing was deleted (confirm with --yes)."));
        return ExitFailed;
    }
    const int code = runExit(ui, r, "were not deleted");
    if (r.end == RunEnd::Completed) {
        if (!json)
            std::printf("%s\n",
                        qPrintable(QStringLiteral("Deleted %1 block(s).").arg(deleted.size())));
        std::fflush(stdout);
        return loaded.notFound > 0 ? ExitFailed : code;
    }
    return code;
}

} // namespace x45::cli
