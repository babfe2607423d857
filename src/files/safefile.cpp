#include "safefile.h"

#include <QDir>
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
#include <unistd.h>
#endif

namespace x45 {

namespace {

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

Status failed(const QString& path, const QString& why) {
    return Status::fail(QStringLiteral("The file \"%1\" could not be written (%2). Any earlier "
                                       "file of that name is unchanged; choose another folder "
                                       "or name, or free some space, and save again.")
                            .arg(shown(path), why));
}

std::filesystem::path fsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// A name beside `path` that no file has yet: the folder of the target, so a rename stays within
// one file system.
QString besideName(const QString& path, const char* what) {
    const QFileInfo info(path);
    for (;;) {
        QString name = info.dir().filePath(
            QStringLiteral(".%1.%2-%3")
                .arg(info.fileName(), QLatin1String(what))
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(name)) return name;
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

// Writes a temporary file beside `target` holding `bytes`, synced to disk. Returns its name, or
// an empty string with `why` (the temporary removed again).
QString writeTemporary(const QString& target, const QByteArray& bytes, QString& why) {
    QString temp = besideName(target, "new");
    QFile file(temp);
    // Unbuffered, so a write the system refuses fails at once with the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        why = file.errorString();
        return {};
    }
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
    if (good && QFileInfo(temp).size() != bytes.size()) {
        why = QStringLiteral("only %1 of %2 bytes reached the disk")
                  .arg(QFileInfo(temp).size())
                  .arg(bytes.size());
        good = false;
    }
    if (!good) {
        QFile::remove(temp);
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

// A second name for the old file, so it can be put back: a hard link where the system has them
// (needs no space), a copy otherwise.
QString keepOld(const QString& path, QString& why) {
    QString kept = besideName(path, "old");
#ifndef Q_OS_WIN
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()) == 0)
        return kept;
#endif
    QFile old(path);
    if (!old.copy(kept)) {
        why = old.errorString();
        QFile::remove(kept);
        return {};
    }
    return kept;
}

// Makes the renames in a folder survive a power loss.
void syncFolder(const QString& folder) {
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

} // namespace

Status writeFileSafely(const QString& path, const QByteArray& bytes) {
    return writeFilesTogether({{path, bytes}});
}

Status writeFilesTogether(const QVector<PlannedFile>& files) {
    for (const PlannedFile& f : files)
        if (QFileInfo(f.path).isDir())
            return failed(f.path, QStringLiteral("a folder has that name"));

    QStringList temps;
    const auto dropTemps = [&temps] {
        for (const QString& t : std::as_const(temps))
            if (!t.isEmpty()) QFile::remove(t);
    };
    for (const PlannedFile& f : files) {
        QString why;
        const QString temp = writeTemporary(f.path, f.bytes, why);
        if (temp.isEmpty()) {
            dropTemps();
            return failed(f.path, why);
        }
        temps << temp;
    }

    // Old files that are about to be replaced, kept until every rename has succeeded. The last
    // file needs none: when its rename fails, nothing of it has changed.
    QStringList kept(files.size());
    QVector<bool> existed(files.size(), false);
    const auto dropKept = [&kept] {
        for (const QString& k : std::as_const(kept))
            if (!k.isEmpty()) QFile::remove(k);
    };
    for (qsizetype i = 0; i + 1 < files.size(); ++i) {
        existed[i] = QFileInfo::exists(files[i].path);
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
        if (renameOver(temps[i], files[i].path, why)) {
            temps[i].clear();
            continue;
        }
        // Put back what was replaced already, newest first.
        QStringList notRestored;
        for (qsizetype j = i - 1; j >= 0; --j) {
            QString ignored;
            if (!existed[j]) {
                QFile::remove(files[j].path);
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
        if (!notRestored.isEmpty()) why += QStringLiteral("; ") + notRestored.join(QStringLiteral("; "));
        return failed(files[i].path, why);
    }
    dropKept();
    QStringList folders;
    for (const PlannedFile& f : files) {
        const QString folder = QFileInfo(f.path).absolutePath();
        if (!folders.contains(folder)) folders << folder;
    }
    for (const QString& folder : std::as_const(folders))
        syncFolder(folder);
    return Status::ok();
}

Status verifyFiles(const QVector<PlannedFile>& files) {
    for (const PlannedFile& f : files) {
        QFile file(f.path);
        if (!file.open(QIODevice::ReadOnly))
            return Status::fail(QStringLiteral("The file \"%1\" cannot be read back: %2.")
                                    .arg(shown(f.path), file.errorString()));
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
