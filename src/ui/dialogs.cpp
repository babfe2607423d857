#include "dialogs.h"

#include "hexdumpview.h"

#include "blocks/hexdump.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace x45::ui {

namespace {

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    // Enter is handled by the text boxes themselves; no button grabs it as the dialog's default.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

bool isEnterKey(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

// --- RewritePromtForm --------------------------------------------------------------------------

RewritePromtForm::RewritePromtForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("RewritePromtForm"));
    setWindowTitle(QStringLiteral("Rewrite promt"));
    setModal(true);

    auto* image = makeLabel(QStringLiteral("Image1"), QString(), this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    image->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(size));
    image->setAlignment(Qt::AlignTop);
    question_ = makeLabel(QStringLiteral("Label1"),
                          QStringLiteral("Are you sure you want to rewrite all entries?"), this);
    question_->setWordWrap(true);
    question_->setMinimumWidth(300);

    const QStringList captions = {QStringLiteral("Yes"), QStringLiteral("No"),
                                  QStringLiteral("Yes for all"), QStringLiteral("No for all"),
                                  QStringLiteral("Cancel")};
    QList<QPushButton*> buttons;
    for (int code = 1; code <= static_cast<int>(RewriteAnswer::Cancel); ++code) {
        auto* button = makeButton(QStringLiteral("Command%1").arg(code), captions[code - 1], this);
        connect(button, &QPushButton::clicked, this,
                [this, code] { answer(static_cast<RewriteAnswer>(code)); });
        // Enter presses the button that has the focus, and "Yes" when none has.
        button->setAutoDefault(true);
        buttons.append(button);
    }
    buttons[0]->setDefault(true);
    // "Yes", "No", "Cancel" in the first row; "Yes for all", "No for all" below "Yes" and "No".
    auto* grid = new QGridLayout;
    grid->addWidget(buttons[0], 0, 0);
    grid->addWidget(buttons[1], 0, 1);
    grid->addWidget(buttons[4], 0, 2);
    grid->addWidget(buttons[2], 1, 0);
    grid->addWidget(buttons[3], 1, 1);
    setTabOrder(buttons[0], buttons[1]);
    setTabOrder(buttons[1], buttons[2]);
    setTabOrder(buttons[2], buttons[3]);
    setTabOrder(buttons[3], buttons[4]);

    auto* top = new QHBoxLayout;
    top->addWidget(image);
    top->addWidget(question_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(grid);
}

RewriteAnswer RewritePromtForm::ask(const QString& question) {
    prepare(question);
    exec();
    return answer_;
}

QWidget* RewritePromtForm::askLater(const QString& question,
                                    const std::function<void(RewriteAnswer)>& answered) {
    prepare(question);
    connect(this, &QDialog::finished, this, [this, answered] { answered(answer_); },
            Qt::SingleShotConnection);
    open();
    return this;
}

void RewritePromtForm::prepare(const QString& question) {
    question_->setText(question);
    // One line for a question of usual length, so "Phone's EEPROM" is not broken apart; a
    // longer one wraps.
    question_->setMinimumWidth(
        std::clamp(question_->fontMetrics().horizontalAdvance(question) + 8, 300, 560));
    adjustSize();
    findChild<QPushButton*>(QStringLiteral("Command1"))->setFocus();
}

void RewritePromtForm::answer(RewriteAnswer code) {
    answer_ = code;
    done(static_cast<int>(code));
}

void RewritePromtForm::reject() {
    // A close through the frame must not silently repeat the previous answer (it could be
    // "Yes for all"): it stops the run instead.
    answer(RewriteAnswer::Cancel);
}

// --- LoadCustomPromt ---------------------------------------------------------------------------

LoadCustomPromt::LoadCustomPromt(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LoadCustomPromt"));
    setWindowTitle(QStringLiteral("Load custom blocks"));
    setModal(true);

    auto* label = makeLabel(QStringLiteral("Label1"),
                            QStringLiteral("Enter numbers for blocks to load:"), this);
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("BlockNumsText"));
    text_->setMinimumWidth(280);
    text_->installEventFilter(this);
    label->setBuddy(text_);
    auto* ok = makeButton(QStringLiteral("OK_Button"), QStringLiteral("OK"), this);
    auto* cancel = makeButton(QStringLiteral("Cancel_Button"), QStringLiteral("Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(text_);
    layout->addLayout(buttons);
}

QString LoadCustomPromt::ask() {
    prepare();
    return typed(exec());
}

QWidget* LoadCustomPromt::askLater(const std::function<void(const QString&)>& answered) {
    prepare();
    connect(this, &QDialog::finished, this,
            [this, answered](int result) { answered(typed(result)); }, Qt::SingleShotConnection);
    open();
    return this;
}

void LoadCustomPromt::prepare() {
    text_->clear();
    text_->setFocus();
}

QString LoadCustomPromt::typed(int result) const {
    return result == QDialog::Accepted ? text_->text().trimmed() : QString();
}

bool LoadCustomPromt::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text_ && isEnterKey(event)) {
        accept();
        return true; // swallowed
    }
    return QDialog::eventFilter(watched, event);
}

// --- LoadUserCustomPromt -----------------------------------------------------------------------

LoadUserCustomPromt::LoadUserCustomPromt(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LoadUserCustomPromt"));
    setWindowTitle(QStringLiteral("Load custom block file"));
    setModal(true);

    message_ = makeLabel(QStringLiteral("MainLabel"), QString(), this);
    message_->setWordWrap(true);
    message_->setMinimumWidth(320);
    auto* numberLabel = makeLabel(QStringLiteral("Label1"), QStringLiteral("Block number:"), this);
    auto* versionLabel =
        makeLabel(QStringLiteral("Label2"), QStringLiteral("Block version:"), this);
    number_ = new QLineEdit(this);
    number_->setObjectName(QStringLiteral("BlockNumberText"));
    version_ = new QLineEdit(this);
    version_->setObjectName(QStringLiteral("BlockVersionText"));
    number_->installEventFilter(this);
    version_->installEventFilter(this);
    numberLabel->setBuddy(number_);
    versionLabel->setBuddy(version_);
    auto* ok = makeButton(QStringLiteral("OK_Button"), QStringLiteral("OK"), this);
    auto* cancel = makeButton(QStringLiteral("Cancel_Button"), QStringLiteral("Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* fields = new QGridLayout;
    fields->addWidget(numberLabel, 0, 0);
    fields->addWidget(number_, 0, 1);
    fields->addWidget(versionLabel, 1, 0);
    fields->addWidget(version_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message_);
    layout->addLayout(fields);
    layout->addLayout(buttons);
}

BlockInfoTexts LoadUserCustomPromt::ask(const QString& message) {
    prepare(message);
    return typed(exec());
}

QWidget* LoadUserCustomPromt::askLater(const QString& message,
                                       const std::function<void(const BlockInfoTexts&)>& answered) {
    prepare(message);
    connect(this, &QDialog::finished, this,
            [this, answered](int result) { answered(typed(result)); }, Qt::SingleShotConnection);
    open();
    return this;
}

void LoadUserCustomPromt::prepare(const QString& message) {
    message_->setText(message);
    number_->clear();
    version_->clear();
    number_->setFocus();
}

BlockInfoTexts LoadUserCustomPromt::typed(int result) const {
    if (result != QDialog::Accepted) return {};
    return {number_->text().trimmed(), version_->text().trimmed()};
}

bool LoadUserCustomPromt::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == number_ || watched == version_) && isEnterKey(event)) {
        accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// --- CompareForm -------------------------------------------------------------------------------

CompareForm::CompareForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CompareForm"));
    setWindowTitle(QStringLiteral("List's compare result"));
    setModal(true);

    QGridLayout* lists = makeNumberLists();
    summary_ = makeLabel(QStringLiteral("CompareDifference"), QString(), this);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    next_ = makeButton(QStringLiteral("CompareNextDifference"), QStringLiteral("Next difference"),
                       this);
    connect(next_, &QPushButton::clicked, this, &CompareForm::nextDifference);
    auto* detail = new QHBoxLayout;
    detail->addWidget(summary_, 1);
    detail->addWidget(next_, 0, Qt::AlignBottom);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addLayout(detail);
    layout->addLayout(makeByteSides(), 1);
    layout->addLayout(buttons);
    clearBytes();
    // The copies are of no use once the dialog is closed; the next comparison brings its own.
    connect(this, &QDialog::finished, this, [this] {
        user_.clear();
        phone_.clear();
    });
    // A first show would cap the size at two thirds of the screen, too narrow for both byte
    // views; as wide as they need, within the screen.
    QSize size = sizeHint();
    if (const QScreen* where = screen()) size = size.boundedTo(where->availableGeometry().size());
    resize(size);
}

QGridLayout* CompareForm::makeNumberLists() {
    const auto makeList = [this](const QString& name) {
        auto* list = new QListWidget(this);
        list->setObjectName(name);
        list->setUniformItemSizes(true);
        list->setMinimumSize(150, 220);
        return list;
    };
    phoneMissing_ = makeList(QStringLiteral("PhoneMissingList"));
    userMissing_ = makeList(QStringLiteral("UserMissingList"));
    different_ = makeList(QStringLiteral("DifferentList"));
    connect(different_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            clearBytes();
        else
            showBlock(different_->item(row)->text().toInt());
    });
    auto* grid = new QGridLayout;
    grid->addWidget(makeLabel(QStringLiteral("Label1"),
                              QStringLiteral("User's blocks\nmissing in Phone's list:"), this),
                    0, 0, Qt::AlignBottom);
    grid->addWidget(makeLabel(QStringLiteral("Label2"),
                              QStringLiteral("Phone's blocks\nmissing in User's list:"), this),
                    0, 1, Qt::AlignBottom);
    grid->addWidget(makeLabel(QStringLiteral("Label3"), QStringLiteral("Different blocks:"), this),
                    0, 2, Qt::AlignBottom);
    grid->addWidget(phoneMissing_, 1, 0);
    grid->addWidget(userMissing_, 1, 1);
    grid->addWidget(different_, 1, 2);
    return grid;
}

QGridLayout* CompareForm::makeByteSides() {
    // Both versions of the chosen different block, side by side, scrolled together.
    userCaption_ = makeLabel(QStringLiteral("CompareUserCaption"), QString(), this);
    phoneCaption_ = makeLabel(QStringLiteral("ComparePhoneCaption"), QString(), this);
    userBytes_ = new HexDumpView(this);
    userBytes_->setObjectName(QStringLiteral("CompareUserBytes"));
    phoneBytes_ = new HexDumpView(this);
    phoneBytes_->setObjectName(QStringLiteral("ComparePhoneBytes"));
    connect(userBytes_->verticalScrollBar(), &QScrollBar::valueChanged,
            phoneBytes_->verticalScrollBar(), &QScrollBar::setValue);
    connect(phoneBytes_->verticalScrollBar(), &QScrollBar::valueChanged,
            userBytes_->verticalScrollBar(), &QScrollBar::setValue);
    // The Phone's version on the left, as the main window has the Phone's list.
    auto* sides = new QGridLayout;
    sides->addWidget(phoneCaption_, 0, 0);
    sides->addWidget(userCaption_, 0, 1);
    sides->addWidget(phoneBytes_, 1, 0);
    sides->addWidget(userBytes_, 1, 1);
    sides->setRowStretch(1, 1);
    return sides;
}

void CompareForm::setCompared(const BlockList& user, const BlockList& phone) {
    user_ = user;
    phone_ = phone;
}

void CompareForm::clearBytes() {
    ranges_.clear();
    nextRange_ = 0;
    summary_->setText(QStringLiteral("Choose a block under \"Different blocks:\" to see both "
                                     "versions byte by byte."));
    userCaption_->setText(QStringLiteral("User's block"));
    phoneCaption_->setText(QStringLiteral("Phone's block"));
    for (HexDumpView* side : {userBytes_, phoneBytes_}) {
        side->hexModel()->setBytes({});
        side->hexModel()->setMarks({});
    }
    next_->setEnabled(false);
}

namespace {

QString sideCaption(const QString& side, const EEPBlock& b) {
    return QStringLiteral("%1 block %2: version %3, %4 bytes")
        .arg(side)
        .arg(b.BlockId)
        .arg(b.BlockVer)
        .arg(b.Data.size());
}

// What differs between the two versions, one line each for version, length and bytes.
QString differenceText(const EEPBlock& u, const EEPBlock& p, const QVector<ByteRange>& ranges) {
    // The Phone's side first, as in the byte views below.
    const QString version =
        u.BlockVer == p.BlockVer
            ? QStringLiteral("Version: %1 on both sides").arg(u.BlockVer)
            : QStringLiteral("Version: %1 (Phone's) / %2 (User's)").arg(p.BlockVer).arg(u.BlockVer);
    const QString length = u.Data.size() == p.Data.size()
                               ? QStringLiteral("Length: %1 bytes on both sides").arg(u.Data.size())
                               : QStringLiteral("Length: %1 (Phone's) / %2 (User's) bytes")
                                     .arg(p.Data.size())
                                     .arg(u.Data.size());
    QVector<ByteRange> shared = ranges;
    QString tail;
    if (!shared.isEmpty() && isTail(shared.last(), u.Data.size(), p.Data.size())) {
        const ByteRange t = shared.takeLast();
        tail = QStringLiteral("; %1 from %2 only in the %3 block")
                   .arg(t.length)
                   .arg(hexdump::offsetText(t.offset))
                   .arg(u.Data.size() > p.Data.size() ? QStringLiteral("User's")
                                                      : QStringLiteral("Phone's"));
    }
    const QString bytes = shared.isEmpty()
                              ? QStringLiteral("Bytes: the bytes both versions have are equal")
                              : QStringLiteral("Bytes: %1 differ in %2 range(s), the first at %3")
                                    .arg(byteCount(shared))
                                    .arg(shared.size())
                                    .arg(hexdump::offsetText(shared.first().offset));
    return QStringLiteral("Block %1\n%2\n%3\n%4%5")
        .arg(u.BlockId)
        .arg(version, length, bytes, tail);
}

} // namespace

void CompareForm::showBlock(int blockId) {
    const qsizetype u = findBlock(user_, blockId);
    const qsizetype p = findBlock(phone_, blockId);
    if (u < 0 || p < 0) {
        clearBytes();
        return;
    }
    const EEPBlock& ub = user_.at(u);
    const EEPBlock& pb = phone_.at(p);
    ranges_ = byteDiff(ub.Data, pb.Data);
    nextRange_ = 0;
    summary_->setText(differenceText(ub, pb, ranges_));
    userCaption_->setText(sideCaption(QStringLiteral("User's"), ub));
    phoneCaption_->setText(sideCaption(QStringLiteral("Phone's"), pb));
    userBytes_->hexModel()->setBytes(ub.Data);
    phoneBytes_->hexModel()->setBytes(pb.Data);
    userBytes_->hexModel()->setMarks(ranges_);
    phoneBytes_->hexModel()->setMarks(ranges_);
    next_->setEnabled(!ranges_.isEmpty());
    nextDifference();
}

void CompareForm::nextDifference() {
    if (ranges_.isEmpty()) return;
    const qsizetype at = ranges_.at(nextRange_ % ranges_.size()).offset;
    nextRange_ = (nextRange_ + 1) % static_cast<int>(ranges_.size());
    for (HexDumpView* side : {userBytes_, phoneBytes_})
        side->showOffset(qMin(at, side->hexModel()->bytes().size() - 1));
}

void CompareForm::showResult(const QList<int>& phoneMissing, const QList<int>& userMissing,
                             const QList<int>& different) {
    auto refill = [](QListWidget* list, const QList<int>& numbers) {
        list->clear();
        QStringList texts;
        texts.reserve(numbers.size());
        for (int n : numbers)
            texts.append(QString::number(n));
        list->addItems(texts);
    };
    refill(phoneMissing_, phoneMissing);
    refill(userMissing_, userMissing);
    refill(different_, different);
    clearBytes();
    open();
}

} // namespace x45::ui
