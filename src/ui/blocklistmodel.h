#pragma once
// Table model over one block list. Row n always shows block n of the list it watches; the model
// never changes the blocks' contents itself, it only follows what the list does (fill, removal,
// copy), so the two stay in step.

#include "blocks/eepblock.h"
#include "blocks/rowtext.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>

namespace x45::ui {

class BlockListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        IdColumn = 0,
        TypeColumn,
        VerColumn,
        LengthColumn,
        DescriptionColumn,
        ColumnCount
    };

    // Description of a block number under the list's current hardware id and check-box rule.
    using Describer = std::function<QString(qint16 blockId)>;

    BlockListModel(BlockList& blocks, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    [[nodiscard]] static QStringList columnTitles();
    // The text a row shows in a column ("ID" carries one leading blank in place of a plus sign).
    [[nodiscard]] QString cellText(int row, int column) const;
    // Description cached for a row; copied rows keep their source's text until the next fill.
    [[nodiscard]] QString description(int row) const;

    [[nodiscard]] BlockList& blocks() const { return blocks_; }

    // Rebuilds every row from the list, looking each description up once.
    void fill(const Describer& describe);
    // Removes the rows at these positions together with their blocks, in step.
    void removePositions(const QList<int>& rows);
    // A block was replaced in place at row (already stored in the list): take its new texts.
    void rowReplaced(int row, const QString& description);
    // A block was appended to the list (already stored): show it as a new last row.
    void rowAppended(const QString& description);

private:
    BlockList& blocks_;
    QStringList descriptions_; // one per row, in step with blocks_
};

} // namespace x45::ui
