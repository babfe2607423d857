#include "hexdumpview.h"

#include "ascending.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace x45::ui {

// --- HexDumpModel ------------------------------------------------------------------------------

HexDumpModel::HexDumpModel(QObject* parent) : QAbstractTableModel(parent) {}

void HexDumpModel::setBytes(const ByteStr& bytes) {
    beginResetModel();
    bytes_ = bytes;
    endResetModel();
}

void HexDumpModel::setMarks(const QVector<ByteRange>& marks) {
    marks_ = marks;
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

bool HexDumpModel::isMarked(qsizetype offset) const {
    // The first range that ends after the offset is the only one that can hold it.
    const auto it = std::upper_bound(marks_.cbegin(), marks_.cend(), offset,
                                     [](qsizetype at, const ByteRange& r) { return at < r.end(); });
    return it != marks_.cend() && it->contains(offset);
}

int HexDumpModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(hexdump::rowCount(bytes_.size()));
}

int HexDumpModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

qsizetype HexDumpModel::offsetOf(const QModelIndex& index) const {
    if (!index.isValid() || index.column() >= AsciiColumn) return -1;
    const qsizetype offset = hexdump::rowOffset(index.row()) + index.column();
    return offset < bytes_.size() ? offset : -1;
}

QModelIndex HexDumpModel::indexOf(qsizetype offset) const {
    if (offset < 0 || offset >= bytes_.size()) return {};
    return index(static_cast<int>(offset / hexdump::RowBytes),
                 static_cast<int>(offset % hexdump::RowBytes));
}

QVariant HexDumpModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row();
    if (index.column() == AsciiColumn) {
        if (role == Qt::DisplayRole) return hexdump::rowAsciiText(bytes_, row);
        if (role == MarkedCharsRole) {
            QList<int> marked;
            for (int i = 0; i < hexdump::rowLength(bytes_.size(), row); ++i)
                if (isMarked(hexdump::rowOffset(row) + i)) marked << i;
            return QVariant::fromValue(marked);
        }
        return {};
    }
    const qsizetype offset = offsetOf(index);
    if (offset < 0) return {};
    switch (role) {
    case Qt::DisplayRole:
        return hexdump::byteText(byteAt(bytes_, offset));
    case Qt::ToolTipRole:
        return QStringLiteral("Offset %1 (%2): %3 (%4)")
            .arg(hexdump::offsetText(offset))
            .arg(offset)
            .arg(hexdump::byteText(byteAt(bytes_, offset)))
            .arg(byteAt(bytes_, offset));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignCenter);
    case Qt::BackgroundRole:
        if (isMarked(offset)) return QColor(255, 190, 190);
        return {};
    case Qt::ForegroundRole:
        // Dark text on the mark's light colour, whatever the palette.
        if (isMarked(offset)) return QColor(Qt::black);
        return {};
    case Qt::FontRole:
        if (isMarked(offset)) {
            QFont bold;
            bold.setBold(true); // merged into the view's font: only the weight changes
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant HexDumpModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Vertical) return hexdump::offsetText(hexdump::rowOffset(section));
    if (section == AsciiColumn) return QStringLiteral("ASCII");
    if (section >= 0 && section < AsciiColumn) return hexdump::byteText(quint8(section));
    return {};
}

Qt::ItemFlags HexDumpModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    if (index.column() != AsciiColumn && offsetOf(index) < 0) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QString HexDumpModel::hexTextOf(const QModelIndexList& cells) const {
    QVector<qsizetype> offsets;
    offsets.reserve(cells.size());
    for (const QModelIndex& cell : cells) {
        if (cell.column() == AsciiColumn) {
            const qsizetype first = hexdump::rowOffset(cell.row());
            for (int i = 0; i < hexdump::rowLength(bytes_.size(), cell.row()); ++i)
                offsets.append(first + i);
        } else if (const qsizetype at = offsetOf(cell); at >= 0) {
            offsets.append(at);
        }
    }
    offsets = ascendingOnce(std::move(offsets));
    ByteStr picked;
    picked.reserve(offsets.size());
    for (const qsizetype at : std::as_const(offsets))
        picked.append(bytes_.at(at));
    return hexdump::rangeHexText(picked, 0, picked.size());
}

// --- HexDumpView -------------------------------------------------------------------------------

namespace {

// The marks of an ASCII cell: each marked character on the marks' colour, in bold, as its byte
// is marked in the hex cells.
class AsciiMarksDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const auto marked = index.data(HexDumpModel::MarkedCharsRole).value<QList<int>>();
        if (marked.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString text = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

        // Where the item views put the text: their margin inside the text rectangle.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget)
                               .adjusted(margin, 0, -margin, 0);
        const QFontMetrics fm(opt.font);
        QFont bold = opt.font;
        bold.setBold(true);
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        painter->setClipRect(opt.rect);
        int x = area.left();
        for (int i = 0; i < text.size(); ++i) {
            const QString ch = text.mid(i, 1);
            const int w = fm.horizontalAdvance(ch);
            const QRect cell(x, area.top(), w, area.height());
            const bool mark = marked.contains(i);
            if (mark && !selected) painter->fillRect(cell, QColor(255, 190, 190));
            painter->setFont(mark ? bold : opt.font);
            painter->setPen(mark && !selected ? QColor(Qt::black)
                                              : opt.palette.color(selected ? QPalette::HighlightedText
                                                                           : QPalette::Text));
            painter->drawText(cell, Qt::AlignCenter, ch);
            x += w;
        }
        painter->restore();
    }
};

} // namespace

HexDumpView::HexDumpView(QWidget* parent) : QTableView(parent), model_(new HexDumpModel(this)) {
    setModel(model_);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);

    // Fixed sizes: nothing is measured per row, whatever the block's length.
    const QFontMetrics fm(font());
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fm.height() + 4);
    rows->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rows->setFixedWidth(fm.horizontalAdvance(QStringLiteral("00000000")) + 12);
    QHeaderView* columns = horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Fixed);
    columns->setMinimumSectionSize(1);
    const int byteWidth = fm.horizontalAdvance(QStringLiteral("00")) + 8;
    for (int column = 0; column < HexDumpModel::AsciiColumn; ++column)
        setColumnWidth(column, byteWidth);
    setItemDelegateForColumn(HexDumpModel::AsciiColumn, new AsciiMarksDelegate(this));
    setColumnWidth(HexDumpModel::AsciiColumn,
                   fm.horizontalAdvance(QString(hexdump::RowBytes, QLatin1Char('W'))) + 12);
    columns->setStretchLastSection(true);

    auto* copy = new QAction(QStringLiteral("Copy"), this);
    copy->setObjectName(QStringLiteral("HexCopyAction"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &HexDumpView::copySelection);
    auto* selectAll = new QAction(QStringLiteral("Select all"), this);
    selectAll->setObjectName(QStringLiteral("HexSelectAllAction"));
    selectAll->setShortcut(QKeySequence::SelectAll);
    selectAll->setShortcutContext(Qt::WidgetShortcut);
    connect(selectAll, &QAction::triggered, this, &QTableView::selectAll);
    addAction(copy);
    addAction(selectAll);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString HexDumpView::selectedHexText() const {
    return selectionModel() ? model_->hexTextOf(selectionModel()->selectedIndexes()) : QString();
}

void HexDumpView::copySelection() const {
    const QString text = selectedHexText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void HexDumpView::showOffset(qsizetype offset) {
    const QModelIndex cell = model_->indexOf(offset);
    if (!cell.isValid()) return;
    scrollTo(cell, QAbstractItemView::PositionAtCenter);
    selectionModel()->setCurrentIndex(cell, QItemSelectionModel::NoUpdate);
}

void HexDumpView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copySelection();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void HexDumpView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
    // The item views hand the anchor's point as the rectangle's first corner and the point
    // reached as its second, before any normalising.
    const QModelIndex from = indexAt(rect.topLeft());
    const QModelIndex to = indexAt(rect.bottomRight());
    const qsizetype size = model_->bytes().size();
    if (!from.isValid() || !to.isValid() || size == 0) {
        QTableView::setSelection(rect, flags);
        return;
    }
    // A cell past the end stands for the last byte, the ASCII cell for its row's last byte.
    const auto offsetAt = [size](const QModelIndex& cell) {
        const qsizetype at =
            hexdump::rowOffset(cell.row()) + qMin(cell.column(), hexdump::RowBytes - 1);
        return qMin(at, size - 1);
    };
    qsizetype first = offsetAt(from);
    qsizetype last = offsetAt(to);
    if (first > last) std::swap(first, last);
    const int firstRow = static_cast<int>(first / hexdump::RowBytes);
    const int lastRow = static_cast<int>(last / hexdump::RowBytes);
    const int firstColumn = static_cast<int>(first % hexdump::RowBytes);
    const int lastColumn = static_cast<int>(last % hexdump::RowBytes);
    QItemSelection selection;
    const auto add = [&](int row1, int column1, int row2, int column2) {
        if (row1 <= row2)
            selection.select(model_->index(row1, column1), model_->index(row2, column2));
    };
    if (firstRow == lastRow) {
        add(firstRow, firstColumn, firstRow, lastColumn);
    } else {
        add(firstRow, firstColumn, firstRow, hexdump::RowBytes - 1);
        // Whole rows in between, their ASCII included.
        add(firstRow + 1, 0, lastRow - 1, HexDumpModel::AsciiColumn);
        add(lastRow, 0, lastRow, lastColumn);
    }
    selectionModel()->select(selection, flags);
}

QSize HexDumpView::sizeHint() const {
    int width =
        verticalHeader()->width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth() + 2;
    for (int column = 0; column < HexDumpModel::ColumnCount; ++column)
        width += columnWidth(column);
    return {width,
            verticalHeader()->defaultSectionSize() * 20 + horizontalHeader()->sizeHint().height()};
}

} // namespace x45::ui
