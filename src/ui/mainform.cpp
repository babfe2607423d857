#include "mainform.h"

#include "blocklistmodel.h"
#include "blocklistview.h"
#include "widgetinteraction.h"

#include "blocks/descriptions.h"
#include "link/link.h"
#include "link/linktrace.h"
#include "link/session.h"
#include "transfer/transfer.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QShortcut>
#include <QToolButton>

namespace x45::ui {

struct DescriptionHolder {
    Descriptions table;
};

MainForm::MainForm(SerialPort& port, QWidget* parent) : QMainWindow(parent), port_(port) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("x45eep " X45_VERSION));
    w_ = buildMainForm(this);
    resize(1000, 650);

    link_ = std::make_unique<Link>(port_);
    trace_ = std::make_unique<LinkTrace>(); // records from the first "Init" on
    link_->setTrace(trace_.get());
    ui_ = std::make_unique<WidgetInteraction>(this, w_.StatusPanel, w_.ProgressBar);
    ui_->setDetailPanel(w_.ProgressDetail);
    session_ = std::make_unique<Session>(*link_, *ui_);
    transfer_ = std::make_unique<PhoneTransfer>(*session_);
    descriptions_ = std::make_unique<DescriptionHolder>();

    phoneModel_ = new BlockListModel(ws_.PhoneBlocks, this);
    userModel_ = new BlockListModel(ws_.UserBlocks, this);
    w_.PhoneEEPList->setBlockModel(phoneModel_);
    w_.UserEEPList->setBlockModel(userModel_);

    // Form_Load: empty lists, first port chosen, "Ready". The port stays closed until "Init".
    fillPortChoices();
    w_.Combo3->setCurrentIndex(0);
    Combo3_Click(0);
    ui_->setStatus(QStringLiteral("Ready"));
    connectControls();
}

MainForm::~MainForm() {
    // The session and transfer refer to the link and the interaction: drop them first.
    transfer_.reset();
    session_.reset();
    link_->setTrace(nullptr);
    // The User's list's viewport sends events to the drop filter while it is destroyed, when the
    // view has already become a plain QWidget: stop filtering before anything goes.
    w_.UserEEPList->viewport()->removeEventFilter(this);
    // The list views and their models read the lists in ws_, a member, which dies before the base
    // class deletes the child widgets (and lays them out once more as the window closes). Views
    // and models therefore go here, while the lists are still there.
    delete w_.PhoneEEPList;
    delete w_.UserEEPList;
    w_.PhoneEEPList = w_.UserEEPList = nullptr;
    delete phoneModel_;
    delete userModel_;
    phoneModel_ = userModel_ = nullptr;
}

void MainForm::connectControls() {
    connect(w_.StartButton, &QPushButton::clicked, this, &MainForm::StartButton_Click);
    connect(w_.Combo3, &QComboBox::currentIndexChanged, this, &MainForm::Combo3_Click);
    connect(w_.PhoneEEPList, &BlockListView::idHeaderClicked, this,
            &MainForm::PhoneEEPList_ColumnClick);
    connect(w_.UserEEPList, &BlockListView::idHeaderClicked, this,
            &MainForm::UserEEPList_ColumnClick);
    connect(w_.SelectAllPhonesButton, &QPushButton::clicked, this,
            &MainForm::SelectAllPhonesButton_Click);
    connect(w_.SelectAllUsersButton, &QPushButton::clicked, this,
            &MainForm::SelectAllUsersButton_Click);
    connect(w_.DeletePhonesButton, &QPushButton::clicked, this,
            &MainForm::DeletePhonesButton_Click);
    connect(w_.DeleteUsersButton, &QPushButton::clicked, this, &MainForm::DeleteUsersButton_Click);
    connect(w_.CopyLeftButton, &QToolButton::clicked, this, &MainForm::CopyLeftButton_Click);
    connect(w_.CopyRightButton, &QToolButton::clicked, this, &MainForm::CopyRightButton_Click);
    connect(w_.CompareButton, &QPushButton::clicked, this, &MainForm::CompareButton_Click);
    connect(w_.PhoneEEPList, &BlockListView::viewRequested, this, &MainForm::ViewPhoneBlock);
    connect(w_.UserEEPList, &BlockListView::viewRequested, this, &MainForm::ViewUserBlock);
    connect(w_.CheckHWidForDesc, &QCheckBox::toggled, this, &MainForm::CheckHWidForDesc_Click);
    connect(w_.LoadUsersButton, &QPushButton::clicked, this, &MainForm::LoadUsersButton_Click);
    connect(w_.SaveUsersButton, &QPushButton::clicked, this, &MainForm::SaveUsersButton_Click);
    connect(w_.LoadPhonesButton, &QPushButton::clicked, this, &MainForm::LoadPhonesButton_Click);
    connect(w_.LoadCustomPhonesButton, &QPushButton::clicked, this,
            &MainForm::LoadCustomPhonesButton_Click);
    connect(w_.SavePhonesButton, &QPushButton::clicked, this, &MainForm::SavePhonesButton_Click);
    connect(w_.SaveSelPhonesButton, &QPushButton::clicked, this,
            &MainForm::SaveSelPhonesButton_Click);
    connect(w_.DeleteNowButton, &QPushButton::clicked, this, &MainForm::DeleteNowButton_Click);
    connect(w_.SaveTraceButton, &QToolButton::clicked, this, &MainForm::SaveTraceButton_Click);
    connect(session_.get(), &Session::identified, this, &MainForm::showIdentity);
    connect(session_.get(), &Session::spaceChanged, this, &MainForm::showSpace);
    connectKeys();
}

void MainForm::connectKeys() {
    // A key acts exactly as its button: nothing happens while the button is disabled.
    const auto press = [](QAbstractButton* button) {
        if (button->isEnabled()) button->click();
    };
    const auto key = [this, press](const QKeySequence& keys, QWidget* on, Qt::ShortcutContext where,
                                   QAbstractButton* button) {
        auto* shortcut = new QShortcut(keys, on);
        shortcut->setContext(where);
        connect(shortcut, &QShortcut::activated, this, [press, button] { press(button); });
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_O), this, Qt::WindowShortcut, w_.LoadUsersButton);
    key(QKeySequence(Qt::CTRL | Qt::Key_S), this, Qt::WindowShortcut, w_.SaveUsersButton);
    key(QKeySequence(Qt::Key_Delete), w_.PhoneEEPList, Qt::WidgetWithChildrenShortcut,
        w_.DeletePhonesButton);
    key(QKeySequence(Qt::Key_Delete), w_.UserEEPList, Qt::WidgetWithChildrenShortcut,
        w_.DeleteUsersButton);
    key(QKeySequence(Qt::CTRL | Qt::Key_A), w_.PhoneEEPList, Qt::WidgetWithChildrenShortcut,
        w_.SelectAllPhonesButton);
    key(QKeySequence(Qt::CTRL | Qt::Key_A), w_.UserEEPList, Qt::WidgetWithChildrenShortcut,
        w_.SelectAllUsersButton);
    // Files dropped on the User's list are loaded as "Load" loads them.
    w_.UserEEPList->setAcceptDrops(true);
    w_.UserEEPList->viewport()->installEventFilter(this);
}

// --- Ports -------------------------------------------------------------------------------------

void MainForm::fillPortChoices() {
    w_.Combo3->clear();
    for (int i = 0; i < 4; ++i)
        w_.Combo3->addItem(QStringLiteral("COM%1").arg(i + 1), comPortDevice(i));
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        const QString device = info.portName();
#else
        const QString device = info.systemLocation();
#endif
        // With several USB cables plugged in, the adapter's name tells them apart.
        const QString description = info.description().trimmed();
        addPortChoice(device, false,
                      description.isEmpty()
                          ? device
                          : QStringLiteral("%1 \u2013 %2").arg(info.portName(), description));
    }
}

void MainForm::addPortChoice(const QString& device, bool select, const QString& label) {
    if (device.isEmpty()) return;
    int at = w_.Combo3->findData(device);
    if (at < 0) at = w_.Combo3->findText(device);
    if (at < 0) {
        w_.Combo3->addItem(label.isEmpty() ? device : label, device);
        at = w_.Combo3->count() - 1;
        w_.Combo3->setItemData(at, device, Qt::ToolTipRole);
        // The box stays narrow; its open list is as wide as the longest adapter name.
        QAbstractItemView* list = w_.Combo3->view();
        list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() + 8);
    }
    if (select) w_.Combo3->setCurrentIndex(at);
}

void MainForm::Combo3_Click(int index) {
    if (index >= 0) portNumber_ = index + 1;
    // The box may be too narrow for a long path: the tooltip has it whole.
    const QString device = portDevice();
    const QString shown = w_.Combo3->currentText();
    w_.Combo3->setToolTip(shown == device || shown.isEmpty()
                              ? device
                              : QStringLiteral("%1\n%2").arg(shown, device));
}

QString MainForm::portDevice() const {
    const int index = portNumber_ - 1;
    if (index >= 0 && index < w_.Combo3->count()) return w_.Combo3->itemData(index).toString();
    return comPortDevice(0);
}

// --- Descriptions ------------------------------------------------------------------------------

void MainForm::loadDescriptions(const QString& explicitPath) {
    Descriptions& table = descriptions_->table;
    table.clear();
    const QString path = explicitPath.isEmpty() ? Descriptions::locate() : explicitPath;
    if (path.isEmpty()) return; // no description file: every description is empty
    if (!explicitPath.isEmpty() && !QFileInfo::exists(path)) {
        // A file named on purpose that is not there is worth saying; the default one is optional.
        ui_->message(QStringLiteral("The description file %1 does not exist; blocks are shown "
                                    "without descriptions. Check the name given with "
                                    "--descriptions.")
                         .arg(QDir::toNativeSeparators(path)),
                     QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
        return;
    }
    if (const Status status = table.loadFile(path); !status)
        ui_->message(status.message(), QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
    for (const QString& warning : table.warnings())
        qWarning("%s: %s", qPrintable(path), qPrintable(warning));
}

QString MainForm::DescribeBlock(qint16 blockId, quint16 hwid) const {
    return descriptions_->table.DescribeBlock(blockId, hwid, w_.CheckHWidForDesc->isChecked());
}

} // namespace x45::ui
