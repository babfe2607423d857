#include "mainform.h"

#include "blocklistmodel.h"
#include "blocklistview.h"
#include "widgetinteraction.h"

#include "blocks/descriptions.h"

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

MainForm::MainForm(PhoneEngine::PortMaker makePort, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("x45eep " X45_VERSION));
    w_ = buildMainForm(this);
    resize(1000, 650);

    ui_ = std::make_unique<WidgetInteraction>(this, w_.statusPanel, w_.progressBar);
    ui_->setDetailPanel(w_.paceLabel);
    engine_ = std::make_unique<EngineThread>(std::move(makePort));
    descriptions_ = std::make_unique<DescriptionHolder>();

    phoneModel_ = new BlockListModel(ws_.PhoneBlocks, this);
    userModel_ = new BlockListModel(ws_.UserBlocks, this);
    w_.phoneList->setBlockModel(phoneModel_);
    w_.userList->setBlockModel(userModel_);

    // Empty lists, first port chosen, "Ready". The port stays closed until "Init".
    fillPortChoices();
    w_.portChoice->setCurrentIndex(0);
    choosePort(0);
    ui_->setStatus(QStringLiteral("Ready"));
    connectControls();
    connectEngine();
}

MainForm::~MainForm() {
    // The engine's thread ends first: its operation stopped, its questions answered as closed.
    engine_.reset();
    // The User's list's viewport sends events to the drop filter while it is destroyed, when the
    // view has already become a plain QWidget: stop filtering before anything goes.
    w_.userList->viewport()->removeEventFilter(this);
    // The list views and their models read the lists in ws_, a member, which dies before the base
    // class deletes the child widgets (and lays them out once more as the window closes). Views
    // and models therefore go here, while the lists are still there.
    delete w_.phoneList;
    delete w_.userList;
    w_.phoneList = w_.userList = nullptr;
    delete phoneModel_;
    delete userModel_;
    phoneModel_ = userModel_ = nullptr;
}

void MainForm::connectControls() {
    const auto onClick = [this](QAbstractButton* button, void (MainForm::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, handler);
    };
    // While an operation runs, the only phone button still on is its "Stop".
    const auto onPhoneClick = [this](QAbstractButton* button, void (MainForm::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] {
            if (running_)
                stopRun();
            else
                (this->*handler)();
        });
    };
    onPhoneClick(w_.startButton, &MainForm::initStopOrExit);
    onPhoneClick(w_.loadAllButton, &MainForm::loadAll);
    onPhoneClick(w_.loadCustomButton, &MainForm::loadCustom);
    onPhoneClick(w_.saveAllButton, &MainForm::saveAll);
    onPhoneClick(w_.saveSelectedButton, &MainForm::saveSelected);
    onPhoneClick(w_.deleteOnPhoneButton, &MainForm::deleteOnPhone);
    onClick(w_.selectPhoneRowsButton, &MainForm::selectAllPhoneRows);
    onClick(w_.selectUserRowsButton, &MainForm::selectAllUserRows);
    onClick(w_.removePhoneRowsButton, &MainForm::removePhoneRows);
    onClick(w_.removeUserRowsButton, &MainForm::removeUserRows);
    onClick(w_.copyToUserButton, &MainForm::copyToUserList);
    onClick(w_.copyToPhoneButton, &MainForm::copyToPhoneList);
    onClick(w_.compareButton, &MainForm::compareLists);
    onClick(w_.loadUserButton, &MainForm::chooseUserFiles);
    onClick(w_.saveUserButton, &MainForm::saveUserList);
    onClick(w_.saveTraceButton, &MainForm::saveTrace);
    connect(w_.hwidDescriptionsCheck, &QCheckBox::toggled, this, &MainForm::applyDescriptionRule);
    connect(w_.portChoice, &QComboBox::currentIndexChanged, this, &MainForm::choosePort);
    connect(w_.phoneList, &BlockListView::idHeaderClicked, this, &MainForm::sortPhoneList);
    connect(w_.userList, &BlockListView::idHeaderClicked, this, &MainForm::sortUserList);
    connect(w_.phoneList, &BlockListView::viewRequested, this, &MainForm::viewPhoneBlock);
    connect(w_.userList, &BlockListView::viewRequested, this, &MainForm::viewUserBlock);
    connectKeys();
}

void MainForm::connectKeys() {
    // A key acts exactly as its button: nothing happens while the button is disabled.
    const auto key = [this](const QKeySequence& keys, QWidget* on, Qt::ShortcutContext where,
                            QAbstractButton* button) {
        auto* shortcut = new QShortcut(keys, on);
        shortcut->setContext(where);
        connect(shortcut, &QShortcut::activated, this, [button] {
            if (button->isEnabled()) button->click();
        });
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_O), this, Qt::WindowShortcut, w_.loadUserButton);
    key(QKeySequence(Qt::CTRL | Qt::Key_S), this, Qt::WindowShortcut, w_.saveUserButton);
    key(QKeySequence(Qt::Key_Delete), w_.phoneList, Qt::WidgetWithChildrenShortcut,
        w_.removePhoneRowsButton);
    key(QKeySequence(Qt::Key_Delete), w_.userList, Qt::WidgetWithChildrenShortcut,
        w_.removeUserRowsButton);
    key(QKeySequence(Qt::CTRL | Qt::Key_A), w_.phoneList, Qt::WidgetWithChildrenShortcut,
        w_.selectPhoneRowsButton);
    key(QKeySequence(Qt::CTRL | Qt::Key_A), w_.userList, Qt::WidgetWithChildrenShortcut,
        w_.selectUserRowsButton);
    // Files dropped on the User's list are loaded as "Load" loads them.
    w_.userList->setAcceptDrops(true);
    w_.userList->viewport()->installEventFilter(this);
}

// --- Ports -------------------------------------------------------------------------------------

void MainForm::fillPortChoices() {
    w_.portChoice->clear();
    for (int i = 0; i < 4; ++i)
        w_.portChoice->addItem(QStringLiteral("COM%1").arg(i + 1), comPortDevice(i));
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
    int at = w_.portChoice->findData(device);
    if (at < 0) at = w_.portChoice->findText(device);
    if (at < 0) {
        w_.portChoice->addItem(label.isEmpty() ? device : label, device);
        at = w_.portChoice->count() - 1;
        w_.portChoice->setItemData(at, device, Qt::ToolTipRole);
        // The box stays narrow; its open list is as wide as the longest adapter name.
        QAbstractItemView* list = w_.portChoice->view();
        list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() + 8);
    }
    if (select) w_.portChoice->setCurrentIndex(at);
}

void MainForm::choosePort(int index) {
    if (index >= 0) portNumber_ = index + 1;
    // The box may be too narrow for a long path: the tooltip has it whole.
    const QString device = portDevice();
    const QString shown = w_.portChoice->currentText();
    w_.portChoice->setToolTip(shown == device || shown.isEmpty()
                              ? device
                              : QStringLiteral("%1\n%2").arg(shown, device));
}

QString MainForm::portDevice() const {
    const int index = portNumber_ - 1;
    if (index >= 0 && index < w_.portChoice->count()) return w_.portChoice->itemData(index).toString();
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
        ui_->informLater(QStringLiteral("The description file %1 does not exist; blocks are "
                                        "shown without descriptions. Check the name given with "
                                        "--descriptions.")
                             .arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (const Status status = table.loadFile(path); !status)
        ui_->informLater(status.message());
    for (const QString& warning : table.warnings())
        qWarning("%s: %s", qPrintable(path), qPrintable(warning));
}

QString MainForm::describeBlock(qint16 blockId, quint16 hwid) const {
    return descriptions_->table.describe(blockId, hwid, w_.hwidDescriptionsCheck->isChecked());
}

} // namespace x45::ui
