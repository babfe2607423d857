#include "safefile.h"

#include "files/syspath.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace x45 {

namespace {

QString shown(const QString& path) {
    return shownName(path);
}

Status failed(const QString& path, const QString& why) {
    return Status::fail(QStringLiteral("The file \"%1\" could not be written (%2). Any earlier "
                                       "file of that name is unchanged; choose another folder "
                                       "or name, or free some space, and save again.")
                            .arg(shown(path), why));
}

Status alreadyThere(const QString& path) {
    return Status::fail(QStringLiteral("The file \"%1\" exists already and was left as it is; "
                                       "nothing was saved. Name another file, or agree to "
                                       "replace it.")
                            .arg(shown(path)));
}

std::filesystem::path fsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(nameForSystem(path).toStdString());
#endif
}

// A name beside `path` that no file has yet: the folder of the target, so a rename stays within
// one file system.
QString besideName(const QString& path, const char* what) {
    const QString folder = folderOf(path);
    for (;;) {
        QString name =
            (folder == QLatin1String("/") ? folder : folder + QLatin1Char('/')) +
            QStringLiteral(".%1.%2-%3")
                .arg(lastComponent(path), QLatin1String(what))
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        if (fileState(name).kind == FileKind::Missing && !fileState(name).link) return name;
    }
}

// Hands what the system has buffered for the file to the disk; false with `why` on failure.
bool syncToDisk(QFile& file, QString& why) {
    if (!file.flush()) {
        why = file.errorString();
        return false;
    }
#ifdef Q_OS_WIN
    if (::_commit(file.handle()) != 0) {
        why = QStringLiteral("the data could not be synced to the disk");
        return false;
    }
#else
    int rc;
    do {
        rc = ::fsync(file.handle());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
#endif
    return true;
}

// Creates `path`, which must not exist yet, for writing.
bool createNew(QFile& file, const QString& path, QString& why) {
#ifdef Q_OS_WIN
    file.setFileName(path);
    // Unbuffered, so a write the system refuses fails at once with the system's reason.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) return true;
    why = file.errorString();
    return false;
#else
    const int fd = ::open(nameForSystem(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                  QFileDevice::AutoCloseHandle))
        return true;
    why = file.errorString();
    ::close(fd);
    removeFile(path);
    return false;
#endif
}

// Gives the new file the permissions of the one it replaces, and its owner and group where the
// process may (anyone may keep a group of their own; only the superuser may give a file away).
// The owner goes first: changing it can clear the set-id bits, which the permissions put back.
void takeOver(QFile& file, const FileState& old) {
#ifndef Q_OS_WIN
    const int fd = file.handle();
    if (::fchown(fd, old.owner, old.group) != 0) (void)::fchown(fd, uid_t(-1), old.group);
    (void)::fchmod(fd, old.mode);
#else
    Q_UNUSED(file);
    Q_UNUSED(old);
#endif
}

// Writes a temporary file beside `target` holding `bytes`, synced to disk; it takes over the
// permissions and owner of `old` when that exists. Returns its name, or an empty string with
// `why` (the temporary removed again).
QString writeTemporary(const QString& target, const QByteArray& bytes, const FileState& old,
                       QString& why) {
    QString temp = besideName(target, "new");
    QFile file;
    if (!createNew(file, temp, why)) return {};
    if (old.kind == FileKind::Regular) takeOver(file, old);
    qint64 done = 0;
    int systemError = 0;
    while (done < bytes.size()) {
        errno = 0;
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            systemError = errno;
            break;
        }
        done += n;
    }
    bool good = done == bytes.size();
    if (!good)
        why = systemError != 0
                  ? QString::fromLocal8Bit(std::strerror(systemError))
                  : QStringLiteral("only %1 of %2 bytes could be written").arg(done).arg(bytes.size());
    if (good) good = syncToDisk(file, why);
    file.close();
    if (good && file.error() != QFileDevice::NoError) {
        why = file.errorString();
        good = false;
    }
    // A file that stopped growing short of what it should hold (a size limit that ends writes
    // without an error) is caught here too.
    if (const qint64 size = fileState(temp).size; good && size != bytes.size()) {
        why = QStringLiteral("only %1 of %2 bytes reached the disk").arg(size).arg(bytes.size());
        good = false;
    }
    if (!good) {
        removeFile(temp);
        return {};
    }
    return temp;
}

bool renameOver(const QString& from, const QString& to, QString& why) {
    std::error_code ec;
    std::filesystem::rename(fsPath(from), fsPath(to), ec);
    if (ec) why = QString::fromLocal8Bit(ec.message().c_str());
    return !ec;
}

// Moves `from` to `to` only when nothing is at `to`, in one step where the file system has hard
// links; `taken` tells that something was there.
bool renameNew(const QString& from, const QString& to, QString& why, bool& taken) {
    taken = false;
#ifdef Q_OS_WIN
    if (QFile::rename(from, to)) return true;
    taken = QFileInfo::exists(to);
    why = taken ? QStringLiteral("a file of that name appeared meanwhile")
                : QStringLiteral("the new file could not be put in place");
    return false;
#else
    if (::link(nameForSystem(from).constData(), nameForSystem(to).constData()) == 0) {
        removeFile(from);
        return true;
    }
    taken = errno == EEXIST;
    if (!taken) {
        // A file system without hard links: looked at, then renamed.
        const FileState there = fileState(to);
        taken = there.kind != FileKind::Missing || there.link;
        if (!taken) return renameOver(from, to, why);
    }
    why = QStringLiteral("a file of that name appeared meanwhile");
    return false;
#endif
}

// A copy of `from` under the new name `to`.
bool copyFile(const QString& from, const QString& to, QString& why) {
    QFile in;
    QFile out;
    if (!openForReading(in, from, why) || !createNew(out, to, why)) return false;
    for (;;) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty()) break;
        if (out.write(chunk) != chunk.size()) {
            why = out.errorString();
            return false;
        }
    }
    if (in.error() != QFileDevice::NoError) {
        why = in.errorString();
        return false;
    }
    return syncToDisk(out, why);
}

// A second name for the old file, so it can be put back: a hard link where the system has them
// (needs no space), a copy otherwise.
QString keepOld(const QString& path, QString& why) {
    QString kept = besideName(path, "old");
#ifndef Q_OS_WIN
    if (::link(nameForSystem(path).constData(), nameForSystem(kept).constData()) == 0)
        return kept;
#endif
    if (!copyFile(path, kept, why)) {
        removeFile(kept);
        return {};
    }
    return kept;
}

// Makes the renames in a folder survive a power loss.
void syncFolder(const QString& folder) {
#ifndef Q_OS_WIN
    const int fd = ::open(nameForSystem(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

// The file a save under `path` replaces: the file a link points to, else `path` itself.
QString targetOf(const QString& path) {
    const FileState state = fileState(path);
    return state.link && state.kind == FileKind::Regular ? canonicalName(path) : path;
}

} // namespace

Status writeFileSafely(const QString& path, const QByteArray& bytes, Replace replace) {
    return writeFilesTogether({{path, bytes}}, replace);
}

QStringList existingFiles(const QVector<PlannedFile>& files) {
    QStringList found;
    for (const PlannedFile& f : files) {
        const FileState state = fileState(f.path);
        if (state.kind != FileKind::Missing || state.link) found << f.path;
    }
    return found;
}

Status writeFilesTogether(const QVector<PlannedFile>& plannedFiles, Replace replace) {
    QVector<PlannedFile> files = plannedFiles;
    QVector<FileState> old(files.size());
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& asked = plannedFiles[i].path;
        if (replace == Replace::Refused && !existingFiles({plannedFiles[i]}).isEmpty())
            return alreadyThere(asked);
        files[i].path = targetOf(asked);
        old[i] = fileState(files[i].path);
        if (old[i].kind == FileKind::Folder)
            return failed(asked, QStringLiteral("a folder has that name"));
        if (old[i].kind == FileKind::Special)
            return failed(asked, QStringLiteral("it is not a regular file but a pipe, device or "
                                                "socket, and is never replaced"));
    }

    QStringList temps;
    const auto dropTemps = [&temps] {
        for (const QString& t : std::as_const(temps))
            if (!t.isEmpty()) removeFile(t);
    };
    for (qsizetype i = 0; i < files.size(); ++i) {
        QString why;
        const QString temp = writeTemporary(files[i].path, files[i].bytes, old[i], why);
        if (temp.isEmpty()) {
            dropTemps();
            return failed(plannedFiles[i].path, why);
        }
        temps << temp;
    }

    // Old files that are about to be replaced, kept until every rename has succeeded. The last
    // file needs none: when its rename fails, nothing of it has changed.
    QStringList kept(files.size());
    QVector<bool> existed(files.size(), false);
    const auto dropKept = [&kept] {
        for (const QString& k : std::as_const(kept))
            if (!k.isEmpty()) removeFile(k);
    };
    for (qsizetype i = 0; i + 1 < files.size(); ++i) {
        existed[i] = old[i].kind == FileKind::Regular;
        if (!existed[i]) continue;
        QString why;
        kept[i] = keepOld(files[i].path, why);
        if (kept[i].isEmpty()) {
            dropKept();
            dropTemps();
            return failed(files[i].path,
                          QStringLiteral("the old file could not be kept aside: %1").arg(why));
        }
    }

    for (qsizetype i = 0; i < files.size(); ++i) {
        QString why;
        bool taken = false;
        const bool moved = replace == Replace::Refused
                               ? renameNew(temps[i], files[i].path, why, taken)
                               : renameOver(temps[i], files[i].path, why);
        if (moved) {
            temps[i].clear();
            continue;
        }
        // Put back what was replaced already, newest first.
        QStringList notRestored;
        for (qsizetype j = i - 1; j >= 0; --j) {
            QString ignored;
            if (!existed[j]) {
                removeFile(files[j].path);
            } else if (renameOver(kept[j], files[j].path, ignored)) {
                kept[j].clear();
            } else {
                notRestored << QStringLiteral("the old \"%1\" is kept as \"%2\"")
                                   .arg(shown(files[j].path), shown(kept[j]));
                kept[j].clear(); // the only copy of the old file: it stays
            }
        }
        dropKept();
        dropTemps();
        if (taken && notRestored.isEmpty()) return alreadyThere(plannedFiles[i].path);
        if (!notRestored.isEmpty()) why += QStringLiteral("; ") + notRestored.join(QStringLiteral("; "));
        return failed(plannedFiles[i].path, why);
    }
    dropKept();
    QStringList folders;
    for (const PlannedFile& f : files) {
        const QString folder = folderOf(f.path);
        if (!folders.contains(folder)) folders << folder;
    }
    for (const QString& folder : std::as_const(folders))
        syncFolder(folder);
    return Status::ok();
}

Status verifyFiles(const QVector<PlannedFile>& files) {
    for (const PlannedFile& f : files) {
        QFile file;
        QString why;
        if (!openForReading(file, f.path, why))
            return Status::fail(QStringLiteral("The file \"%1\" cannot be read back: %2.")
                                    .arg(shown(f.path), why));
        const QByteArray got = file.read(f.bytes.size() + 1);
        if (file.error() != QFileDevice::NoError)
            return Status::fail(QStringLiteral("The file \"%1\" cannot be read back: %2.")
                                    .arg(shown(f.path), file.errorString()));
        if (got != f.bytes)
            return Status::fail(QStringLiteral("The file \"%1\" does not read back as it was "
                                               "written (%2 bytes instead of %3, or other "
                                               "contents).")
                                    .arg(shown(f.path))
                                    .arg(got.size())
                                    .arg(f.bytes.size()));
    }
    return Status::ok();
}

} // namespace x45
