#include "userfiles.h"

#include "blocks/blocklist.h"
#include "files/blockfile.h"
#include "files/eepfile.h"
#include "files/hexlines.h"
#include "files/inputfile.h"
#include "files/loadcontext.h"
#include "files/mapfile.h"
#include "files/safefile.h"
#include "files/syspath.h"

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
    return shownName(path);
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

StepResult loadEepFile(const QString& path, LoadContext& ctx) {
    const Result<InputFile> file = readInputFile(path);
    if (!file) return file.status();
    if (file->bytes.isEmpty()) return absentFileStep(path);
    Result<EepContents> contents = parseEep(file->bytes, shown(path));
    if (!contents) return contents.status();
    BlockList merged = ctx.startingList();
    if (merged.isEmpty()) {
        // The file's blocks as they are, in the file's order.
        merged = std::move(contents.value().blocks);
    } else if (const qsizetype size = mergeBlocks(merged, contents->blocks); !fitsInList(size)) {
        return StepResult::fail(
            ErrorKind::Refused,
            QStringLiteral("The EEPROM file \"%1\" cannot be added: together with the files "
                           "before it the User's list would hold %2 blocks, more than %3. The "
                           "User's list was left as it was; load fewer files at once.")
                .arg(shown(path))
                .arg(size)
                .arg(MaxBlocks));
    }
    ctx.blocks = std::move(merged);
    ctx.hwid = contents->hwid;
    return nextFile();
}

QString loadReportText(const LoadReport& report) {
    // The first lines of each file are enough to see what is wrong; a file full of bad lines
    // does not fill the screen, and each quoted line is cut short (lineExcerpt).
    QStringList lines;
    for (const QString& name : report.skipped)
        lines << QStringLiteral("skipped %1: not an EEPROM, block or mapping file")
                     .arg(escapedText(name));
    if (!report.problems.isEmpty()) {
        lines << QStringLiteral("%1 line(s) do not read and were taken as far as they read; "
                                "check these blocks before using them:")
                     .arg(problemCount(report.problems));
        for (const LoadProblem& p : report.problems) {
            lines << QStringLiteral("%1 line %2: \"%3\": %4").arg(p.file).arg(p.line).arg(p.text, p.what);
            if (p.unlisted > 0)
                lines << QStringLiteral("... and %1 more line(s) of %2").arg(p.unlisted).arg(p.file);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

bool saveMayWrite(const QString& name, const QString& candidate) {
    if (candidate.compare(name, FileNameCase) == 0) return true;
    const FileFormat format = formatOfName(name);
    if (format != FileFormat::Bin && format != FileFormat::Txt) return false;
    if (candidate.compare(idFileNameOf(name), FileNameCase) == 0) return true;
    // NAME_N: "_" and a block number before the last four characters, or its id file.
    const qsizetype at = name.size() - 4;
    const QString stem = name.left(at) + QLatin1Char('_');
    if (at < 0 || !candidate.startsWith(stem, FileNameCase)) return false;
    const QStringView rest = QStringView(candidate).mid(stem.size());
    for (const QString& tail : {name.mid(at), idFileNameOf(name.mid(at))}) {
        if (!rest.endsWith(tail, FileNameCase)) continue;
        const QStringView number = rest.chopped(tail.size());
        bool ok = false;
        const int n = number.toInt(&ok);
        if (ok && n >= LowestBlockNumber && n <= HighestBlockNumber && QString::number(n) == number)
            return true;
    }
    return false;
}

QStringList filesASaveMayReplace(const QString& name) {
    QStringList found;
    const QString target = canonicalName(name);
    const QString folder = folderOf(target);
    const FileFormat format = formatOfName(name);
    if (format != FileFormat::Bin && format != FileFormat::Txt) {
        const FileState state = fileState(name);
        if (state.kind != FileKind::Missing || state.link) found << name;
        return found;
    }
    // Named in the folder as the name gives it, for messages.
    const qsizetype cut = name.size() - lastComponent(name).size();
    for (const QString& entry : folderEntries(folder))
        if (saveMayWrite(target, folder + QLatin1Char('/') + entry))
            found << name.left(cut) + entry;
    found.sort();
    return found;
}

QStringList filesALoadReads(const QString& name) {
    const FileFormat format = formatOfName(name);
    if (format == FileFormat::Bin || format == FileFormat::Txt) return {name, idFileNameOf(name)};
    return {name};
}

namespace {

StepResult loadOneFile(const QString& name, FileFormat format, LoadContext& ctx) {
    switch (format) {
    case FileFormat::Eep:
        return loadEepFile(name, ctx);
    case FileFormat::Bin:
    case FileFormat::Txt:
        return loadBlockFile(name, ctx);
    case FileFormat::Map:
        return loadMapFile(name, ctx);
    case FileFormat::Unknown:
        break;
    }
    return nextFile();
}

} // namespace

Result<LoadOutcome> loadUserFiles(const QStringList& names, BlockList& userBlocks,
                                  quint16& userHWid, Interaction& ui, LoadReport& report) {
    report = LoadReport();
    BusyPointer busy(ui);
    // Every file works on this copy; a rejected file leaves the User's list as it was.
    BlockList blocks = userBlocks;
    quint16 hwid = userHWid;
    LoadOutcome outcome = LoadOutcome::Loaded;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        const FileFormat format = formatOfName(name);
        if (format == FileFormat::Unknown) {
            report.skipped << fileTitleOf(name); // passed over, and named afterwards
            continue;
        }
        LoadContext ctx{blocks, hwid, static_cast<int>(i + 1), ui, &report.problems};
        const StepResult step = loadOneFile(name, format, ctx);
        if (!step) return step.status();
        if (step->endsLoad) {
            outcome = LoadOutcome::EndedEarly;
            report.endedAt = shown(name);
            report.endReason = step->why;
            break;
        }
    }
    sortBlocks(blocks);
    userBlocks = std::move(blocks);
    userHWid = hwid;
    return outcome;
}

Result<QVector<PlannedFile>> planUserFiles(const QString& name, const BlockList& blocks,
                                           quint16 hwid, const QVector<int>& selectedRows) {
    using Planned = Result<QVector<PlannedFile>>;
    switch (formatOfName(name)) {
    case FileFormat::Eep: {
        BlockList chosen;
        for (const int row : selectedOrAll(blocks.size(), selectedRows))
            chosen.append(blocks[row]);
        return QVector<PlannedFile>{{name, serializeEep(chosen, hwid)}};
    }
    case FileFormat::Bin:
    case FileFormat::Txt: {
        // Single-block files take exactly the selected rows, in list order.
        QVector<int> rows;
        for (const int row : selectedRows)
            if (row >= 0 && row < blocks.size()) rows.append(row);
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        if (rows.isEmpty())
            return Planned::fail(QStringLiteral("No block is selected, so nothing was saved to "
                                                "\"%1\". Select the blocks to save as "
                                                "single-block files and save again.")
                                     .arg(shown(name)));
        return planBlockFiles(name, blocks, rows, hwid);
    }
    case FileFormat::Map:
    case FileFormat::Unknown:
        break;
    }
    return Planned::fail(ErrorKind::BadInput,
                         QStringLiteral("Nothing was saved: \"%1\" does not end in .eep, .bin or "
                                        ".txt. Choose a name with one of these extensions.")
                             .arg(shown(name)));
}

Result<QVector<PlannedFile>> saveUserFiles(const QString& name, const BlockList& blocks,
                                           quint16 hwid, const QVector<int>& selectedRows,
                                           Interaction& ui, Replace replace) {
    BusyPointer busy(ui);
    Result<QVector<PlannedFile>> files = planUserFiles(name, blocks, hwid, selectedRows);
    if (!files) return files;
    if (const Status written = writeFilesTogether(files.value(), replace); !written)
        return written;
    return files;
}

} // namespace x45
