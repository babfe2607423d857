#pragma once
// Writing files so that the old contents survive any failure: the new bytes go to a temporary
// file beside the target; every write, the flush and the sync to disk are checked before the
// temporary replaces the old file. A replaced file keeps its permissions and, where the process
// may set it, its owner and group; a name that is a link has the file it points to replaced.

#include "base/status.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace x45 {

// One file of a save: where it goes and what it must hold.
struct PlannedFile {
    QString path;
    QByteArray bytes;
};

// What a save does with a file that is there already.
enum class Replace {
    Allowed, // it is replaced (the person has agreed to it)
    Refused, // the save fails before anything is written, and also when one appears meanwhile
};

// Replaces (or creates) `path` with `bytes`. On failure (no permission, no space, a folder, pipe
// or device of that name, an existing file that may not be replaced) the old file is left
// exactly as it was, no temporary file stays behind, and the message names the file and why.
[[nodiscard]] Status writeFileSafely(const QString& path, const QByteArray& bytes,
                                     Replace replace = Replace::Allowed);

// Replaces all the files or none: every temporary is written and synced first, then they are
// renamed over their targets one by one; if a rename fails, the targets already replaced get
// their old contents back (or are removed when they did not exist before).
[[nodiscard]] Status writeFilesTogether(const QVector<PlannedFile>& files,
                                        Replace replace = Replace::Allowed);

// The planned files that exist already (anything at the name, a dangling link included).
[[nodiscard]] QStringList existingFiles(const QVector<PlannedFile>& files);

// Reads every file back and compares it with the bytes meant for it; the message names the
// first file that is missing, unreadable or different.
[[nodiscard]] Status verifyFiles(const QVector<PlannedFile>& files);

} // namespace x45
