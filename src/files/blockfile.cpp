#include "files/blockfile.h"

#include "blocks/number.h"
#include "files/hexlines.h"
#include "files/safefile.h"
#include "files/syspath.h"

#include <QFile>

namespace x45 {

namespace {

const QByteArray IdTitleLine = QByteArrayLiteral("EEPROM block additional file.");
const QByteArray IdHWidLine = QByteArrayLiteral("Phone HWid:");
const QByteArray IdBlockIdLine = QByteArrayLiteral("EEPROM BlockId:");
const QByteArray IdBlockVerLine = QByteArrayLiteral("EEPROM BlockVer:");
const QByteArray LineEnd = QByteArrayLiteral("\r\n");

QString shown(const QString& path) {
    return shownName(path);
}

// Numbers in id files: a blank in place of a plus sign, and a trailing blank.
QByteArray idNumber(qint32 value) {
    return (value < 0 ? QByteArray() : QByteArrayLiteral(" ")) + QByteArray::number(value) + ' ';
}

bool lineHas(const QByteArray& line, const char* word) {
    return line.toUpper().contains(word);
}

QString idFileFault(const QString& name, const QString& what) {
    return QStringLiteral("The id file \"%1\" cannot be used: %2. The User's list was left as it "
                          "was; correct or delete the id file and load again.")
        .arg(name, what);
}

QString typedFault(const QString& dataName, const QString& what) {
    return QStringLiteral("The %1 typed for \"%2\" is out of range. The User's list was left as "
                          "it was; load the file again and type a valid value.")
        .arg(what, dataName);
}

} // namespace

QString idFileNameOf(const QString& dataPath) {
    return dataPath.chopped(qMin<qsizetype>(2, dataPath.size())) + QStringLiteral("id");
}

QString numberedFileName(const QString& path, qint16 blockId) {
    const qsizetype at = qMax<qsizetype>(0, path.size() - 4);
    return path.left(at) + QLatin1Char('_') + QString::number(blockId) + path.mid(at);
}

bool isHexTextName(const QString& path) {
    return path.right(3).toLower() == QStringLiteral("txt");
}

Result<std::optional<BlockIdInfo>> parseIdFile(const QByteArray& bytes, const QString& name,
                                               QVector<LoadProblem>* problems) {
    using Parsed = Result<std::optional<BlockIdInfo>>;
    const std::optional<BlockIdInfo> noKeyWord;
    QString error;
    const QByteArrayList lines = SplitLines(bytes);
    qsizetype next = 0;
    // Every expected line must be there: a file cut short is damaged, not a file without an id.
    const auto take = [&](const char* what, QByteArray& line) {
        if (next >= lines.size()) {
            error = idFileFault(
                name, QStringLiteral("it ends before its %1 line").arg(QLatin1String(what)));
            return false;
        }
        line = lines[next++];
        return true;
    };

    // A number line must hold one number and nothing else; " 9 9 " or "abc" is reported.
    const auto checkNumber = [&](const QByteArray& numberLine, const char* what) {
        if (problems && !ReadStrictNumber(textOf(numberLine), true))
            noteProblem(problems, {name, int(next), lineExcerpt(numberLine),
                                   QStringLiteral("the %1 line does not hold one number; it was "
                                                  "read as %2")
                                       .arg(QLatin1String(what))
                                       .arg(ReadNumber(textOf(numberLine)))});
    };
    QByteArray line;
    BlockIdInfo info;
    if (!take("first", line)) return Parsed::fail(error);
    if (!lineHas(line, "EEPROM")) return noKeyWord;
    if (!take("block number key", line)) return Parsed::fail(error);
    if (lineHas(line, "PHONE")) {
        if (!take("hardware id", line)) return Parsed::fail(error);
        checkNumber(line, "hardware id");
        const auto hwid = toHWid(ReadNumber(textOf(line)));
        if (!hwid) {
            error = idFileFault(name, QStringLiteral("its hardware id \"%1\" is outside "
                                                     "-32768..65535")
                                          .arg(textOf(line.trimmed())));
            return Parsed::fail(error);
        }
        info.hwid = *hwid;
        if (!take("block number key", line)) return Parsed::fail(error);
    }
    if (!lineHas(line, "BLOCKID")) return noKeyWord;
    if (!take("block number", line)) return Parsed::fail(error);
    checkNumber(line, "block number");
    const auto blockId = toInt16(ReadNumber(textOf(line)));
    if (!blockId) {
        error = idFileFault(name, QStringLiteral("its block number \"%1\" is outside -32768..32767")
                                      .arg(textOf(line.trimmed())));
        return Parsed::fail(error);
    }
    info.blockId = *blockId;
    if (!take("block version key", line)) return Parsed::fail(error);
    if (!lineHas(line, "BLOCKVER")) return noKeyWord;
    if (!take("block version", line)) return Parsed::fail(error);
    checkNumber(line, "block version");
    const auto version = toUInt8(ReadNumber(textOf(line)));
    if (!version) {
        error = idFileFault(name, QStringLiteral("its block version \"%1\" is outside 0..255")
                                      .arg(textOf(line.trimmed())));
        return Parsed::fail(error);
    }
    info.version = *version;
    return std::optional<BlockIdInfo>(info);
}

QByteArray idFileText(const BlockIdInfo& info) {
    QByteArray text = IdTitleLine + LineEnd;
    if (info.hwid != 0) text += IdHWidLine + LineEnd + idNumber(info.hwid) + LineEnd;
    text += IdBlockIdLine + LineEnd + idNumber(info.blockId) + LineEnd;
    text += IdBlockVerLine + LineEnd + idNumber(info.version) + LineEnd;
    return text;
}

ByteStr parseHexText(const QByteArray& text, const QString& name,
                     QVector<LoadProblem>* problems) {
    ByteStr data;
    const QByteArrayList lines = SplitLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray compact = RemoveSpaces(lines[i]);
        if (problems)
            if (const QString fault = hexLineFault(compact); !fault.isEmpty())
                noteProblem(problems, {name, int(i + 1), lineExcerpt(lines[i]), fault});
        data += HexToBytes(compact);
    }
    return data;
}

QByteArray hexText(const ByteStr& data) {
    QByteArray text;
    for (const QByteArray& line : BytesToHexLines(data))
        text += line + LineEnd;
    return text;
}

Result<QByteArray> readInputFile(const QString& path, bool* present) {
    if (present) *present = false;
    const FileState state = fileState(path);
    if (state.kind == FileKind::Missing) return QByteArray();
    if (state.kind == FileKind::Regular && state.size == 0) {
        if (present) *present = true;
        return QByteArray(); // left on the disk
    }
    if (state.size > MaxInputFileSize)
        return Result<QByteArray>::fail(
            QStringLiteral("The file \"%1\" is %2 bytes long, too large for EEPROM data "
                           "(at most %3). The User's list was left as it was.")
                .arg(shown(path))
                .arg(state.size)
                .arg(MaxInputFileSize));
    QFile file;
    // A pipe or device is refused here instead of being waited on.
    if (QString why; !openForReading(file, path, why))
        return Result<QByteArray>::fail(
            QStringLiteral("The file \"%1\" cannot be read: %2. The User's list was left as "
                           "it was; name a file you may read.")
                .arg(shown(path), why));
    // Read up to one byte past the limit, so a file that grows meanwhile is still caught.
    QByteArray bytes = file.read(MaxInputFileSize + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > MaxInputFileSize)
        return Result<QByteArray>::fail(
            QStringLiteral("The file \"%1\" cannot be read: %2. The User's list was left as "
                           "it was.")
                .arg(shown(path), bytes.size() > MaxInputFileSize
                                      ? QStringLiteral("it is too large")
                                      : file.errorString()));
    if (present) *present = true;
    return bytes;
}

std::optional<StepResult> readForLoad(const QString& path, QByteArray& bytes, LoadContext& ctx) {
    Result<QByteArray> read = readInputFile(path);
    if (!read) return StepResult(read.status());
    if (read->isEmpty()) {
        ctx.endReason = QStringLiteral("\"%1\" is empty or missing").arg(shown(path));
        return StepResult(FileStep::EndLoad);
    }
    bytes = std::move(read).value();
    return std::nullopt;
}

namespace {

// The number and version typed for a data file that has no id file; nullopt (with ctx.endReason)
// when the dialog was cancelled.
Result<std::optional<BlockIdInfo>> typedBlockInfo(const QString& path, const QString& idPath,
                                                  LoadContext& ctx) {
    using Typed = Result<std::optional<BlockIdInfo>>;
    ctx.ui.setBusy(false);
    const BlockInfoTexts typed = ctx.ui.askBlockInfo(
        QStringLiteral("Info for file \"%1\" not found, enter it manually, please.")
            .arg(FileTitleOf(path)));
    ctx.ui.setBusy(true);
    const QString numberText = typed.number.trimmed();
    const QString versionText = typed.version.trimmed();
    if (numberText.isEmpty()) {
        ctx.endReason = QStringLiteral("no block number was given for \"%1\", which has no id "
                                       "file \"%2\"")
                            .arg(shown(path), shown(idPath));
        return std::optional<BlockIdInfo>();
    }
    const auto blockId = toInt16(ReadNumber(numberText));
    if (!blockId)
        return Typed::fail(typedFault(
            FileTitleOf(path),
            QStringLiteral("block number \"%1\" (allowed -32768..32767)").arg(numberText)));
    const auto version =
        versionText.isEmpty() ? std::optional<quint8>(0) : toUInt8(ReadNumber(versionText));
    if (!version)
        return Typed::fail(typedFault(
            FileTitleOf(path),
            QStringLiteral("block version \"%1\" (allowed 0..255)").arg(versionText)));
    return std::optional<BlockIdInfo>(BlockIdInfo{*blockId, *version, 0});
}

// The id of a data file: from its id file (`fromIdFile` set), or typed when there is none;
// nullopt (with ctx.endReason) when the load ends here.
Result<std::optional<BlockIdInfo>> blockInfoFor(const QString& path, LoadContext& ctx,
                                                bool& fromIdFile) {
    const QString idPath = idFileNameOf(path);
    const Result<QByteArray> idBytes = readInputFile(idPath);
    if (!idBytes) return idBytes.status();
    fromIdFile = !idBytes->isEmpty();
    if (!fromIdFile) return typedBlockInfo(path, idPath, ctx);
    Result<std::optional<BlockIdInfo>> info =
        parseIdFile(idBytes.value(), shown(idPath), ctx.problems);
    if (info && !info.value())
        ctx.endReason = QStringLiteral("the id file \"%1\" lacks its key words (EEPROM, "
                                       "BLOCKID, BLOCKVER)")
                            .arg(shown(idPath));
    return info;
}

} // namespace

StepResult loadBlockFile(const QString& path, LoadContext& ctx) {
    bool fromIdFile = false;
    const Result<std::optional<BlockIdInfo>> found = blockInfoFor(path, ctx, fromIdFile);
    if (!found) return found.status();
    if (!found.value()) return FileStep::EndLoad;
    const BlockIdInfo& info = *found.value();

    // An empty data file beside its id file is a block of no bytes, as "Save" writes one. A
    // missing data file, or an empty one without an id file, adds nothing and ends the load;
    // what earlier files gave stays.
    bool present = false;
    const Result<QByteArray> read = readInputFile(path, &present);
    if (!read) return read.status();
    const QByteArray& bytes = read.value();
    if (bytes.isEmpty() && !(present && fromIdFile)) {
        ctx.endReason = QStringLiteral("\"%1\" is empty or missing").arg(shown(path));
        return FileStep::EndLoad;
    }

    const EEPBlock block{info.blockId,
                         isHexTextName(path) ? parseHexText(bytes, shown(path), ctx.problems)
                                             : bytes,
                         info.version};
    BlockList blocks = ctx.startingList();
    if (findBlock(blocks, block.BlockId) < 0 && blocks.size() >= MaxBlocks)
        return StepResult::fail(
            QStringLiteral("The User's list already holds %1 blocks, the most it can hold; block "
                           "%2 from \"%3\" was not added. The list was left as it was.")
                .arg(MaxBlocks)
                .arg(block.BlockId)
                .arg(shown(path)));
    putBlock(blocks, block);
    ctx.blocks = std::move(blocks);
    ctx.hwid = info.hwid;
    return FileStep::Continue;
}

namespace {

Status saveFault(const QString& path, const QString& reason) {
    return Status::fail(QStringLiteral("The file \"%1\" could not be written: %2. Nothing was "
                                       "saved; choose another name and save again.")
                            .arg(shown(path), reason));
}

} // namespace

Status planBlockFiles(const QString& path, const BlockList& blocks,
                      const QVector<int>& selectedRows, quint16 hwid,
                      QVector<PlannedFile>& files) {
    for (const int row : selectedRows)
        if (row < 0 || row >= blocks.size())
            return Status::fail(QStringLiteral("Row %1 is not in the User's list of %2 blocks; "
                                               "nothing was saved. Select the blocks again.")
                                    .arg(row + 1)
                                    .arg(blocks.size()));
    QVector<PlannedFile> planned;
    for (const int row : selectedRows) {
        const EEPBlock& block = blocks[row];
        const QString dataPath =
            selectedRows.size() == 1 ? path : numberedFileName(path, block.BlockId);
        const QString idPath = idFileNameOf(dataPath);
        if (idPath == dataPath)
            return saveFault(dataPath, QStringLiteral("its id file would have the same name"));
        planned.append({dataPath, isHexTextName(dataPath) ? hexText(block.Data) : block.Data});
        planned.append({idPath, idFileText({block.BlockId, block.BlockVer, hwid})});
    }
    files = std::move(planned);
    return Status::ok();
}

} // namespace x45
