#include "blockviewer.h"

#include "blocklistmodel.h"
#include "hexdumpview.h"

#include "blocks/hexdump.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
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
    : QWidget(parent, Qt::Window), list_(list), listName_(listName) {
    setObjectName(QStringLiteral("BlockViewer"));
    setAttribute(Qt::WA_DeleteOnClose);

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
    auto* noticeLine = new QHBoxLayout;
    noticeLine->addWidget(notice_, 1);
    noticeLine->addWidget(current_, 0, Qt::AlignTop);

    table_ = new HexDumpView(this);
    table_->setObjectName(QStringLiteral("BlockViewerTable"));

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
    const int tableHeight = table_->horizontalHeader()->sizeHint().height() +
                            rows * table_->verticalHeader()->defaultSectionSize() +
                            2 * table_->frameWidth() + 2;
    resize(table_->sizeHint().width() + 24,
           layout->sizeHint().height() - table_->sizeHint().height() + tableHeight);
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
    notice_->setVisible(!text.isEmpty());
    current_->setVisible(present);
}

void BlockViewer::showCurrent() {
    if (!list_) return;
    const qsizetype at = findBlock(list_->blocks(), block_.BlockId);
    if (at < 0) return;
    display(list_->blocks().at(at), list_->description(static_cast<int>(at)));
    checkList();
}

} // namespace x45::ui
