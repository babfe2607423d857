#include "userfiles.h"

#include "blocks/blocklist.h"
#include "files/blockfile.h"
#include "files/eepfile.h"
#include "files/loadcontext.h"
#include "files/mapfile.h"
#include "files/safefile.h"

#include <QDir>

#include <algorithm>

namespace x45 {

namespace {

// Shows the hourglass for as long as it lives, whatever way the operation leaves.
class BusyPointer {
public:
    explicit BusyPointer(Interaction& ui) : ui_(ui) { ui_.setBusy(true); }
    ~BusyPointer() { ui_.setBusy(false); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    Interaction& ui_;
};

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

FileFormat formatOfName(const QString& name) {
    const QString tail = name.right(3).toLower();
    if (tail == QLatin1String("eep")) return FileFormat::Eep;
    if (tail == QLatin1String("bin")) return FileFormat::Bin;
    if (tail == QLatin1String("txt")) return FileFormat::Txt;
    if (tail == QLatin1String("map")) return FileFormat::Map;
    return FileFormat::Unknown;
}

FileStep loadEepFile(const QString& path, LoadContext& ctx) {
    QByteArray bytes;
    if (const auto step = readForLoad(path, bytes, ctx)) return *step;
    EepContents contents;
    if (const Status s = parseEep(bytes, shown(path), contents); !s) {
        ctx.error = s.message();
        return FileStep::Reject;
    }
    if (ctx.number == 1) {
        ctx.blocks = std::move(contents.blocks);
    } else {
        BlockList merged = ctx.blocks;
        mergeBlocks(merged, contents.blocks);
        if (merged.size() > MaxBlocks) {
            ctx.error = QStringLiteral("The EEPROM file \"%1\" cannot be added: together with the "
                                       "files before it the User's list would hold %2 blocks, "
                                       "more than %3. The User's list was left as it was; load "
                                       "fewer files at once.")
                            .arg(shown(path))
                            .arg(merged.size())
                            .arg(MaxBlocks);
            return FileStep::Reject;
        }
        ctx.blocks = std::move(merged);
    }
    ctx.hwid = contents.hwid;
    return FileStep::Continue;
}

LoadOutcome LoadUserFiles(const QStringList& names, Workspace& ws, Interaction& ui) {
    BusyPointer busy(ui);
    // Every file works on this copy; a rejected file leaves the User's list as it was.
    BlockList blocks = ws.UserBlocks;
    quint16 hwid = ws.UserHWid;
    LoadOutcome outcome = LoadOutcome::Loaded;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        LoadContext ctx{blocks, hwid, static_cast<int>(i + 1), ui, QString()};
        FileStep step = FileStep::Continue;
        switch (formatOfName(name)) {
        case FileFormat::Eep:
            step = loadEepFile(name, ctx);
            break;
        case FileFormat::Bin:
        case FileFormat::Txt:
            step = loadBlockFile(name, ctx);
            break;
        case FileFormat::Map:
            step = loadMapFile(name, ctx);
            break;
        case FileFormat::Unknown:
            continue; // other files of a selection are passed over
        }
        if (step == FileStep::Reject) {
            ui.setBusy(false);
            ui.inform(ctx.error.isEmpty()
                          ? QStringLiteral("The file \"%1\" cannot be loaded. The User's list "
                                           "was left as it was.")
                                .arg(shown(name))
                          : ctx.error,
                      Icon::Exclamation);
            ui.setBusy(true);
            return LoadOutcome::Rejected;
        }
        if (blocks.size() > MaxBlocks) {
            ui.setBusy(false);
            ui.inform(QStringLiteral("After \"%1\" the User's list would hold %2 blocks, more "
                                     "than %3. The User's list was left as it was; load fewer "
                                     "files at once.")
                          .arg(shown(name))
                          .arg(blocks.size())
                          .arg(MaxBlocks),
                      Icon::Exclamation);
            ui.setBusy(true);
            return LoadOutcome::Rejected;
        }
        if (step == FileStep::EndLoad) {
            outcome = LoadOutcome::EndedEarly;
            break;
        }
    }
    SortBlocks(blocks);
    ws.UserBlocks = std::move(blocks);
    ws.UserHWid = hwid;
    return outcome;
}

Status SaveUserFiles(const QString& name, const Workspace& ws, const QVector<int>& selectedRows,
                     Interaction& ui) {
    BusyPointer busy(ui);
    Status result;
    switch (formatOfName(name)) {
    case FileFormat::Eep: {
        const QVector<int> rows = selectedOrAll(ws.UserBlocks.size(), selectedRows);
        BlockList chosen;
        chosen.reserve(rows.size());
        for (const int row : rows)
            chosen.append(ws.UserBlocks[row]);
        result = writeFileSafely(name, serializeEep(chosen, ws.UserHWid));
        break;
    }
    case FileFormat::Bin:
    case FileFormat::Txt: {
        // Single-block files take exactly the selected rows, in list order.
        QVector<int> rows;
        for (const int row : selectedRows)
            if (row >= 0 && row < ws.UserBlocks.size()) rows.append(row);
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        if (rows.isEmpty()) {
            result = Status::fail(QStringLiteral("No block is selected, so nothing was saved to "
                                                 "\"%1\". Select the blocks to save as "
                                                 "single-block files and save again.")
                                      .arg(shown(name)));
            break;
        }
        result = saveBlockFiles(name, ws.UserBlocks, rows, ws.UserHWid, ui);
        break;
    }
    case FileFormat::Map:
    case FileFormat::Unknown:
        result = Status::fail(QStringLiteral("Nothing was saved: \"%1\" does not end in .eep, "
                                             ".bin or .txt. Choose a name with one of these "
                                             "extensions.")
                                  .arg(shown(name)));
        break;
    }
    if (!result) {
        ui.setBusy(false);
        ui.inform(result.message(), Icon::Exclamation);
        ui.setBusy(true);
    }
    return result;
}

QStringList ParseCmnDlgOpenMulti(const QString& dialogResult) {
    if (!dialogResult.contains(QChar(0))) return {dialogResult};
    const QStringList pieces = dialogResult.split(QChar(0));
    QStringList names;
    for (qsizetype i = 1; i < pieces.size(); ++i)
        names << pieces.first() + QLatin1Char('\\') + pieces[i];
    return names;
}

} // namespace x45
