#include "descriptions.h"

#include "blocks/number.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>

namespace x45 {

namespace {

// A description file is a few hundred kilobytes at most; anything far larger is not one.
constexpr qint64 MaxDescriptionFileSize = 16LL * 1024 * 1024;

QString decodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) return text;
    // Not UTF-8: an 8-bit file from the phone's era, read byte for byte.
    return QString::fromLatin1(bytes);
}

} // namespace

void Descriptions::clear() {
    entries_.clear();
    byBlock_.clear();
    warnings_.clear();
}

int Descriptions::parse(const QByteArray& bytes) {
    clear();
    QString text = decodeText(bytes);
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    // A final line end closes the last line; it does not open another one.
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);

    int skipped = 0;
    const qsizetype complete = lines.size() / 3 * 3;
    for (qsizetype at = 0; at < complete; at += 3) {
        const auto id = toInt16(readNumber(lines[at]));
        const auto hw = toHWid(readNumber(lines[at + 2]));
        if (!id || !hw) {
            ++skipped;
            warnings_ << QStringLiteral("Lines %1-%2: the %3 does not fit 16 bits; record skipped.")
                             .arg(at + 1)
                             .arg(at + 3)
                             .arg(!id ? QStringLiteral("block number")
                                      : QStringLiteral("hardware id"));
            continue;
        }
        byBlock_[*id].append(static_cast<int>(entries_.size()));
        entries_.append({*id, *hw, lines[at + 1]});
    }
    if (complete < lines.size()) {
        ++skipped;
        warnings_ << QStringLiteral("Lines %1-%2: the last record is incomplete; ignored.")
                         .arg(complete + 1)
                         .arg(lines.size());
    }
    return skipped;
}

Status Descriptions::loadFile(const QString& path) {
    clear();
    QFile file(path);
    if (!file.exists()) return Status::ok();
    if (file.size() > MaxDescriptionFileSize)
        return Status::fail(
            QStringLiteral("The description file \"%1\" is %2 bytes long, too large "
                           "for a description file; descriptions stay empty.")
                .arg(QDir::toNativeSeparators(path))
                .arg(file.size()));
    if (!file.open(QIODevice::ReadOnly))
        return Status::fail(QStringLiteral("The description file \"%1\" cannot be read (%2); "
                                           "descriptions stay empty. Check its permissions.")
                                .arg(QDir::toNativeSeparators(path), file.errorString()));
    parse(file.readAll());
    return Status::ok();
}

QString Descriptions::locate() {
    QStringList candidates;
    candidates << QDir::current().filePath(FileName);
    if (QCoreApplication::instance())
        candidates << QDir(QCoreApplication::applicationDirPath()).filePath(FileName);
    for (const auto location :
         {QStandardPaths::AppDataLocation, QStandardPaths::GenericDataLocation}) {
        const QString found = QStandardPaths::locate(location, FileName);
        if (!found.isEmpty()) candidates << found;
    }
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        // An empty file counts as absent and the search goes on.
        if (info.isFile() && info.size() > 0) return candidate;
    }
    return {};
}

QString Descriptions::describe(qint16 blockId, quint16 hwid, bool checkHWid) const {
    const auto it = byBlock_.constFind(blockId);
    if (it == byBlock_.constEnd()) return {};
    for (const int at : *it) {
        const DescriptionEntry& entry = entries_[at];
        if (!checkHWid || entry.hwid == hwid) return entry.text;
    }
    return {};
}

} // namespace x45
