#pragma once
// Writing files so that the old contents survive any failure: the new bytes go to a temporary
// file beside the target; every write, the flush and the sync to disk are checked before the
// temporary replaces the old file.

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

// Replaces (or creates) `path` with `bytes`. On failure (no permission, no space, a folder of
// that name) the old file is left exactly as it was, no temporary file stays behind, and the
// message names the file and why.
[[nodiscard]] Status writeFileSafely(const QString& path, const QByteArray& bytes);

// Replaces all the files or none: every temporary is written and synced first, then they are
// renamed over their targets one by one; if a rename fails, the targets already replaced get
// their old contents back (or are removed when they did not exist before).
[[nodiscard]] Status writeFilesTogether(const QVector<PlannedFile>& files);

// Reads every file back and compares it with the bytes meant for it; the message names the
// first file that is missing, unreadable or different.
[[nodiscard]] Status verifyFiles(const QVector<PlannedFile>& files);

} // namespace x45
