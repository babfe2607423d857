// The command table of x45eep-cli and what is made from it: the general usage text, each
// command's --help and the dispatch. A new command is one entry here plus its handler.

#include "commands.h"

#include "cli_json.h"
#include "loadcheck.h"
#include "options.h"

#include <algorithm>
#include <cstdio>

namespace x45::cli {

namespace {

const char* const UsageHead = R"(usage: x45eep-cli COMMAND [OPTIONS]

Manages the EEPROM of x45-generation phones in Service Mode over a serial cable.

Commands:
)";

const char* const UsageTail = R"(
P is a serial device (/dev/ttyUSB0) or COM1..COM4. Messages and progress go to stderr, results
to stdout; --json prints the result of info, list, compare, ports, read, write and delete as
JSON (see x45eep-cli(1)); --trace FILE on info, read, write and delete writes every frame to
and from the phone to FILE. Ctrl-C, SIGTERM and SIGHUP stop a running phone operation at its
next safe point; a second Ctrl-C quits. An option given twice is a usage error.

Exit status: 0 done, 1 failed, aborted or stopped, 2 usage error.

Run "x45eep-cli COMMAND --help" for the options of a command.
)";

// Columns of the command lines in the general usage text.
constexpr int NameColumn = 2;
constexpr int SynopsisColumn = 11;
constexpr int SummaryColumn = 45;

const char* const InfoEpilog = R"(Output, one value per line on stdout, always in this order:
  Phone model: TEXT
  Mobile SW ver: N
  Hardware ver: N
  Lang Group: TEXT
  IMEI: TEXT
  EEFULL free in buffer.: N
  EEFULL free at all.: N
  EEFULL free for deleted.: N
  EELITE free in buffer.: N
  EELITE free at all.: N
  EELITE free for deleted.: N
  Low latency: on|off|not supported by the port
A value the phone did not report is left empty after the colon; the space counters are in bytes
and print 0 when the phone did not answer the space query. "Low latency" tells whether the
port's driver holds short replies back (off) or passes them on at once (on); on Linux the
program asks for it when it opens the port.
With --json one object is printed instead (keys in x45eep-cli(1)).

Exit status: 0 identified; 1 failed or stopped (the reason is on stderr); 2 usage error.)";

const char* const TransferEpilog =
    R"(Exit status: 0 done; 1 failed, aborted, stopped, or some block was skipped or not
found (the reasons are on stderr); 2 usage error. Ctrl-C, SIGTERM and SIGHUP stop after the
current block and say what the phone holds.)";

const char* const LoadEpilog =
    R"(Files are read as the window's "Load" reads them, chosen by the last three characters
of the name: .eep EEPROM files, .bin/.txt single-block files (with their .bid/.tid id
files), .map InitMap mapping files. Several files merge in order: a block number that is
already there takes the later file's contents. The result is sorted by block number.
A file of no other extension is named and refused; no input file is ever deleted.)";

QString text(const char* s) {
    return QString::fromUtf8(s);
}

void addVerifyOption(CommandLine& cmd, const char* what) {
    cmd.addOption({QStringLiteral("verify"), text(what)});
}

void addFilesArgument(CommandLine& cmd, const char* what) {
    cmd.addPositional(QStringLiteral("FILE"), text(what), QStringLiteral("FILE..."));
}

void declareInfo(CommandLine& cmd) {
    cmd.addPortOptions();
    addJsonOption(cmd);
    cmd.setEpilog(text(InfoEpilog));
}

void declareRead(CommandLine& cmd) {
    cmd.addPortOptions();
    cmd.addErrorOptions();
    cmd.addOverwriteOption();
    cmd.addOption({QStringLiteral("blocks"),
                   QStringLiteral("Only these blocks, e.g. \"1,5;7-9 5000-5010\"."),
                   QStringLiteral("LIST")});
    cmd.addOption({QStringLiteral("out"), QStringLiteral("File to save the blocks in."),
                   QStringLiteral("FILE")});
    cmd.addForceOption();
    addVerifyOption(cmd, "Read every block twice and keep it only when two reads agree.");
    addJsonOption(cmd);
    cmd.setEpilog(text(TransferEpilog));
}

void declareWrite(CommandLine& cmd) {
    cmd.addPortOptions();
    cmd.addErrorOptions();
    cmd.addFileQuestionOptions();
    addLenientOption(cmd);
    cmd.addOption({QStringLiteral("all"), QStringLiteral("Write every block (\"Save all\").")});
    cmd.addOption({QStringLiteral("blocks"),
                   QStringLiteral("Write only these blocks (\"Save selected\")."),
                   QStringLiteral("LIST")});
    cmd.addOption({QStringLiteral("any-hwid"),
                   QStringLiteral("Write blocks from files of another hardware id than the "
                                  "phone's, or of none known (0), too.")});
    addVerifyOption(cmd, "Read every written block back and compare it with what was written; a "
                         "difference fails the run.");
    addJsonOption(cmd);
    addFilesArgument(cmd, ".eep, .bin, .txt or .map files.");
    cmd.setEpilog(text(TransferEpilog));
}

void declareDelete(CommandLine& cmd) {
    cmd.addPortOptions();
    cmd.addErrorOptions();
    cmd.addConfirmOption();
    cmd.addOption(
        {QStringLiteral("blocks"), QStringLiteral("Blocks to delete."), QStringLiteral("LIST")});
    cmd.addOption({QStringLiteral("backup"),
                   QStringLiteral("Save the blocks to FILE (.eep, .bin, .txt) before deleting."),
                   QStringLiteral("FILE")});
    cmd.addForceOption();
    addJsonOption(cmd);
    cmd.setEpilog(text(TransferEpilog));
}

void declareList(CommandLine& cmd) {
    cmd.addOption({QStringLiteral("descriptions"),
                   QStringLiteral("Description file to use instead of the eeprom.dsc found in "
                                  "the current folder, beside the program or in the data "
                                  "folders."),
                   QStringLiteral("FILE")});
    cmd.addOption({QStringLiteral("check-hwid"),
                   QStringLiteral("Show only descriptions whose hardware id equals the list's.")});
    cmd.addFileQuestionOptions();
    addJsonOption(cmd);
    addFilesArgument(cmd, "Files to load.");
    cmd.setEpilog(text(LoadEpilog) +
                  QStringLiteral("\n\nExit status: 0 listed; 1 a file could not be loaded (the "
                                 "reason is on stderr); 2 usage error."));
}

void declareConvert(CommandLine& cmd) {
    cmd.addOption(
        {QStringLiteral("out"), QStringLiteral("The file to write."), QStringLiteral("FILE")});
    cmd.addForceOption();
    cmd.addOption({QStringLiteral("blocks"),
                   QStringLiteral("Save only these blocks: numbers and ranges such as "
                                  "\"20, 5077-5080\"."),
                   QStringLiteral("LIST")});
    cmd.addFileQuestionOptions();
    addLenientOption(cmd);
    addFilesArgument(cmd, "Files to load.");
    cmd.setEpilog(text(LoadEpilog) +
                  QStringLiteral("\nAn output file that exists already is left as it is unless "
                                 "--force is given; then it is replaced only once the new one is "
                                 "complete.\n\nExit status: 0 saved; 1 a file could not be "
                                 "loaded (or holds lines that do not read, without --lenient), "
                                 "holds no block, or could not be saved, an output file exists "
                                 "already, or a listed block is not there (the reason is on "
                                 "stderr; nothing was written); 2 usage error."));
}

void declareCompare(CommandLine& cmd) {
    cmd.addFileQuestionOptions();
    addLenientOption(cmd);
    addJsonOption(cmd);
    cmd.addOption({QStringLiteral("bytes"),
                   QStringLiteral("Also list, for each different block, where its bytes differ "
                                  "with both values, and its version and length.")});
    cmd.addPositional(QStringLiteral("FILE_A"), QStringLiteral("The User's side."));
    cmd.addPositional(QStringLiteral("FILE_B"), QStringLiteral("The Phone's side."));
    cmd.setEpilog(QStringLiteral(
        "Output: \"Lists are identical!\", or three lines:\n"
        "  User's blocks missing in Phone's list: NUMBERS\n"
        "  Phone's blocks missing in User's list: NUMBERS\n"
        "  Different blocks: NUMBERS\n"
        "with the block numbers separated by blanks in list order.\n\n"
        "With --bytes, then for each different block in that order:\n"
        "  Block N: version A / B, length A / B\n"
        "    (one value where both files agree) and one line per range of differing bytes:\n"
        "  OFFSET[-LAST]: A's bytes / B's bytes\n"
        "Consecutive differing offsets are one range; the bytes beyond the shorter block are\n"
        "one range of their own, \"(none)\" on the shorter side. A range of more than 16 bytes\n"
        "is a line \"OFFSET-LAST (N bytes):\" and then lines of 16 bytes \"OFFSET: A / B\".\n"
        "Offsets are 8-digit hexadecimal, as in \"show --block\"; bytes are hex.\n\n"
        "Exit status: 0 identical; 1 different, or a file could not be loaded or holds lines "
        "that do not read without --lenient (the reason is on stderr); 2 usage error."));
}

void declareShow(CommandLine& cmd) {
    cmd.addOption({QStringLiteral("block"),
                   QStringLiteral("The block to print: a number (decimal, &H hexadecimal, &O "
                                  "octal). A data file without its id file is taken as this "
                                  "block."),
                   QStringLiteral("N")});
    cmd.addOption({QStringLiteral("version"),
                   QStringLiteral("Block version for a data file that has no id file."),
                   QStringLiteral("V")});
    cmd.addOption({QStringLiteral("descriptions"),
                   QStringLiteral("Description file to use instead of the eeprom.dsc found in "
                                  "the current folder, beside the program or in the data "
                                  "folders."),
                   QStringLiteral("FILE")});
    cmd.addOption({QStringLiteral("check-hwid"),
                   QStringLiteral("Show only a description whose hardware id equals the list's.")});
    addFilesArgument(cmd, "Files to load.");
    cmd.setEpilog(text(LoadEpilog) +
                  QStringLiteral("\n\nOutput: the lines \"Block: N\", \"Type: EElite|EEfull\", "
                                 "\"Version: V\", \"Length: L\" and\n\"Description: TEXT\", then "
                                 "the bytes, 16 a line: an 8-digit hexadecimal offset,\nthe bytes "
                                 "in hex and their ASCII (other bytes as \".\").\n\nExit status: "
                                 "0 printed; 1 a file could not be loaded or the block is in none\n"
                                 "of them (the reason is on stderr); 2 usage error."));
}

void declarePorts(CommandLine& cmd) {
    addJsonOption(cmd);
    cmd.setEpilog(QStringLiteral("\"No serial port found.\" goes to stderr when there is none.\n\n"
                                 "Exit status: 0 listed (also when there is none); 2 usage "
                                 "error."));
}

// In the order of the general usage text.
const Command Table[] = {
    {"info", "--port P [--wait SECONDS]", "identify the phone, show its EEPROM space",
     "Boots the phone on port P into Service Mode, prints its identity and EEPROM space, and "
     "ends the session.",
     declareInfo, runInfo},
    {"read", "--port P [--blocks LIST] --out FILE", "read all (or the listed) blocks into FILE",
     "Reads every block of the phone (\"Load all\"), or the blocks of LIST (\"Load custom...\"), "
     "and saves them to FILE as \"Save\" does (.eep: all blocks with the phone's hardware id; "
     ".bin/.txt: one file per block with its id file). FILE is written only when the read was "
     "not stopped. A file that exists already is left as it is, and nothing is read, unless "
     "--force is given; then it is replaced only once the new one is complete.",
     declareRead, runRead},
    {"write", "--port P (--all | --blocks LIST) FILE...", "write blocks from files to the phone",
     "Loads FILE... as \"Load\" does and writes the blocks to the phone: --all as \"Save all\" "
     "(the EEfull area is compacted and the EElite area ERASED first, then every block is "
     "written), --blocks as \"Save selected\" (only the listed blocks, nothing erased). Nothing "
     "is sent when a file cannot be loaded, a listed block is in none of the files, a block is "
     "longer than 65535 bytes, or a block comes from a file whose hardware id differs from the "
     "phone's or is unknown (unless --any-hwid).",
     declareWrite, runWrite},
    {"delete", "--port P --blocks LIST [--yes]", "delete blocks on the phone",
     "Reads the blocks of LIST from the phone (\"Load custom...\") and deletes them there "
     "(\"Delete directly\"). Without --yes the confirmation is answered No and nothing is "
     "deleted. --backup FILE saves the blocks read before any is deleted.",
     declareDelete, runDelete},
    {"list", "FILE...", "print the blocks of dump files",
     "Prints the blocks of the files, one line per block in list order, the columns ID, Type, "
     "Ver., Length and Description separated by tabs, as the window's lists show them.",
     declareList, runList},
    {"convert", "FILE... --out FILE [--blocks LIST]", "load files and save them in another format",
     "Loads the files and saves the resulting list under --out, in the format its name ends in: "
     ".eep one EEPROM file; .bin or .txt one single-block file per block (several are named "
     "NAME_NUMBER.bin).",
     declareConvert, runConvert},
    {"compare", "FILE_A FILE_B [--bytes]", "compare two dumps (--bytes: byte by byte)",
     "Compares FILE_A (as the User's list) with FILE_B (as the Phone's list): blocks missing on "
     "either side and blocks whose contents or version differ; with --bytes also where the "
     "bytes of each different block differ.",
     declareCompare, runCompare},
    {"show", "FILE... --block N", "print one block as a hex dump",
     "Loads the files as \"list\" does and prints block N: its number, type, version, length "
     "and description, then its bytes as a hex dump.",
     declareShow, runShow},
    {"ports", "", "list the serial ports the system reports",
     "Lists the serial ports the system reports, one line per port: device, description, "
     "manufacturer, serial number and USB vendor:product, separated by tabs (empty when "
     "unknown).",
     declarePorts, runPorts},
};

} // namespace

std::span<const Command> commands() {
    return Table;
}

const Command* findCommand(const QString& name) {
    const auto it = std::find_if(std::begin(Table), std::end(Table), [&name](const Command& c) {
        return name == QLatin1String(c.name);
    });
    return it != std::end(Table) ? &*it : nullptr;
}

QString usageText() {
    QString out = text(UsageHead);
    for (const Command& c : Table) {
        QString line = QString(NameColumn, QLatin1Char(' ')) +
                       text(c.name).leftJustified(SynopsisColumn - NameColumn) + text(c.synopsis);
        // A usage line that reaches the summary's column puts the summary on a line of its own.
        if (line.size() >= SummaryColumn) {
            out += line + QLatin1Char('\n');
            line.clear();
        }
        out += line.leftJustified(SummaryColumn) + text(c.summary) + QLatin1Char('\n');
    }
    return out + text(UsageTail);
}

int runCommand(const Command& command, const QStringList& args) {
    CommandLine cmd(text(command.name), text(command.synopsis), text(command.description));
    command.declare(cmd);
    if (const Status parsed = cmd.parse(args); !parsed) return cmd.usageError(parsed);
    if (cmd.helpAsked()) {
        std::fputs(qPrintable(cmd.helpText()), stdout);
        return ExitOk;
    }
    if (!cmd.takesArguments() && !cmd.positional().isEmpty())
        return cmd.usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(cmd.positional().first()));
    return command.run(cmd);
}

} // namespace x45::cli
