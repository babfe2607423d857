#include "safefile.h"

#include "base/result.h"
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
    return Status::fail(ErrorKind::Io, QStringLiteral("The file \"%1\" could not be written (%2). Any earlier "
                                       "file of that name is unchanged; choose another folder "
                                       "or name, or free some space, and save again.")
                            .arg(shown(path), why));
}

Status alreadyThere(const QString& path) {
    return Status::fail(ErrorKind::Refused, QStringLiteral("The file \"%1\" exists already and was left as it is; "
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

Status systemFault(int error) {
    return Status::fail(ErrorKind::Io, QString::fromLocal8Bit(std::strerror(error)));
}

// Hands what the system has buffered for the file to the disk.
Status syncToDisk(QFile& file) {
    if (!file.flush()) return Status::fail(ErrorKind::Io, file.errorString());
#ifdef Q_OS_WIN
    if (::_commit(file.handle()) != 0)
        return Status::fail(ErrorKind::Io,
                            QStringLiteral("the data could not be synced to the disk"));
#else
    int rc;
    do {
        rc = ::fsync(file.handle());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return systemFault(errno);
#endif
    return Status::ok();
}

// Creates `path`, which must not exist yet, for writing.
Status createNew(QFile& file, const QString& path) {
#ifdef Q_OS_WIN
    file.setFileName(path);
    // Unbuffered, so a write the system refuses fails at once with the system's reason.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return Status::ok();
    return Status::fail(ErrorKind::Io, file.errorString());
#else
    const int fd = ::open(nameForSystem(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return systemFault(errno);
    if (file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                  QFileDevice::AutoCloseHandle))
        return Status::ok();
    const QString why = file.errorString();
    ::close(fd);
    removeFile(path);
    return Status::fail(ErrorKind::Io, why);
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

// Writes all of `bytes` to `file`, checking every write.
Status writeAll(QFile& file, const QByteArray& bytes) {
    qint64 done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            if (errno != 0) return systemFault(errno);
            return Status::fail(ErrorKind::Io, QStringLiteral("only %1 of %2 bytes could be written")
                                                   .arg(done)
                                                   .arg(bytes.size()));
        }
        done += n;
    }
    return Status::ok();
}

// Writes a temporary file beside `target` holding `bytes`, synced to disk; it takes over the
// permissions and owner of `old` when that exists. Returns its name; on failure the temporary
// is removed again.
Result<QString> writeTemporary(const QString& target, const QByteArray& bytes,
                               const FileState& old) {
    const QString temp = besideName(target, "new");
    QFile file;
    if (Status created = createNew(file, temp); !created) return created;
    if (old.kind == FileKind::Regular) takeOver(file, old);
    Status written = writeAll(file, bytes);
    if (written) written = syncToDisk(file);
    file.close();
    if (written && file.error() != QFileDevice::NoError)
        written = Status::fail(ErrorKind::Io, file.errorString());
    // A file that stopped growing short of what it should hold (a size limit that ends writes
    // without an error) is caught here too.
    if (const qint64 size = fileState(temp).size; written && size != bytes.size())
        written = Status::fail(ErrorKind::Io, QStringLiteral("only %1 of %2 bytes reached the disk")
                                                  .arg(size)
                                                  .arg(bytes.size()));
    if (!written) {
        removeFile(temp);
        return written;
    }
    return temp;
}

Status renameOver(const QString& from, const QString& to) {
    std::error_code ec;
    std::filesystem::rename(fsPath(from), fsPath(to), ec);
    if (ec) return Status::fail(ErrorKind::Io, QString::fromLocal8Bit(ec.message().c_str()));
    return Status::ok();
}

// Moves `from` to `to` only when nothing is at `to`, in one step where the file system has hard
// links. A failure of kind Refused: something was there.
Status renameNew(const QString& from, const QString& to) {
    const auto taken = [] {
        return Status::fail(ErrorKind::Refused,
                            QStringLiteral("a file of that name appeared meanwhile"));
    };
#ifdef Q_OS_WIN
    if (QFile::rename(from, to)) return Status::ok();
    if (QFileInfo::exists(to)) return taken();
    return Status::fail(ErrorKind::Io, QStringLiteral("the new file could not be put in place"));
#else
    if (::link(nameForSystem(from).constData(), nameForSystem(to).constData()) == 0) {
        removeFile(from);
        return Status::ok();
    }
    if (errno == EEXIST) return taken();
    // A file system without hard links: looked at, then renamed.
    const FileState there = fileState(to);
    if (there.kind != FileKind::Missing || there.link) return taken();
    return renameOver(from, to);
#endif
}

// A copy of `from` under the new name `to`.
Status copyFile(const QString& from, const QString& to) {
    QFile in;
    QFile out;
    if (Status opened = openForReading(in, from); !opened) return opened;
    if (Status created = createNew(out, to); !created) return created;
    for (;;) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty()) break;
        if (out.write(chunk) != chunk.size())
            return Status::fail(ErrorKind::Io, out.errorString());
    }
    if (in.error() != QFileDevice::NoError) return Status::fail(ErrorKind::Io, in.errorString());
    return syncToDisk(out);
}

// A second name for the old file, so it can be put back: a hard link where the system has them
// (needs no space), a copy otherwise.
Result<QString> keepOld(const QString& path) {
    const QString kept = besideName(path, "old");
#ifndef Q_OS_WIN
    if (::link(nameForSystem(path).constData(), nameForSystem(kept).constData()) == 0)
        return kept;
#endif
    if (Status copied = copyFile(path, kept); !copied) {
        removeFile(kept);
        return copied;
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

// One save of several files: the targets checked, a temporary written beside each, the old files
// kept aside, then the renames, put back if one fails. Temporaries and kept copies still held
// when it ends are removed.
class Replacement {
public:
    Replacement(const QVector<PlannedFile>& planned, Replace replace)
        : planned_(planned), replace_(replace), targets_(planned.size()), old_(planned.size()),
          temps_(planned.size()), kept_(planned.size()) {}
    ~Replacement() {
        drop(temps_);
        drop(kept_);
    }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // What is there at each name may be replaced, as `replace` allows.
    Status checkTargets() {
        for (qsizetype i = 0; i < planned_.size(); ++i) {
            const QString& asked = planned_[i].path;
            if (replace_ == Replace::Refused && !existingFiles({planned_[i]}).isEmpty())
                return alreadyThere(asked);
            targets_[i] = targetOf(asked);
            old_[i] = fileState(targets_[i]);
            if (old_[i].kind == FileKind::Folder)
                return failed(asked, QStringLiteral("a folder has that name"));
            if (old_[i].kind == FileKind::Special)
                return failed(asked, QStringLiteral("it is not a regular file but a pipe, device "
                                                    "or socket, and is never replaced"));
        }
        return Status::ok();
    }

    Status writeTemporaries() {
        for (qsizetype i = 0; i < planned_.size(); ++i) {
            const Result<QString> temp = writeTemporary(targets_[i], planned_[i].bytes, old_[i]);
            if (!temp) return failed(planned_[i].path, temp.message());
            temps_[i] = temp.value();
        }
        return Status::ok();
    }

    // Old files that are about to be replaced, kept until every rename has succeeded. The last
    // file needs none: when its rename fails, nothing of it has changed.
    Status keepOldFiles() {
        for (qsizetype i = 0; i + 1 < planned_.size(); ++i) {
            if (old_[i].kind != FileKind::Regular) continue;
            const Result<QString> kept = keepOld(targets_[i]);
            if (!kept)
                return failed(targets_[i], QStringLiteral("the old file could not be kept aside: %1")
                                               .arg(kept.message()));
            kept_[i] = kept.value();
        }
        return Status::ok();
    }

    Status renameAll() {
        for (qsizetype i = 0; i < planned_.size(); ++i) {
            const Status moved = replace_ == Replace::Refused ? renameNew(temps_[i], targets_[i])
                                                              : renameOver(temps_[i], targets_[i]);
            if (!moved) return putBack(i, moved);
            temps_[i].clear();
        }
        syncFolders();
        return Status::ok();
    }

private:
    static void drop(const QStringList& names) {
        for (const QString& name : names)
            if (!name.isEmpty()) removeFile(name);
    }

    // The rename of file `failedAt` failed: puts back what was replaced already, newest first.
    Status putBack(qsizetype failedAt, const Status& moved) {
        QStringList notRestored;
        for (qsizetype j = failedAt - 1; j >= 0; --j) {
            if (old_[j].kind != FileKind::Regular) {
                removeFile(targets_[j]);
            } else if (!renameOver(kept_[j], targets_[j])) {
                notRestored << QStringLiteral("the old \"%1\" is kept as \"%2\"")
                                   .arg(shown(targets_[j]), shown(kept_[j]));
            }
            kept_[j].clear(); // put back, or the only copy of the old file: it stays
        }
        const QString& asked = planned_[failedAt].path;
        if (moved.is(ErrorKind::Refused) && notRestored.isEmpty()) return alreadyThere(asked);
        QString why = moved.message();
        if (!notRestored.isEmpty()) why += QStringLiteral("; ") + notRestored.join(QStringLiteral("; "));
        return failed(asked, why);
    }

    void syncFolders() const {
        QStringList folders;
        for (const QString& target : targets_)
            if (const QString folder = folderOf(target); !folders.contains(folder)) folders << folder;
        for (const QString& folder : std::as_const(folders))
            syncFolder(folder);
    }

    const QVector<PlannedFile>& planned_;
    const Replace replace_;
    QStringList targets_;   // the file each planned name replaces (links followed)
    QVector<FileState> old_; // what was at each target before
    QStringList temps_;     // temporaries not renamed yet
    QStringList kept_;      // old files kept aside, removed once the save is through
};

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
    Replacement save(plannedFiles, replace);
    Status done = save.checkTargets();
    if (done) done = save.writeTemporaries();
    if (done) done = save.keepOldFiles();
    if (done) done = save.renameAll();
    return done;
}

Status verifyFiles(const QVector<PlannedFile>& files) {
    for (const PlannedFile& f : files) {
        QFile file;
        if (const Status opened = openForReading(file, f.path); !opened)
            return Status::fail(ErrorKind::Io,
                                QStringLiteral("The file \"%1\" cannot be read back: %2.")
                                    .arg(shown(f.path), opened.message()));
        const QByteArray got = file.read(f.bytes.size() + 1);
        if (file.error() != QFileDevice::NoError)
            return Status::fail(ErrorKind::Io,
                                QStringLiteral("The file \"%1\" cannot be read back: %2.")
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
