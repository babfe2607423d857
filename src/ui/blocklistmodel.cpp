#include "blocklistmodel.h"

#include "ascending.h"

#include "blocks/rowtext.h"

namespace x45::ui {

BlockListModel::BlockListModel(BlockList& blocks, QObject* parent)
    : QAbstractTableModel(parent), blocks_(blocks) {}

int BlockListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(descriptions_.size());
}

int BlockListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QStringList BlockListModel::columnTitles() {
    return rowColumnTitles();
}

QString BlockListModel::cellText(int row, int column) const {
    if (row < 0 || row >= rowCount() || row >= blocks_.size()) return {};
    return rowCellText(blocks_.at(row), column, descriptions_.at(row));
}

QString BlockListModel::description(int row) const {
    return row >= 0 && row < descriptions_.size() ? descriptions_.at(row) : QString();
}

QVariant BlockListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return cellText(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() != DescriptionColumn &&
        index.column() != TypeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant BlockListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return columnTitles().at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void BlockListModel::fill(const Describer& describe) {
    beginResetModel();
    descriptions_.clear();
    descriptions_.reserve(blocks_.size());
    for (const EEPBlock& block : std::as_const(blocks_))
        descriptions_.append(describe ? describe(block.BlockId) : QString());
    endResetModel();
}

void BlockListModel::removePositions(const QList<int>& rows) {
    const QList<int> positions = ascendingOnce(rows);
    // Contiguous runs from the bottom up: earlier positions stay valid, and a whole selected list
    // goes in one step instead of one shift per row.
    int end = static_cast<int>(positions.size());
    while (end > 0) {
        int begin = end - 1;
        while (begin > 0 && positions[begin - 1] == positions[begin] - 1)
            --begin;
        const int first = positions[begin];
        const int last = positions[end - 1];
        if (first >= 0 && last < rowCount()) {
            beginRemoveRows({}, first, last);
            blocks_.remove(first, last - first + 1);
            descriptions_.remove(first, last - first + 1);
            endRemoveRows();
        }
        end = begin;
    }
}

void BlockListModel::rowReplaced(int row, const QString& description) {
    if (row < 0 || row >= rowCount()) return;
    descriptions_[row] = description;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void BlockListModel::rowAppended(const QString& description) {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    descriptions_.append(description);
    endInsertRows();
}

} // namespace x45::ui
