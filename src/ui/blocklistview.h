#pragma once
// The report-style list view of one block list: five columns, several rows selectable, whole rows,
// uniform row heights so that 32767 rows stay quick. Only the "ID" header asks for a sort.

#include <QList>
#include <QTreeView>

class QMenu;

namespace x45::ui {

class BlockListModel;

class BlockListView final : public QTreeView {
    Q_OBJECT
public:
    explicit BlockListView(QWidget* parent = nullptr);

    void setBlockModel(BlockListModel* model);
    [[nodiscard]] BlockListModel* blockModel() const { return model_; }

    [[nodiscard]] int rowCountShown() const;
    // Selected rows, ascending (0-based positions).
    [[nodiscard]] QList<int> selectedRowPositions() const;
    [[nodiscard]] bool isRowSelected(int row) const;
    // Marks one row selected and leaves the others as they are.
    void selectRow(int row);
    // Exactly this row selected and current; the view is not scrolled.
    void selectOnlyRow(int row);
    // Every row selected, then the input focus.
    void selectAllRowsAndFocus();
    // The context menu for a point of the viewport: "View" for the row there (disabled when there
    // is none). The caller owns it.
    [[nodiscard]] QMenu* makeContextMenu(const QPoint& at);

signals:
    // The "ID" column header was clicked.
    void idHeaderClicked();
    // A row is to be opened in a viewer: double-click, Enter on the current row, or "View".
    void viewRequested(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    BlockListModel* model_ = nullptr;
};

} // namespace x45::ui
