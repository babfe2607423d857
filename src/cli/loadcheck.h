#pragma once
// Checks shared by the commands that load files or take a list of blocks to write or delete: the
// load with its report, the strict block list, and the backup proven before a destructive step.

#include "options.h"

#include "base/result.h"
#include "blocks/eepblock.h"
#include "files/safefile.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace x45::cli {

// Blocks loaded from files or read from the phone, with the hardware id they belong to.
struct Dump {
    BlockList blocks;
    quint16 hwid = 0; // held as the 16-bit pattern
};

// What the command does with the loaded blocks.
enum class LoadUse {
    Show,    // list: lines that do not read are printed, the list is printed all the same
    Use,     // write, convert, compare: lines that do not read refuse the input
    Lenient, // the same with --lenient: they are printed and the input is taken as read
};

// --lenient for the commands that refuse input with lines that do not read.
void addLenientOption(CommandLine& cmd);
// Use or Lenient, after the command line was parsed.
[[nodiscard]] LoadUse loadUseOf(const CommandLine& cmd);

// A failure of a command, its message the whole line "x45eep-cli COMMAND: text".
[[nodiscard]] Status commandFault(const char* command, const QString& text,
                                  ErrorKind kind = ErrorKind::Failed);
// Prints the line a failure carries; returns ExitFailed.
int printFailure(TerminalInteraction& ui, const Status& failed);

// Loads the named files as the window's "Load" does, and prints the load's report (files of no
// known format, lines that do not read). A name that does not exist, a pipe or device, or an
// empty file (but an empty data file beside its id file, an empty block) is refused before
// anything is read, and nothing is deleted. A file of no known format is named and refused. A
// failure says why the list is incomplete or unusable; its message is the line to print.
[[nodiscard]] Status loadFiles(const char* command, const QStringList& names, Dump& ws,
                               TerminalInteraction& ui, LoadUse use);

// --blocks for write and delete: the strict list. A failure is a usage error naming the token.
[[nodiscard]] Result<QVector<qint32>> strictBlockList(const QString& text);

// The numbers as a list that both grammars read the same way, for the reads that follow the
// strict check.
[[nodiscard]] QString plainList(const QVector<qint32>& numbers);

// Every row of the list: "Save" writes the selected rows of single-block formats (and all of an
// .eep), so the commands that save a whole list select all of it.
[[nodiscard]] QVector<int> allRows(const BlockList& blocks);

// Saves all the blocks to `path` as "Save" does. Without `force` (--force) a file that exists
// already is not replaced, and no file is written over one of `inputs` (with their id files) in
// any case (a failure of kind BadInput, a usage error): the save ends before anything is
// written. The value: the files written. A failure's message is the line to print.
[[nodiscard]] Result<QVector<PlannedFile>> saveOutput(const char* command, const QString& path,
                                                      const Dump& ws, bool force,
                                                      const QStringList& inputs = {});

// saveOutput, then reads every file back and compares it with what was meant: ok only when the
// backup is proven.
[[nodiscard]] Status saveProvenBackup(const QString& path, const Dump& ws, bool force);

} // namespace x45::cli
