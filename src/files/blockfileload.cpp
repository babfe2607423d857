// Loading one single-block file with its id file, or with the number and version typed for it.

#include "files/blockfile.h"

#include "blocks/blocklist.h"
#include "blocks/number.h"
#include "files/syspath.h"

#include <optional>

namespace x45 {

namespace {

// The id of a data file, or the step that ends the load without one.
struct FoundId {
    std::optional<BlockIdInfo> info; // nullopt: the load ends with `end`
    FileStep end;
    bool fromIdFile = false;
};

Status typedFault(const QString& dataName, const QString& what) {
    return Status::fail(ErrorKind::BadInput,
                        QStringLiteral("The %1 typed for \"%2\" is out of range. The User's list "
                                       "was left as it was; load the file again and type a valid "
                                       "value.")
                            .arg(what, dataName));
}

// The number and version typed for a data file that has no id file.
Result<FoundId> typedBlockInfo(const QString& path, const QString& idPath, LoadContext& ctx) {
    ctx.ui.setBusy(false);
    const BlockInfoTexts typed = ctx.ui.askBlockInfo(
        QStringLiteral("Info for file \"%1\" not found, enter it manually, please.")
            .arg(fileTitleOf(path)));
    ctx.ui.setBusy(true);
    const QString numberText = typed.number.trimmed();
    const QString versionText = typed.version.trimmed();
    if (numberText.isEmpty())
        return FoundId{std::nullopt,
                       endLoad(QStringLiteral("no block number was given for \"%1\", which has "
                                              "no id file \"%2\"")
                                   .arg(shownName(path), shownName(idPath)))};
    const auto blockId = toInt16(readNumber(numberText));
    if (!blockId)
        return typedFault(fileTitleOf(path), QStringLiteral("block number \"%1\" (allowed %2)")
                                                 .arg(numberText, blockNumberRange()));
    const auto version =
        versionText.isEmpty() ? std::optional<quint8>(0) : toUInt8(readNumber(versionText));
    if (!version)
        return typedFault(fileTitleOf(path),
                          QStringLiteral("block version \"%1\" (allowed 0..255)").arg(versionText));
    return FoundId{BlockIdInfo{*blockId, *version, 0}, {}};
}

// The id of a data file: from its id file, or typed when there is none.
Result<FoundId> blockInfoFor(const QString& path, LoadContext& ctx) {
    const QString idPath = idFileNameOf(path);
    const Result<InputFile> idFile = readInputFile(idPath);
    if (!idFile) return idFile.status();
    if (idFile->bytes.isEmpty()) return typedBlockInfo(path, idPath, ctx);
    const Result<std::optional<BlockIdInfo>> info =
        parseIdFile(idFile->bytes, shownName(idPath), ctx.problems);
    if (!info) return info.status();
    if (!info.value())
        return FoundId{std::nullopt,
                       endLoad(QStringLiteral("the id file \"%1\" lacks its key words (EEPROM, "
                                              "BLOCKID, BLOCKVER)")
                                   .arg(shownName(idPath)))};
    return FoundId{info.value(), {}, true};
}

} // namespace

StepResult loadBlockFile(const QString& path, LoadContext& ctx) {
    const Result<FoundId> found = blockInfoFor(path, ctx);
    if (!found) return found.status();
    if (!found->info) return found->end;
    const BlockIdInfo& info = *found->info;

    // An empty data file beside its id file is a block of no bytes, as "Save" writes one. A
    // missing data file, or an empty one without an id file, adds nothing and ends the load;
    // what earlier files gave stays.
    const Result<InputFile> data = readInputFile(path);
    if (!data) return data.status();
    if (data->bytes.isEmpty() && !(data->present && found->fromIdFile))
        return absentFileStep(path);

    const EEPBlock block{info.blockId,
                         isHexTextName(path)
                             ? parseHexText(data->bytes, shownName(path), ctx.problems)
                             : data->bytes,
                         info.version};
    BlockList blocks = ctx.startingList();
    if (!putBlock(blocks, block))
        return StepResult::fail(
            ErrorKind::Refused,
            QStringLiteral("The User's list already holds %1 blocks, the most it can hold; block "
                           "%2 from \"%3\" was not added. The list was left as it was.")
                .arg(MaxBlocks)
                .arg(block.BlockId)
                .arg(shownName(path)));
    ctx.blocks = std::move(blocks);
    ctx.hwid = info.hwid;
    return nextFile();
}

} // namespace x45
