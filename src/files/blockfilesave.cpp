// The files of a save in single-block files.

#include "files/blockfile.h"

#include "files/syspath.h"

namespace x45 {

bool isHexTextName(const QString& path) {
    return path.right(3).toLower() == QStringLiteral("txt");
}

Result<QVector<PlannedFile>> planBlockFiles(const QString& path, const BlockList& blocks,
                                            const QVector<int>& selectedRows, quint16 hwid) {
    using Planned = Result<QVector<PlannedFile>>;
    for (const int row : selectedRows)
        if (row < 0 || row >= blocks.size())
            return Planned::fail(QStringLiteral("Row %1 is not in the User's list of %2 blocks; "
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
            return Planned::fail(QStringLiteral("The file \"%1\" could not be written: its id "
                                                "file would have the same name. Nothing was "
                                                "saved; choose another name and save again.")
                                     .arg(shownName(dataPath)));
        planned.append({dataPath, isHexTextName(dataPath) ? hexText(block.Data) : block.Data});
        planned.append({idPath, idFileText({block.BlockId, block.BlockVer, hwid})});
    }
    return planned;
}

} // namespace x45
