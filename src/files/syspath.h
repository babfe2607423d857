#pragma once
// File names as the system gives them, and the few file-system calls the readers and writers make
// with them. On Unix a name is a string of bytes and need not be UTF-8: a byte that is not part
// of a UTF-8 character is kept as one character U+DC80..U+DCFF, so that the name turns back into
// exactly its bytes and no two names become one. Qt's own file calls would turn such a character
// into other bytes, so every file the readers and writers touch goes through the calls below.

#include "base/status.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace x45 {

// Whether two file names that differ only in case name one file.
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
constexpr Qt::CaseSensitivity FileNameCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity FileNameCase = Qt::CaseSensitive;
#endif

// The bytes of a name from the system (a command-line argument, a folder entry) as a QString
// that turns back into the same bytes; on Windows names are UTF-16 already and this is the local
// 8-bit decoding.
[[nodiscard]] QString nameFromSystem(const QByteArray& bytes);
// The bytes of the name for the system: UTF-8, each kept byte as itself.
[[nodiscard]] QByteArray nameForSystem(const QString& name);
// The program's arguments, each as nameFromSystem makes it (Windows: as Qt gives them).
[[nodiscard]] QStringList argumentsAsGiven(int argc, char** argv);

// A text (a name, a line of a file) for a message: control characters as \t, \r, \n or \xNN,
// kept bytes of a name as \xNN, everything else as it is.
[[nodiscard]] QString escapedText(const QString& text);
// A path for a message: native separators, escaped as escapedText does.
[[nodiscard]] QString shownName(const QString& path);

enum class FileKind {
    Missing,
    Regular,
    Folder,
    Special, // a pipe, device or socket: never read from nor written over
};

struct FileState {
    FileKind kind = FileKind::Missing;
    qint64 size = 0;
    bool link = false; // the name is a symbolic link (followed for everything else)
    // Who owns the file and its permission bits (Unix; 0 elsewhere).
    uint mode = 0;
    uint owner = 0;
    uint group = 0;
};

// What is at `path`, links followed; a dangling link is Missing with `link` set.
[[nodiscard]] FileState fileState(const QString& path);
// The path with every link and "." or ".." resolved, as far as the folders exist; two names of
// one file give the same text. The last component need not exist.
[[nodiscard]] QString canonicalName(const QString& path);
// The folder part of a path ("." for a bare name) and the last component.
[[nodiscard]] QString folderOf(const QString& path);
[[nodiscard]] QString lastComponent(const QString& path);
// The names in a folder (without "." and ".."); empty when it cannot be listed.
[[nodiscard]] QStringList folderEntries(const QString& folder);

// Opens a regular file for reading without waiting on it: a pipe, device or folder is refused, so
// a FIFO named as input cannot hang the program. A failure (kind Io) carries the reason only
// ("it is a folder", the system's words), for the caller's sentence that names the file.
[[nodiscard]] Status openForReading(QFile& file, const QString& path);
// Opens (creating it, or emptying an existing regular file) for writing; a pipe, device or folder
// is refused and left as it is. The failure as for openForReading.
[[nodiscard]] Status openForWriting(QFile& file, const QString& path);
// Whether this process may create files in the folder.
[[nodiscard]] bool mayCreateIn(const QString& folder);
// Removes a file; false when it could not be removed.
bool removeFile(const QString& path);

} // namespace x45
