#include "files/inputfile.h"

#include "files/syspath.h"

#include <QFile>

namespace x45 {

namespace {

Status unreadable(const QString& path, const QString& why, const QString& advice) {
    return Status::fail(ErrorKind::Io,
                        QStringLiteral("The file \"%1\" cannot be read: %2. The User's list was "
                                       "left as it was%3.")
                            .arg(shownName(path), why, advice));
}

} // namespace

Result<InputFile> readInputFile(const QString& path) {
    const FileState state = fileState(path);
    if (state.kind == FileKind::Missing) return InputFile{};
    if (state.kind == FileKind::Regular && state.size == 0)
        return InputFile{{}, true}; // left on the disk
    if (state.size > MaxInputFileSize)
        return Result<InputFile>::fail(
            ErrorKind::Io, QStringLiteral("The file \"%1\" is %2 bytes long, too large for EEPROM "
                                          "data (at most %3). The User's list was left as it was.")
                               .arg(shownName(path))
                               .arg(state.size)
                               .arg(MaxInputFileSize));
    QFile file;
    // A pipe or device is refused here instead of being waited on.
    if (const Status opened = openForReading(file, path); !opened)
        return unreadable(path, opened.message(), QStringLiteral("; name a file you may read"));
    // Read up to one byte past the limit, so a file that grows meanwhile is still caught.
    QByteArray bytes = file.read(MaxInputFileSize + 1);
    if (bytes.size() > MaxInputFileSize)
        return unreadable(path, QStringLiteral("it is too large"), {});
    if (file.error() != QFileDevice::NoError) return unreadable(path, file.errorString(), {});
    return InputFile{std::move(bytes), true};
}

FileStep absentFileStep(const QString& path) {
    return endLoad(QStringLiteral("\"%1\" is empty or missing").arg(shownName(path)));
}

} // namespace x45
