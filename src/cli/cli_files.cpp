// x45eep-cli list, convert and compare: the window's "Load", "Save" and "Compare" on files.

#include "cli_json.h"
#include "commands.h"
#include "loadcheck.h"
#include "options.h"

#include "blocks/compare.h"
#include "blocks/descriptions.h"
#include "blocks/rowtext.h"
#include "files/userfiles.h"
#include "transfer/parseblocklist.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <cstdio>

namespace x45::cli {

namespace {

const char* const LoadEpilog =
    R"(Files are read as the window's "Load" reads them, chosen by the last three characters
of the name: .eep EEPROM files, .bin/.txt single-block files (with their .bid/.tid id
files), .map InitMap mapping files. Several files merge in order: a block number that is
already there takes the later file's contents. The result is sorted by block number.
A file of no other extension is named and refused; no input file is ever deleted.)";

void addDescriptionOptions(CommandLine& cmd) {
    cmd.addOption({QStringLiteral("descriptions"),
                   QStringLiteral("Description file to use instead of the eeprom.dsc found in "
                                  "the current folder, beside the program or in the data "
                                  "folders."),
                   QStringLiteral("FILE")});
    cmd.addOption({QStringLiteral("check-hwid"),
                   QStringLiteral("Show only descriptions whose hardware id equals the list's.")});
}

void printLine(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

void printError(const char* command, const QString& text) {
    std::fprintf(stderr, "x45eep-cli %s: %s\n", command, text.toLocal8Bit().constData());
}

int describe(const char* command, const CommandLine& cmd, Descriptions& table) {
    const QString path = cmd.isSet(QStringLiteral("descriptions"))
                             ? cmd.value(QStringLiteral("descriptions"))
                             : Descriptions::locate();
    if (path.isEmpty()) return ExitOk;
    if (cmd.isSet(QStringLiteral("descriptions")) && !QFileInfo::exists(path)) {
        printError(command, QStringLiteral("cannot find the description file \"%1\".")
                                .arg(QDir::toNativeSeparators(path)));
        return ExitFailed;
    }
    if (const Status s = table.loadFile(path); !s) {
        printError(command, s.message());
        return ExitFailed;
    }
    return ExitOk;
}

QString numbers(const QList<int>& list) {
    QStringList parts;
    for (const int n : list)
        parts << QString::number(n);
    return parts.join(QLatin1Char(' '));
}

} // namespace

int runList(const QStringList& args) {
    CommandLine cmd(QStringLiteral("list"), QStringLiteral("FILE..."),
                    QStringLiteral("Prints the blocks of the files, one line per block in list "
                                   "order, the columns ID, Type, Ver., Length and Description "
                                   "separated by tabs, as the window's lists show them."));
    addDescriptionOptions(cmd);
    cmd.addFileQuestionOptions();
    addJsonOption(cmd);
    cmd.addPositional(QStringLiteral("FILE"), QStringLiteral("Files to load."),
                      QStringLiteral("FILE..."));
    cmd.setEpilog(QString::fromLatin1(LoadEpilog) +
                  QStringLiteral("\n\nExit status: 0 listed; 1 a file could not be loaded (the "
                                 "reason is on stderr); 2 usage error."));
    if (const auto done = cmd.parse(args)) return *done;
    const QStringList files = cmd.positional();
    if (files.isEmpty()) return cmd.usageError(QStringLiteral("name at least one file"));
    TerminalInteraction ui;
    if (const auto bad = cmd.applyTo(ui)) return *bad;
    Descriptions table;
    if (const int code = describe("list", cmd, table); code != ExitOk) return code;

    Dump ws;
    if (const int code = loadFiles("list", files, ws, ui, LoadUse::Show); code != ExitOk)
        return code;
    const bool check = cmd.isSet(QStringLiteral("check-hwid"));
    if (jsonWanted(cmd)) {
        printJson(listJson(ws.blocks, ws.hwid, [&](const EEPBlock& block) {
            return table.DescribeBlock(block.BlockId, ws.hwid, check);
        }));
        return ExitOk;
    }
    for (const EEPBlock& block : std::as_const(ws.blocks)) {
        QString description = table.DescribeBlock(block.BlockId, ws.hwid, check);
        // The columns are tab-separated: a tab inside a description must not start a column.
        description.replace(QLatin1Char('\t'), QLatin1Char(' '));
        printLine(rowTexts(block, description).join(QLatin1Char('\t')));
    }
    std::fflush(stdout);
    return ExitOk;
}

int runConvert(const QStringList& args) {
    CommandLine cmd(QStringLiteral("convert"), QStringLiteral("FILE... --out FILE [--blocks LIST]"),
                    QStringLiteral("Loads the files and saves the resulting list under --out, in "
                                   "the format its name ends in: .eep one EEPROM file; .bin or "
                                   ".txt one single-block file per block (several are named "
                                   "NAME_NUMBER.bin)."));
    cmd.addOption(
        {QStringLiteral("out"), QStringLiteral("The file to write."), QStringLiteral("FILE")});
    cmd.addOption({QStringLiteral("blocks"),
                   QStringLiteral("Save only these blocks: numbers and ranges such as "
                                  "\"20, 5077-5080\"."),
                   QStringLiteral("LIST")});
    cmd.addFileQuestionOptions();
    addLenientOption(cmd);
    cmd.addPositional(QStringLiteral("FILE"), QStringLiteral("Files to load."),
                      QStringLiteral("FILE..."));
    cmd.setEpilog(QString::fromLatin1(LoadEpilog) +
                  QStringLiteral("\nAn existing output file is replaced only once the new one is "
                                 "complete.\n\nExit status: 0 saved; 1 a file could not be loaded "
                                 "(or holds lines that do not read, without --lenient) or saved, or a listed block is not there (the reason is on "
                                 "stderr; nothing was written); 2 usage error."));
    if (const auto done = cmd.parse(args)) return *done;
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
        if (const Status s = ParseBlockList(cmd.value(QStringLiteral("blocks")), wanted); !s)
            return cmd.usageError(s.message());
        if (wanted.isEmpty()) return cmd.usageError(QStringLiteral("--blocks names no block"));
    }
    TerminalInteraction ui;
    if (const auto bad = cmd.applyTo(ui)) return *bad;

    Dump ws;
    if (const int code = loadFiles("convert", files, ws, ui, loadUseOf(cmd)); code != ExitOk)
        return code;

    // The blocks to save become a list of their own, all of it selected: one named block is
    // saved alone (the window's "one selected row saves everything" would surprise here).
    Dump chosen;
    chosen.hwid = ws.hwid;
    if (wanted.isEmpty()) {
        chosen.blocks = ws.blocks;
    } else {
        const QSet<qint32> named(wanted.cbegin(), wanted.cend());
        QSet<qint32> found;
        for (const EEPBlock& block : std::as_const(ws.blocks))
            if (named.contains(block.BlockId)) {
                chosen.blocks.append(block);
                found.insert(block.BlockId);
            }
        for (const qint32 n : wanted)
            if (!found.contains(n)) {
                printError("convert", QStringLiteral("block %1 is not in the loaded files; "
                                                     "nothing was written.")
                                          .arg(n));
                return ExitFailed;
            }
    }
    if (chosen.blocks.isEmpty() && outFormat != FileFormat::Eep) {
        printError("convert", QStringLiteral("the loaded files hold no block; nothing was "
                                             "written."));
        return ExitFailed;
    }
    QVector<int> all(chosen.blocks.size());
    for (int i = 0; i < all.size(); ++i)
        all[i] = i;
    if (const Status saved = SaveUserFiles(out, chosen.blocks, chosen.hwid, all, ui); !saved) {
        ui.print(saved.message());
        return ExitFailed;
    }
    return ExitOk;
}

int runCompare(const QStringList& args) {
    CommandLine cmd(QStringLiteral("compare"), QStringLiteral("FILE_A FILE_B"),
                    QStringLiteral("Compares FILE_A (as the User's list) with FILE_B (as the "
                                   "Phone's list): blocks missing on either side and blocks "
                                   "whose contents or version differ."));
    cmd.addFileQuestionOptions();
    addLenientOption(cmd);
    addJsonOption(cmd);
    cmd.addPositional(QStringLiteral("FILE_A"), QStringLiteral("The User's side."));
    cmd.addPositional(QStringLiteral("FILE_B"), QStringLiteral("The Phone's side."));
    cmd.setEpilog(QStringLiteral(
        "Output: \"Lists are identical!\", or three lines:\n"
        "  User's blocks missing in Phone's list: NUMBERS\n"
        "  Phone's blocks missing in User's list: NUMBERS\n"
        "  Different blocks: NUMBERS\n"
        "with the block numbers separated by blanks in list order.\n\n"
        "Exit status: 0 identical; 1 different, or a file could not be loaded or holds lines "
        "that do not read without --lenient (the reason is on stderr); 2 usage error."));
    if (const auto done = cmd.parse(args)) return *done;
    const QStringList files = cmd.positional();
    if (files.size() != 2) return cmd.usageError(QStringLiteral("name exactly two files"));
    TerminalInteraction ui;
    if (const auto bad = cmd.applyTo(ui)) return *bad;

    // An input that does not load fails as any command does (1); the reason is on stderr.
    Dump user, phone;
    if (const int code = loadFiles("compare", {files[0]}, user, ui, loadUseOf(cmd)); code != ExitOk)
        return code;
    if (const int code = loadFiles("compare", {files[1]}, phone, ui, loadUseOf(cmd));
        code != ExitOk)
        return code;
    const CompareResult r = CompareBlocks(user.blocks, {}, phone.blocks, {});
    if (jsonWanted(cmd)) {
        printJson(compareJson(r));
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
    std::fflush(stdout);
    return ExitFailed;
}

} // namespace x45::cli
