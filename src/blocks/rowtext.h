#pragma once
// The texts a block shows in the list views' columns, shared by the window and the command line.

#include "blocks/eepblock.h"

#include <QString>
#include <QStringList>

namespace x45 {

enum RowColumn {
    IdColumnText = 0,
    TypeColumnText,
    VerColumnText,
    LengthColumnText,
    DescriptionColumnText,
    RowColumnCount
};

// "ID", "Type", "Ver.", "Length", "Description".
[[nodiscard]] QStringList rowColumnTitles();

// The "ID" cell: one leading blank in place of a plus sign (" 5077"), a minus sign instead for
// negative numbers ("-12").
[[nodiscard]] QString idText(qint16 blockId);

// One cell of a block's row; `description` is what the list looked up for it.
[[nodiscard]] QString rowCellText(const EEPBlock& block, int column, const QString& description);

// All five cells in column order.
[[nodiscard]] QStringList rowTexts(const EEPBlock& block, const QString& description);

} // namespace x45
