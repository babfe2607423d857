#include "blockviewer.h"

#include "blocklistmodel.h"
#include "hexdumpview.h"

#include "blocks/hexdump.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

namespace x45::ui {

namespace {

QLabel* valueLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

BlockViewer::BlockViewer(BlockListModel* list, int row, const QString& listName, QWidget* parent)
    : QWidget(parent, Qt::Tool), list_(list), listName_(listName) {
    setObjectName(QStringLiteral("BlockViewer"));
    setAttribute(Qt::WA_DeleteOnClose);

    QGridLayout* facts = makeFacts();
    QHBoxLayout* noticeLine = makeNoticeLine();
    table_ = new HexDumpView(this);
    table_->setObjectName(QStringLiteral("BlockViewerTable"));
    // Never fewer than four rows, whatever else the window shows.
    table_->setMinimumHeight(tableHeight(4) - 2);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("BlockViewerClose"));
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(facts);
    layout->addLayout(noticeLine);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    if (list_ && row >= 0 && row < list_->blocks().size())
        display(list_->blocks().at(row), list_->description(row));
    if (list_) {
        // Every change of the list comes through its model once the list is in step again.
        connect(list_, &QAbstractItemModel::modelReset, this, &BlockViewer::checkList);
        connect(list_, &QAbstractItemModel::rowsRemoved, this, &BlockViewer::checkList);
        connect(list_, &QAbstractItemModel::rowsInserted, this, &BlockViewer::checkList);
        connect(list_, &QAbstractItemModel::dataChanged, this, &BlockViewer::checkList);
    }
    checkList();
    // As tall as the block needs, between 4 and 24 rows; a longer block scrolls.
    const int rows =
        static_cast<int>(std::clamp<qsizetype>(hexdump::rowCount(block_.Data.size()), 4, 24));
    resize(table_->sizeHint().width() + 24,
           layout->sizeHint().height() - table_->sizeHint().height() + tableHeight(rows));
    if (const QScreen* where = screen()) resize(size().boundedTo(where->availableGeometry().size()));
}

int BlockViewer::tableHeight(int rows) const {
    return table_->horizontalHeader()->sizeHint().height() +
           rows * table_->verticalHeader()->defaultSectionSize() + 2 * table_->frameWidth() + 2;
}

QGridLayout* BlockViewer::makeFacts() {
    number_ = valueLabel("BlockViewerNumber", this);
    type_ = valueLabel("BlockViewerType", this);
    version_ = valueLabel("BlockViewerVersion", this);
    length_ = valueLabel("BlockViewerLength", this);
    description_ = valueLabel("BlockViewerDescription", this);
    description_->setWordWrap(true);
    auto* facts = new QGridLayout;
    const auto addFact = [this, facts](int line, int column, const QString& caption,
                                       QLabel* value) {
        facts->addWidget(new QLabel(caption, this), line, column * 2);
        facts->addWidget(value, line, column * 2 + 1);
    };
    addFact(0, 0, QStringLiteral("Block:"), number_);
    addFact(0, 1, QStringLiteral("Type:"), type_);
    addFact(1, 0, QStringLiteral("Version:"), version_);
    addFact(1, 1, QStringLiteral("Length:"), length_);
    facts->addWidget(new QLabel(QStringLiteral("Description:"), this), 2, 0);
    facts->addWidget(description_, 2, 1, 1, 3);
    facts->setColumnStretch(3, 1);
    return facts;
}

QHBoxLayout* BlockViewer::makeNoticeLine() {
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("BlockViewerNotice"));
    notice_->setWordWrap(true);
    notice_->setFrameShape(QFrame::StyledPanel);
    notice_->setMargin(4);
    notice_->setStyleSheet(QStringLiteral("background: #fff3c4; color: black;"));
    current_ = new QPushButton(QStringLiteral("Show the list's block"), this);
    current_->setObjectName(QStringLiteral("BlockViewerShowCurrent"));
    current_->setAutoDefault(false);
    connect(current_, &QPushButton::clicked, this, &BlockViewer::showCurrent);
    auto* line = new QHBoxLayout;
    line->addWidget(notice_, 1);
    line->addWidget(current_, 0, Qt::AlignTop);
    return line;
}

void BlockViewer::placeBeside(const QWidget* window, int cascade) {
    const QScreen* where = window->screen();
    if (!where) return;
    const QRect screenArea = where->availableGeometry();
    const QRect main = window->frameGeometry();
    // The window system's frame around the viewer, taken to be the main window's.
    const int frameWidth = main.width() - window->width();
    const int frameHeight = main.height() - window->height();
    resize(size().boundedTo(screenArea.size() - QSize(frameWidth, frameHeight)));
    const QSize outer = size() + QSize(frameWidth, frameHeight);

    constexpr int Gap = 8;
    const int step = 28 * (cascade % 8);
    int x = main.right() + 1 + Gap + step;
    if (x + outer.width() > screenArea.right() + 1) {
        x = main.left() - Gap - outer.width() - step;
        if (x < screenArea.left()) x = screenArea.right() + 1 - outer.width() - step;
    }
    int y = main.top() + step;
    x = std::clamp(x, screenArea.left(), std::max(screenArea.left(), screenArea.right() + 1 - outer.width()));
    y = std::clamp(y, screenArea.top(), std::max(screenArea.top(), screenArea.bottom() + 1 - outer.height()));
    move(x, y); // a window's position is that of its frame
}

void BlockViewer::display(const EEPBlock& block, const QString& description) {
    // A copy: the list may change or go while the viewer is open.
    block_ = block;
    setWindowTitle(QStringLiteral("Block %1 \u2013 %2").arg(block.BlockId).arg(listName_));
    number_->setText(QString::number(block.BlockId));
    type_->setText(blockType(block.BlockId));
    version_->setText(QString::number(block.BlockVer));
    length_->setText(QStringLiteral("%1 bytes").arg(block.Data.size()));
    description_->setText(description);
    table_->hexModel()->setBytes(block.Data);
}

QString BlockViewer::notice() const {
    return notice_->isHidden() ? QString() : notice_->text();
}

void BlockViewer::checkList() {
    QString text;
    bool present = false;
    const qsizetype at = list_ ? findBlock(list_->blocks(), block_.BlockId) : -1;
    if (at < 0) {
        text = QStringLiteral("This block is no longer in the %1; the bytes shown are those it "
                              "had when it was opened.")
                   .arg(listName_);
    } else if (list_->blocks().at(at) != block_) {
        present = true;
        text = QStringLiteral("This block has changed in the %1 since it was opened; the bytes "
                              "shown are those it had then.")
                   .arg(listName_);
    } else if (at < list_->rowCount()) {
        description_->setText(list_->description(static_cast<int>(at)));
    }
    notice_->setText(text);
    current_->setVisible(present);
    const bool show = !text.isEmpty();
    const bool wasShown = !notice_->isHidden();
    notice_->setVisible(show);
    // The window grows by the notice rather than the table shrinking under it, within the
    // screen, and gives the room back when the notice goes.
    if (!isVisible() || show == wasShown) return;
    if (show) {
        const int noticeWidth = table_->width() - current_->sizeHint().width() -
                                layout()->spacing();
        noticeHeight_ = std::max(notice_->heightForWidth(noticeWidth), current_->sizeHint().height()) +
                        layout()->spacing();
        int height = this->height() + noticeHeight_;
        if (const QScreen* where = screen())
            height = std::min(height, where->availableGeometry().height());
        noticeHeight_ = height - this->height();
        resize(width(), height);
    } else if (noticeHeight_ > 0) {
        resize(width(), height() - noticeHeight_);
        noticeHeight_ = 0;
    }
}

void BlockViewer::showCurrent() {
    if (!list_) return;
    const qsizetype at = findBlock(list_->blocks(), block_.BlockId);
    if (at < 0) return;
    display(list_->blocks().at(at), list_->description(static_cast<int>(at)));
    checkList();
}

} // namespace x45::ui
