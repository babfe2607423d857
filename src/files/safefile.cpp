#include "safefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace x45 {

namespace {

Status failed(const QString& path, const QString& why) {
    return Status::fail(QStringLiteral("The file \"%1\" could not be written (%2). Any earlier "
                                       "file of that name is unchanged; choose another folder "
                                       "or name, or free some space, and save again.")
                            .arg(QDir::toNativeSeparators(path), why));
}

} // namespace

Status writeFileSafely(const QString& path, const QByteArray& bytes) {
    if (QFileInfo(path).isDir()) return failed(path, QStringLiteral("a folder has that name"));
    // QSaveFile writes a temporary file beside the target and renames it over the target on
    // commit; without direct-write fallback a folder we may not create files in fails cleanly.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) return failed(path, file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failed(path, why);
    }
    if (!file.commit()) return failed(path, file.errorString());
    return Status::ok();
}

} // namespace x45
