#pragma once
// Reading a whole input file for a format's reader: bounded in size, never waiting on a pipe or
// device, never deleting anything.

#include "base/result.h"
#include "files/loadcontext.h"

#include <QByteArray>
#include <QString>

namespace x45 {

// Files larger than this are refused instead of being read into memory: no EEPROM block or
// mapping file comes anywhere near it.
constexpr qint64 MaxInputFileSize = 64LL * 1024 * 1024;

struct InputFile {
    QByteArray bytes;
    bool present = false; // false: missing; true with no bytes: an empty file
};

// Reads a whole input file; no bytes when it is missing or empty (`present` tells which). A
// failure (kind Io) when it cannot be read, is too large, or is no regular file (a pipe or
// device is not waited on). Nothing is deleted: an empty file may be the only trace of
// something the person keeps.
[[nodiscard]] Result<InputFile> readInputFile(const QString& path);

// The step of a load that meets a missing or empty file: it ends there.
[[nodiscard]] FileStep absentFileStep(const QString& path);

} // namespace x45
