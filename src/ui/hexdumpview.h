#pragma once
// The bytes of one block as a table: a row per 16 bytes with its offset in the row header, one
// cell per byte in hex and the row's ASCII in the last column. The rows follow the core's rule
// (blocks/hexdump.h); rows have one fixed height, so a 65,535-byte block (4,096 rows) opens at
// once. Ranges can be marked (the compare dialog's differing bytes).

#include "base/bytes.h"
#include "blocks/bytediff.h"
#include "blocks/hexdump.h"

#include <QAbstractTableModel>
#include <QTableView>
#include <QVector>

namespace x45::ui {

class HexDumpModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum : int { AsciiColumn = hexdump::RowBytes, ColumnCount };
    // Of an ASCII cell: the positions (0..15) of its row's marked bytes, as a QList<int>.
    static constexpr int MarkedCharsRole = Qt::UserRole + 1;

    explicit HexDumpModel(QObject* parent = nullptr);

    void setBytes(const ByteStr& bytes);
    [[nodiscard]] const ByteStr& bytes() const { return bytes_; }
    // Ranges shown marked, ascending and not overlapping (as byteDiff gives them).
    void setMarks(const QVector<ByteRange>& marks);
    [[nodiscard]] bool isMarked(qsizetype offset) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Offset of the byte a hex cell shows; -1 for the ASCII column and cells past the end.
    [[nodiscard]] qsizetype offsetOf(const QModelIndex& index) const;
    // Cell of the byte at this offset (invalid when out of range).
    [[nodiscard]] QModelIndex indexOf(qsizetype offset) const;
    // The bytes of these cells in offset order as hex text; an ASCII cell stands for every byte of
    // its row, and a byte picked twice counts once.
    [[nodiscard]] QString hexTextOf(const QModelIndexList& cells) const;

private:
    ByteStr bytes_;
    QVector<ByteRange> marks_;
};

class HexDumpView final : public QTableView {
    Q_OBJECT
public:
    explicit HexDumpView(QWidget* parent = nullptr);

    [[nodiscard]] HexDumpModel* hexModel() const { return model_; }
    // The selected bytes as hex text (empty when nothing is selected).
    [[nodiscard]] QString selectedHexText() const;
    // Puts selectedHexText() on the clipboard (Ctrl+C and the "Copy" entry of the context menu).
    void copySelection() const;
    // Scrolls the byte's row into view and makes its cell current.
    void showOffset(qsizetype offset);
    // Wide enough for the offsets, the 16 bytes and the ASCII without a horizontal scroll bar.
    [[nodiscard]] QSize sizeHint() const override;

protected:
    // Ctrl+C copies the selection (the item view alone would copy the current cell's text).
    void keyPressEvent(QKeyEvent* event) override;
    // A drag or Shift selection takes the bytes from the anchor cell to the cell reached, row
    // by row as they follow in the block, instead of a rectangle of cells.
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;

private:
    HexDumpModel* model_;
};

} // namespace x45::ui
