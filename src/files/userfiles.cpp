#include "userfiles.h"

#include "blocks/blocklist.h"
#include "files/blockfile.h"
#include "files/eepfile.h"
#include "files/loadcontext.h"
#include "files/mapfile.h"
#include "files/hexlines.h"
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

QString loadReportText(const LoadReport& report) {
    // Enough lines to see what is wrong; a file full of bad lines does not fill the screen.
    constexpr qsizetype MostShown = 20;
    QStringList lines;
    for (const QString& name : report.skipped)
        lines << QStringLiteral("skipped %1: not an EEPROM, block or mapping file").arg(name);
    if (!report.problems.isEmpty()) {
        lines << QStringLiteral("%1 line(s) do not read and were taken as far as they read; "
                                "check these blocks before using them:")
                     .arg(report.problems.size());
        for (qsizetype i = 0; i < report.problems.size() && i < MostShown; ++i) {
            const LoadProblem& p = report.problems[i];
            lines << QStringLiteral("%1 line %2: \"%3\": %4")
                         .arg(p.file)
                         .arg(p.line)
                         .arg(p.text, p.what);
        }
        if (report.problems.size() > MostShown)
            lines << QStringLiteral("... and %1 more").arg(report.problems.size() - MostShown);
    }
    return lines.join(QLatin1Char('\n'));
}

LoadOutcome LoadUserFiles(const QStringList& names, Workspace& ws, Interaction& ui,
                          LoadReport* report) {
    LoadReport local;
    LoadReport& rep = report ? *report : local;
    rep = LoadReport();
    BusyPointer busy(ui);
    // Every file works on this copy; a rejected file leaves the User's list as it was.
    BlockList blocks = ws.UserBlocks;
    quint16 hwid = ws.UserHWid;
    LoadOutcome outcome = LoadOutcome::Loaded;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        LoadContext ctx{blocks, hwid, static_cast<int>(i + 1), ui, QString(), &rep.problems};
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
            rep.skipped << FileTitleOf(name); // passed over, and named afterwards
            continue;
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
            rep.endedAt = shown(name);
            rep.endReason = ctx.error;
            break;
        }
    }
    if (const QString text = loadReportText(rep); !text.isEmpty()) {
        ui.setBusy(false);
        ui.inform(text, Icon::Exclamation);
        ui.setBusy(true);
    }
    SortBlocks(blocks);
    ws.UserBlocks = std::move(blocks);
    ws.UserHWid = hwid;
    return outcome;
}

Status PlanUserFiles(const QString& name, const Workspace& ws, const QVector<int>& selectedRows,
                     QVector<PlannedFile>& files) {
    Status result;
    files.clear();
    switch (formatOfName(name)) {
    case FileFormat::Eep: {
        const QVector<int> rows = selectedOrAll(ws.UserBlocks.size(), selectedRows);
        BlockList chosen;
        chosen.reserve(rows.size());
        for (const int row : rows)
            chosen.append(ws.UserBlocks[row]);
        files.append({name, serializeEep(chosen, ws.UserHWid)});
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
        result = planBlockFiles(name, ws.UserBlocks, rows, ws.UserHWid, files);
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
    return result;
}

Status SaveUserFiles(const QString& name, const Workspace& ws, const QVector<int>& selectedRows,
                     Interaction& ui, QVector<PlannedFile>* written) {
    BusyPointer busy(ui);
    QVector<PlannedFile> files;
    Status result = PlanUserFiles(name, ws, selectedRows, files);
    if (result) result = writeFilesTogether(files);
    if (result && written) *written = std::move(files);
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
