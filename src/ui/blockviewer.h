#pragma once
// A read-only window over one block of a list: number, type, version, length, description and
// its bytes as a hex dump. It keeps the block as it was when opened and watches the list: once the
// list's block of that number differs, or is gone, the viewer says so and can show the list's
// block instead. Several viewers may be open at once; none is modal. A viewer is a tool window of
// the main window: it opens beside it (cascaded after the other viewers) and never larger than
// the screen.

#include "blocks/eepblock.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;

namespace x45::ui {

class BlockListModel;
class HexDumpView;

class BlockViewer final : public QWidget {
    Q_OBJECT
public:
    // Shows block `row` of the list behind `list`; listName is "Phone's list" or "User's list".
    BlockViewer(BlockListModel* list, int row, const QString& listName, QWidget* parent = nullptr);

    [[nodiscard]] const EEPBlock& block() const { return block_; }
    [[nodiscard]] BlockListModel* listModel() const { return list_; }
    [[nodiscard]] HexDumpView* table() const { return table_; }
    // Empty while the list holds the block as shown.
    [[nodiscard]] QString notice() const;
    // The list's block of this number is shown again (after a change).
    void showCurrent();
    // Puts the viewer beside `window` (right of it, else left, else at the screen's edge), the
    // `cascade`-th of the viewers open, within the window's screen.
    void placeBeside(const QWidget* window, int cascade);

private:
    // The block's number, type, version, length and description; the notice with its button.
    QGridLayout* makeFacts();
    QHBoxLayout* makeNoticeLine();
    // The table's height for this many rows of bytes.
    [[nodiscard]] int tableHeight(int rows) const;
    void display(const EEPBlock& block, const QString& description);
    // Compares the block shown with the list's block of that number.
    void checkList();

    QPointer<BlockListModel> list_;
    QString listName_;
    EEPBlock block_;
    QLabel* number_;
    QLabel* type_;
    QLabel* version_;
    QLabel* length_;
    QLabel* description_;
    QLabel* notice_;
    QPushButton* current_;
    HexDumpView* table_;
    int noticeHeight_ = 0; // what the window grew by to show the notice
};

} // namespace x45::ui
