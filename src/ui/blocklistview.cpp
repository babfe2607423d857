#include "blocklistview.h"

#include "ascending.h"
#include "blocklistmodel.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>


namespace x45::ui {

BlockListView::BlockListView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setAlternatingRowColors(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(true);
    connect(header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == BlockListModel::IdColumn) emit idHeaderClicked();
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) emit viewRequested(index.row());
    });
}

void BlockListView::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        emit viewRequested(currentIndex().row());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

QMenu* BlockListView::makeContextMenu(const QPoint& at) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("BlockListMenu"));
    QAction* view = menu->addAction(QStringLiteral("View"));
    view->setObjectName(QStringLiteral("ViewBlockAction"));
    const QModelIndex index = indexAt(at);
    view->setEnabled(index.isValid());
    const int row = index.row();
    connect(view, &QAction::triggered, this, [this, row] { emit viewRequested(row); });
    return menu;
}

void BlockListView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu(viewport()->mapFromGlobal(event->globalPos()));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void BlockListView::setBlockModel(BlockListModel* model) {
    model_ = model;
    setModel(model);
    // Fixed widths: sizing to contents would measure every one of up to 32767 rows.
    header()->setSectionResizeMode(QHeaderView::Interactive);
    const QFontMetrics fm = fontMetrics();
    setColumnWidth(BlockListModel::IdColumn, fm.horizontalAdvance(QStringLiteral(" -32768__")));
    setColumnWidth(BlockListModel::TypeColumn, fm.horizontalAdvance(QStringLiteral("EEfull___")));
    setColumnWidth(BlockListModel::VerColumn, fm.horizontalAdvance(QStringLiteral("Ver.___")));
    setColumnWidth(BlockListModel::LengthColumn, fm.horizontalAdvance(QStringLiteral("Length___")));
}

int BlockListView::rowCountShown() const {
    return model_ ? model_->rowCount() : 0;
}

QList<int> BlockListView::selectedRowPositions() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange& range : selection)
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    return ascendingOnce(rows);
}

bool BlockListView::isRowSelected(int row) const {
    return model_ && selectionModel() && selectionModel()->isRowSelected(row, QModelIndex());
}

void BlockListView::selectRow(int row) {
    if (!model_ || row < 0 || row >= model_->rowCount()) return;
    selectionModel()->select(model_->index(row, 0),
                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void BlockListView::selectOnlyRow(int row) {
    if (!model_ || !selectionModel()) return;
    if (row < 0 || row >= model_->rowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    selectionModel()->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
}

void BlockListView::selectAllRowsAndFocus() {
    if (model_ && model_->rowCount() > 0) {
        const QItemSelection all(
            model_->index(0, 0),
            model_->index(model_->rowCount() - 1, BlockListModel::ColumnCount - 1));
        selectionModel()->select(all, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    setFocus(Qt::OtherFocusReason);
}

} // namespace x45::ui
