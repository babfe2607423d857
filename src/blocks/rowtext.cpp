#include "rowtext.h"

namespace x45 {

QStringList rowColumnTitles() {
    return {QStringLiteral("ID"), QStringLiteral("Type"), QStringLiteral("Ver."),
            QStringLiteral("Length"), QStringLiteral("Description")};
}

QString idText(qint16 blockId) {
    return blockId < 0 ? QString::number(blockId) : QLatin1Char(' ') + QString::number(blockId);
}

QString rowCellText(const EEPBlock& block, int column, const QString& description) {
    switch (column) {
    case IdColumnText:
        return idText(block.BlockId);
    case TypeColumnText:
        return blockType(block.BlockId);
    case VerColumnText:
        return QString::number(block.BlockVer);
    case LengthColumnText:
        return QString::number(block.Data.size());
    case DescriptionColumnText:
        return description;
    default:
        return {};
    }
}

QStringList rowTexts(const EEPBlock& block, const QString& description) {
    QStringList cells;
    cells.reserve(RowColumnCount);
    for (int c = 0; c < RowColumnCount; ++c)
        cells.append(rowCellText(block, c, description));
    return cells;
}

} // namespace x45
