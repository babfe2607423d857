#pragma once
// "Load" and "Save" of the User's list: the choice of format by the name's last three characters
// ("eep", "bin", "txt", "map" for loading; "eep", "bin", "txt" for saving), the merging of several
// files, and the final sort. The window and the command line both run these.

#include "base/result.h"
#include "base/status.h"
#include "blocks/eepblock.h"
#include "files/loadcontext.h"
#include "files/safefile.h"
#include "person/interaction.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace x45 {

enum class FileFormat { Unknown, Eep, Bin, Txt, Map };

// By the last three characters of the name, in any case ("dump.EEP" is an EEPROM file).
[[nodiscard]] FileFormat formatOfName(const QString& name);

enum class LoadOutcome {
    Loaded,     // every file was handled (files of unknown formats skipped); list sorted
    EndedEarly, // a file ended the load (missing or empty, dialog cancelled ...); what was
                // loaded before is kept, sorted
};

// What a load has to tell besides its outcome.
struct LoadReport {
    QVector<LoadProblem> problems; // lines that did not read (the load took them leniently)
    QStringList skipped;           // names of no known format, passed over
    QString endedAt;               // EndedEarly: the file that ended the load
    QString endReason;             // EndedEarly: why, when there is more to say than the name
};

// The one message of a load's skipped files and problem lines; empty when there is none. Each
// file gives at most ProblemsKeptPerFile lines and a count of the others.
[[nodiscard]] QString loadReportText(const LoadReport& report);

// Loads the files in order into `blocks` and `hwid` (a list and its hardware id). File 1 of the
// selection starts from an empty list; later files merge into it (same number: replaced in
// place, else appended). The work is done on a copy that replaces `blocks` and `hwid` only when
// the load does not fail. A failure (a file was unusable) says why; the caller shows it. Files
// of no known format and lines that do not read are given in `report`; the caller shows
// loadReportText(report). No input file is deleted, whatever it holds.
[[nodiscard]] Result<LoadOutcome> loadUserFiles(const QStringList& names, BlockList& blocks,
                                                quint16& hwid, Interaction& ui,
                                                LoadReport& report);
// Loads one EEPROM file into a load in progress (file number `number`, 1-based).
[[nodiscard]] StepResult loadEepFile(const QString& path, LoadContext& ctx);

// Saves `blocks` under `name`. "eep": one file with the selected blocks when two or more rows
// are selected, else all, and `hwid`. "bin"/"txt": single-block files of the selected rows. All
// files of one save are replaced together, and only once the new ones are complete, or not at
// all. A failure (including a name of no known format) says why; the caller shows it. The value:
// the files with the bytes they hold, so that a caller can read them back. `replace` tells
// whether files that exist already may be replaced (the window's dialog has asked).
[[nodiscard]] Result<QVector<PlannedFile>> saveUserFiles(const QString& name,
                                                         const BlockList& blocks, quint16 hwid,
                                                         const QVector<int>& selectedRows,
                                                         Interaction& ui,
                                                         Replace replace = Replace::Allowed);
// Whether a save under `name` may write `candidate` (both as canonicalName gives them): the name
// itself and, for single-block formats, its id file and the names of several blocks ("_" and a
// block number before the last four characters) with their id files.
[[nodiscard]] bool saveMayWrite(const QString& name, const QString& candidate);
// The files there are already that a save under `name` may replace, whatever blocks it saves.
[[nodiscard]] QStringList filesASaveMayReplace(const QString& name);
// The files a load of `name` reads: the name and, for a single-block file, its id file.
[[nodiscard]] QStringList filesALoadReads(const QString& name);

// The files saveUserFiles would write, with their bytes; nothing is written.
[[nodiscard]] Result<QVector<PlannedFile>> planUserFiles(const QString& name,
                                                         const BlockList& blocks, quint16 hwid,
                                                         const QVector<int>& selectedRows);

} // namespace x45
