#include "files/idfile.h"

#include "blocks/eepblock.h"
#include "blocks/number.h"
#include "files/hexlines.h"

namespace x45 {

namespace {

const QByteArray IdTitleLine = QByteArrayLiteral("EEPROM block additional file.");
const QByteArray IdHWidLine = QByteArrayLiteral("Phone HWid:");
const QByteArray IdBlockIdLine = QByteArrayLiteral("EEPROM BlockId:");
const QByteArray IdBlockVerLine = QByteArrayLiteral("EEPROM BlockVer:");
const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// Numbers in id files: a blank in place of a plus sign, and a trailing blank.
QByteArray idNumber(qint32 value) {
    return (value < 0 ? QByteArray() : QByteArrayLiteral(" ")) + QByteArray::number(value) + ' ';
}

bool lineHas(const QByteArray& line, const char* word) {
    return line.toUpper().contains(word);
}

// The lines of one id file, taken in order. Every expected line must be there: a file cut short
// is damaged, not a file without an id.
class IdFileReader {
public:
    IdFileReader(const QByteArray& bytes, const QString& name, QVector<LoadProblem>* problems)
        : lines_(splitLines(bytes)), name_(name), problems_(problems) {}

    // The next line, or the failure of a file that ends before it.
    Result<QByteArray> take(const char* what) {
        if (next_ >= lines_.size())
            return fault(QStringLiteral("it ends before its %1 line").arg(QLatin1String(what)));
        return lines_[next_++];
    }

    // The next line as a number that `convert` takes, `range` naming what it takes. A line that
    // does not hold one number and nothing else (" 9 9 ", "abc") is reported and read leniently.
    template <class T>
    Result<T> number(const char* what, std::optional<T> (*convert)(double), const QString& range) {
        const Result<QByteArray> line = take(what);
        if (!line) return line.status();
        const QString text = textOf(line.value());
        if (problems_ && !readStrictNumber(text, true))
            noteProblem(problems_, {name_, int(next_), lineExcerpt(line.value()),
                                    QStringLiteral("the %1 line does not hold one number; it was "
                                                   "read as %2")
                                        .arg(QLatin1String(what))
                                        .arg(readNumber(text))});
        if (const std::optional<T> value = convert(readNumber(text))) return *value;
        return fault(QStringLiteral("its %1 \"%2\" is outside %3")
                         .arg(QLatin1String(what), textOf(line.value().trimmed()), range));
    }

private:
    [[nodiscard]] Status fault(const QString& what) const {
        return Status::fail(ErrorKind::BadInput,
                            QStringLiteral("The id file \"%1\" cannot be used: %2. The User's "
                                           "list was left as it was; correct or delete the id "
                                           "file and load again.")
                                .arg(name_, what));
    }

    const QByteArrayList lines_;
    const QString name_;
    QVector<LoadProblem>* problems_;
    qsizetype next_ = 0;
};

} // namespace

QString idFileNameOf(const QString& dataPath) {
    return dataPath.chopped(qMin<qsizetype>(2, dataPath.size())) + QStringLiteral("id");
}

QString numberedFileName(const QString& path, qint16 blockId) {
    const qsizetype at = qMax<qsizetype>(0, path.size() - 4);
    return path.left(at) + QLatin1Char('_') + QString::number(blockId) + path.mid(at);
}

Result<std::optional<BlockIdInfo>> parseIdFile(const QByteArray& bytes, const QString& name,
                                               QVector<LoadProblem>* problems) {
    const std::optional<BlockIdInfo> noKeyWord;
    IdFileReader reader(bytes, name, problems);
    BlockIdInfo info;
    Result<QByteArray> line = reader.take("first");
    if (!line) return line.status();
    if (!lineHas(line.value(), "EEPROM")) return noKeyWord;
    if (!(line = reader.take("block number key"))) return line.status();
    if (lineHas(line.value(), "PHONE")) {
        const Result<quint16> hwid = reader.number("hardware id", toHWid, QStringLiteral("-32768..65535"));
        if (!hwid) return hwid.status();
        info.hwid = hwid.value();
        if (!(line = reader.take("block number key"))) return line.status();
    }
    if (!lineHas(line.value(), "BLOCKID")) return noKeyWord;
    const Result<qint16> blockId = reader.number("block number", toInt16, blockNumberRange());
    if (!blockId) return blockId.status();
    info.blockId = blockId.value();
    if (!(line = reader.take("block version key"))) return line.status();
    if (!lineHas(line.value(), "BLOCKVER")) return noKeyWord;
    const Result<quint8> version = reader.number("block version", toUInt8, QStringLiteral("0..255"));
    if (!version) return version.status();
    info.version = version.value();
    return std::optional<BlockIdInfo>(info);
}

QByteArray idFileText(const BlockIdInfo& info) {
    QByteArray text = IdTitleLine + LineEnd;
    if (info.hwid != 0) text += IdHWidLine + LineEnd + idNumber(info.hwid) + LineEnd;
    text += IdBlockIdLine + LineEnd + idNumber(info.blockId) + LineEnd;
    text += IdBlockVerLine + LineEnd + idNumber(info.version) + LineEnd;
    return text;
}

} // namespace x45
