// x45eep-cli list, convert and compare: the window's "Load", "Save" and "Compare" on files.

#include "cli_json.h"
#include "commands.h"
#include "loadcheck.h"
#include "options.h"

#include "blocks/bytediff.h"
#include "blocks/compare.h"
#include "blocks/descriptions.h"
#include "blocks/hexdump.h"
#include "blocks/rowtext.h"
#include "files/syspath.h"
#include "files/userfiles.h"
#include "transfer/parseblocklist.h"

#include <QSet>
#include <cstdio>

namespace x45::cli {

namespace {

void printLine(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

// The description table the command shows: --descriptions, or the eeprom.dsc found.
Status describe(const char* command, const CommandLine& cmd, Descriptions& table) {
    const bool named = cmd.isSet(QStringLiteral("descriptions"));
    const QString path = named ? cmd.value(QStringLiteral("descriptions")) : Descriptions::locate();
    if (path.isEmpty()) return Status::ok();
    const FileKind kind = fileState(path).kind;
    if (named && kind == FileKind::Missing)
        return commandFault(command, QStringLiteral("cannot find the description file \"%1\".")
                                         .arg(shownName(path)));
    // A pipe would be waited on for ever.
    if (kind == FileKind::Special)
        return commandFault(command, QStringLiteral("the description file \"%1\" is not a "
                                                    "regular file but a pipe, device or socket.")
                                         .arg(shownName(path)));
    if (const Status loaded = table.loadFile(path); !loaded)
        return commandFault(command, loaded.message());
    return Status::ok();
}

QString numbers(const QList<int>& list) {
    QStringList parts;
    for (const int n : list)
        parts << QString::number(n);
    return parts.join(QLatin1Char(' '));
}

// The blocks to save as a list of their own, all of it saved: one named block is saved alone
// (the window's "one selected row saves everything" would surprise here). No list named: all of
// them. A failure when a listed block is not there.
Result<Dump> chosenBlocks(const Dump& ws, const QVector<qint32>& wanted) {
    Dump chosen;
    chosen.hwid = ws.hwid;
    if (wanted.isEmpty()) {
        chosen.blocks = ws.blocks;
        return chosen;
    }
    const QSet<qint32> named(wanted.cbegin(), wanted.cend());
    QSet<qint32> found;
    for (const EEPBlock& block : std::as_const(ws.blocks))
        if (named.contains(block.BlockId)) {
            chosen.blocks.append(block);
            found.insert(block.BlockId);
        }
    for (const qint32 n : wanted)
        if (!found.contains(n))
            return commandFault(
                "convert",
                QStringLiteral("block %1 is not in the loaded files; nothing was written.").arg(n));
    return chosen;
}

// "V" when both sides agree, else "A / B".
template <class T> QString pair(T a, T b) {
    return a == b ? QString::number(a) : QStringLiteral("%1 / %2").arg(a).arg(b);
}

// The bytes of a range on one side, "(none)" where that side is shorter.
QString sideHex(const ByteStr& bytes, qsizetype from, qsizetype count) {
    const QString hex = hexdump::rangeHexText(bytes, from, count);
    return hex.isEmpty() ? QStringLiteral("(none)") : hex;
}

// The lines of "compare --bytes" for one block present in both files.
void printByteDiff(const EEPBlock& a, const EEPBlock& b) {
    printLine(
        QStringLiteral("Block %1: version %2, length %3")
            .arg(a.BlockId)
            .arg(pair<int>(a.BlockVer, b.BlockVer), pair<qsizetype>(a.Data.size(), b.Data.size())));
    const QVector<ByteRange> ranges = byteDiff(a.Data, b.Data);
    if (ranges.isEmpty()) printLine(QStringLiteral("  the bytes are equal"));
    for (const ByteRange& r : ranges) {
        const QString first = hexdump::offsetText(r.offset);
        const QString last = hexdump::offsetText(r.end() - 1);
        if (r.length <= hexdump::RowBytes) {
            printLine(QStringLiteral("  %1: %2 / %3")
                          .arg(r.length == 1 ? first : first + QLatin1Char('-') + last,
                               sideHex(a.Data, r.offset, r.length),
                               sideHex(b.Data, r.offset, r.length)));
            continue;
        }
        printLine(QStringLiteral("  %1-%2 (%3 bytes):").arg(first, last).arg(r.length));
        for (qsizetype at = r.offset; at < r.end(); at += hexdump::RowBytes) {
            const qsizetype n = qMin<qsizetype>(hexdump::RowBytes, r.end() - at);
            printLine(
                QStringLiteral("    %1: %2 / %3")
                    .arg(hexdump::offsetText(at), sideHex(a.Data, at, n), sideHex(b.Data, at, n)));
        }
    }
}

} // namespace

int runList(const CommandLine& cmd) {
    const QStringList files = cmd.positional();
    if (files.isEmpty()) return cmd.usageError(QStringLiteral("name at least one file"));
    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    Descriptions table;
    if (const Status described = describe("list", cmd, table); !described)
        return printFailure(ui, described);
    Dump ws;
    if (const Status loaded = loadFiles("list", files, ws, ui, LoadUse::Show); !loaded)
        return printFailure(ui, loaded);
    const bool check = cmd.isSet(QStringLiteral("check-hwid"));
    if (jsonWanted(cmd)) {
        printJson(listJson(ws.blocks, ws.hwid, [&](const EEPBlock& block) {
            return table.describe(block.BlockId, ws.hwid, check);
        }));
        return ExitOk;
    }
    for (const EEPBlock& block : std::as_const(ws.blocks)) {
        QString description = table.describe(block.BlockId, ws.hwid, check);
        // The columns are tab-separated: a tab inside a description must not start a column.
        description.replace(QLatin1Char('\t'), QLatin1Char(' '));
        printLine(rowTexts(block, description).join(QLatin1Char('\t')));
    }
    std::fflush(stdout);
    return ExitOk;
}

int runConvert(const CommandLine& cmd) {
    const QStringList files = cmd.positional();
    const QString out = cmd.value(QStringLiteral("out"));
    if (files.isEmpty()) return cmd.usageError(QStringLiteral("name at least one file to load"));
    if (out.isEmpty()) return cmd.usageError(QStringLiteral("--out FILE is required"));
    const FileFormat outFormat = formatOfName(out);
    if (outFormat != FileFormat::Eep && outFormat != FileFormat::Bin &&
        outFormat != FileFormat::Txt)
        return cmd.usageError(QStringLiteral("--out must end in .eep, .bin or .txt"));
    QVector<qint32> wanted;
    if (cmd.isSet(QStringLiteral("blocks"))) {
        const Result<QVector<qint32>> listed = parseBlockList(cmd.value(QStringLiteral("blocks")));
        if (!listed) return cmd.usageError(listed.status());
        if (listed->isEmpty()) return cmd.usageError(QStringLiteral("--blocks names no block"));
        wanted = listed.value();
    }
    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    Dump ws;
    if (const Status loaded = loadFiles("convert", files, ws, ui, loadUseOf(cmd)); !loaded)
        return printFailure(ui, loaded);
    const Result<Dump> chosen = chosenBlocks(ws, wanted);
    if (!chosen) return printFailure(ui, chosen.status());
    // An empty output is never what was asked for, and could take the place of a real dump.
    if (chosen->blocks.isEmpty())
        return printFailure(ui, commandFault("convert", QStringLiteral("the loaded files hold no "
                                                                       "block; nothing was "
                                                                       "written.")));
    // What is written is known now: only those files are checked against the inputs.
    const auto saved =
        saveOutput("convert", out, chosen.value(), cmd.isSet(QStringLiteral("force")), files);
    if (saved) return ExitOk;
    ui.print(saved.message());
    return saved.is(ErrorKind::BadInput) ? ExitUsage : ExitFailed;
}

int runCompare(const CommandLine& cmd) {
    const QStringList files = cmd.positional();
    if (files.size() != 2) return cmd.usageError(QStringLiteral("name exactly two files"));
    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    // An input that does not load fails as any command does (1); the reason is on stderr.
    Dump user, phone;
    for (auto [name, dump] : {std::pair{files[0], &user}, std::pair{files[1], &phone}})
        if (const Status loaded = loadFiles("compare", {name}, *dump, ui, loadUseOf(cmd)); !loaded)
            return printFailure(ui, loaded);
    const CompareResult r = compareBlocks(user.blocks, {}, phone.blocks, {});
    const bool bytes = cmd.isSet(QStringLiteral("bytes"));
    if (jsonWanted(cmd)) {
        QJsonObject out = compareJson(r);
        if (bytes)
            out.insert(QStringLiteral("bytes"),
                       byteDiffJson(user.blocks, phone.blocks, r.different));
        printJson(out);
        return r.identical() ? ExitOk : ExitFailed;
    }
    if (r.identical()) {
        printLine(QStringLiteral("Lists are identical!"));
        std::fflush(stdout);
        return ExitOk;
    }
    printLine(QStringLiteral("User's blocks missing in Phone's list: ") + numbers(r.phoneMissing));
    printLine(QStringLiteral("Phone's blocks missing in User's list: ") + numbers(r.userMissing));
    printLine(QStringLiteral("Different blocks: ") + numbers(r.different));
    if (bytes)
        for (const int id : std::as_const(r.different))
            printByteDiff(user.blocks.at(findBlock(user.blocks, id)),
                          phone.blocks.at(findBlock(phone.blocks, id)));
    std::fflush(stdout);
    return ExitFailed;
}

int runShow(const CommandLine& cmd) {
    const QStringList files = cmd.positional();
    if (files.isEmpty()) return cmd.usageError(QStringLiteral("name at least one file"));
    if (!cmd.isSet(QStringLiteral("block")))
        return cmd.usageError(QStringLiteral("--block N is required"));
    const Result<QVector<qint32>> wanted = parseBlockListStrict(cmd.value(QStringLiteral("block")));
    if (!wanted) return cmd.usageError(QStringLiteral("--block: ") + wanted.message());
    if (wanted->size() != 1) return cmd.usageError(QStringLiteral("--block takes one block number"));
    TerminalInteraction ui;
    if (const Status applied = cmd.applyTo(ui); !applied) return cmd.usageError(applied);
    // The block asked for is also the answer for a data file that has no id file.
    ui.blockNumber = cmd.value(QStringLiteral("block"));
    ui.blockVersion = cmd.value(QStringLiteral("version"));
    Descriptions table;
    if (const Status described = describe("show", cmd, table); !described)
        return printFailure(ui, described);
    Dump ws;
    if (const Status loaded = loadFiles("show", files, ws, ui, LoadUse::Show); !loaded)
        return printFailure(ui, loaded);
    const qsizetype at = findBlock(ws.blocks, wanted->first());
    if (at < 0)
        return printFailure(ui, commandFault("show", QStringLiteral("block %1 is not in the "
                                                                    "loaded files.")
                                                         .arg(wanted->first())));
    const EEPBlock& block = ws.blocks.at(at);
    const QString description =
        table.describe(block.BlockId, ws.hwid, cmd.isSet(QStringLiteral("check-hwid")));
    printLine(QStringLiteral("Block: %1").arg(block.BlockId));
    printLine(QStringLiteral("Type: ") + blockType(block.BlockId));
    printLine(QStringLiteral("Version: %1").arg(block.BlockVer));
    printLine(QStringLiteral("Length: %1").arg(block.Data.size()));
    printLine(QStringLiteral("Description: ") + description);
    for (qsizetype row = 0; row < hexdump::rowCount(block.Data.size()); ++row)
        printLine(hexdump::dumpLine(block.Data, row));
    std::fflush(stdout);
    return ExitOk;
}

} // namespace x45::cli
