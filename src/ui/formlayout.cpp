#include "formlayout.h"

#include "blocklistview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace x45::ui {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

// A value label: right-aligned figures beside their caption, selectable so they can be copied.
QLabel* valueLabel(QWidget* parent, const char* name, int minChars) {
    auto* l = label(parent, name, QString());
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QLatin1Char('0')) * minChars);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, bool enabled) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setEnabled(enabled);
    b->setAutoDefault(false);
    return b;
}

QToolButton* arrow(QWidget* parent, const char* name, QStyle::StandardPixmap pixmap,
                   const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setIcon(parent->style()->standardIcon(pixmap, nullptr, parent));
    b->setIconSize(QSize(28, 28));
    b->setFixedSize(44, 44);
    b->setToolTip(tip);
    b->setAutoRaise(false);
    return b;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& title) {
    auto* f = new QGroupBox(title, parent);
    f->setObjectName(QLatin1String(name));
    return f;
}

} // namespace

FormWidgets buildMainForm(QMainWindow* window) {
    FormWidgets w;
    auto* central = new QWidget(window);
    central->setObjectName(QStringLiteral("MainFormClient"));
    window->setCentralWidget(central);

    // " Mobile initialization ": port and Init.
    w.mobileInitFrame =
        frame(central, "MobileInitFrame", QStringLiteral(" Mobile initialization "));
    w.portChoice = new QComboBox(w.mobileInitFrame);
    w.portChoice->setObjectName(QStringLiteral("Combo3"));
    // Room for a device path such as /dev/ttyUSB0 or /tmp/x45sim-demo; a longer one is in the
    // tooltip.
    w.portChoice->setMinimumContentsLength(18);
    w.portChoice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    w.startButton = button(w.mobileInitFrame, "StartButton", QStringLiteral("Init"), true);
    {
        auto* grid = new QGridLayout(w.mobileInitFrame);
        grid->addWidget(label(w.mobileInitFrame, "Label4", QStringLiteral("Port:")), 0, 0);
        grid->addWidget(w.portChoice, 0, 1);
        grid->addWidget(w.startButton, 1, 0, 1, 2);
        grid->setRowStretch(2, 1);
    }

    // " Mobile information ": five captions with their values.
    auto* mobile = frame(central, "MobileFrame", QStringLiteral(" Mobile information "));
    w.modelLabel = valueLabel(mobile, "Label9", 14);
    w.swVersionLabel = valueLabel(mobile, "Label10", 14);
    w.hardwareIdLabel = valueLabel(mobile, "Label12", 14);
    w.langGroupLabel = valueLabel(mobile, "Label11", 14);
    w.imeiLabel = valueLabel(mobile, "Label27", 16);
    {
        auto* grid = new QGridLayout(mobile);
        const QList<std::pair<QLabel*, QLabel*>> rows = {
            {label(mobile, "Label3", QStringLiteral("Phone model:")), w.modelLabel},
            {label(mobile, "Label5", QStringLiteral("Mobile SW ver:")), w.swVersionLabel},
            {label(mobile, "Label7", QStringLiteral("Hardware ver:")), w.hardwareIdLabel},
            {label(mobile, "Label8", QStringLiteral("Lang Group:")), w.langGroupLabel},
            {label(mobile, "Label26", QStringLiteral("IMEI:")), w.imeiLabel},
        };
        for (int r = 0; r < rows.size(); ++r) {
            grid->addWidget(rows[r].first, r, 0);
            grid->addWidget(rows[r].second, r, 1);
        }
        grid->setColumnStretch(1, 1);
        grid->setVerticalSpacing(2);
    }

    // " EEPROM space (bytes): ": the two areas side by side, each value left of its caption.
    auto* space = frame(central, "EEFULLSpaceFrame", QStringLiteral(" EEPROM space (bytes): "));
    w.eefullInBufferLabel = valueLabel(space, "Label17", 8);
    w.eefullAtAllLabel = valueLabel(space, "Label21", 8);
    w.eefullForDeletedLabel = valueLabel(space, "Label14", 8);
    w.eeliteInBufferLabel = valueLabel(space, "Label16", 8);
    w.eeliteAtAllLabel = valueLabel(space, "Label15", 8);
    w.eeliteForDeletedLabel = valueLabel(space, "Label20", 8);
    for (QLabel* value : w.spaceLabels())
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    {
        auto* grid = new QGridLayout(space);
        auto* eefull = label(space, "Label25", QStringLiteral("EEFULL"));
        auto* eelite = label(space, "Label24", QStringLiteral("EELITE"));
        QFont bold = eefull->font();
        bold.setBold(true);
        eefull->setFont(bold);
        eelite->setFont(bold);
        grid->addWidget(eefull, 0, 0, 1, 2);
        grid->addWidget(w.eefullInBufferLabel, 1, 0);
        grid->addWidget(label(space, "Label19", QStringLiteral("free in buffer.")), 1, 1);
        grid->addWidget(w.eefullAtAllLabel, 2, 0);
        grid->addWidget(label(space, "Label23", QStringLiteral("free at all.")), 2, 1);
        grid->addWidget(w.eefullForDeletedLabel, 3, 0);
        grid->addWidget(label(space, "Label6", QStringLiteral("free for deleted.")), 3, 1);
        grid->addWidget(eelite, 0, 3, 1, 2);
        grid->addWidget(w.eeliteInBufferLabel, 1, 3);
        grid->addWidget(label(space, "Label13", QStringLiteral("free in buffer.")), 1, 4);
        grid->addWidget(w.eeliteAtAllLabel, 2, 3);
        grid->addWidget(label(space, "Label18", QStringLiteral("free at all.")), 2, 4);
        grid->addWidget(w.eeliteForDeletedLabel, 3, 3);
        grid->addWidget(label(space, "Label22", QStringLiteral("free for deleted.")), 3, 4);
        grid->setColumnMinimumWidth(2, 16);
        grid->setVerticalSpacing(2);
        grid->setRowStretch(4, 1);
    }

    // The Phone's list with its buttons beneath.
    w.phoneList = new BlockListView(central);
    w.phoneList->setObjectName(QStringLiteral("PhoneEEPList"));
    w.loadAllButton = button(central, "LoadPhonesButton", QStringLiteral("Load all"), false);
    w.loadCustomButton =
        button(central, "LoadCustomPhonesButton", QStringLiteral("Load custom..."), false);
    w.saveAllButton = button(central, "SavePhonesButton", QStringLiteral("Save all"), false);
    w.saveSelectedButton =
        button(central, "SaveSelPhonesButton", QStringLiteral("Save selected"), false);
    w.deleteOnPhoneButton =
        button(central, "DeleteNowButton", QStringLiteral("Delete directly"), false);
    w.removePhoneRowsButton =
        button(central, "DeletePhonesButton", QStringLiteral("Delete from list"), true);
    w.selectPhoneRowsButton =
        button(central, "SelectAllPhonesButton", QStringLiteral("Select all"), true);
    w.verifyCheck = new QCheckBox(QStringLiteral("Verify"), central);
    w.verifyCheck->setObjectName(QStringLiteral("VerifyCheck"));
    w.verifyCheck->setToolTip(QStringLiteral("Read every block twice when loading, and read every "
                                             "written block back when saving"));
    auto* phoneColumn = new QVBoxLayout;
    phoneColumn->addWidget(label(central, "Label2", QStringLiteral("Phone's EEPROM blocks:")));
    phoneColumn->addWidget(w.phoneList, 1);
    {
        auto* grid = new QGridLayout;
        grid->addWidget(w.loadAllButton, 0, 0);
        grid->addWidget(w.loadCustomButton, 0, 1);
        grid->addWidget(w.saveAllButton, 0, 2);
        grid->addWidget(w.saveSelectedButton, 0, 3);
        grid->addWidget(w.deleteOnPhoneButton, 1, 0);
        grid->addWidget(w.removePhoneRowsButton, 1, 1);
        grid->addWidget(w.verifyCheck, 1, 2, Qt::AlignCenter);
        grid->addWidget(w.selectPhoneRowsButton, 1, 3);
        phoneColumn->addLayout(grid);
    }

    // The copy arrows between the lists point the way the blocks go.
    w.copyToUserButton = arrow(central, "CopyLeftButton", QStyle::SP_ArrowRight,
                             QStringLiteral("Copy the selected Phone's blocks to the User's list"));
    w.copyToPhoneButton =
        arrow(central, "CopyRightButton", QStyle::SP_ArrowLeft,
              QStringLiteral("Copy the selected User's blocks to the Phone's list"));
    auto* arrows = new QVBoxLayout;
    arrows->addStretch(1);
    arrows->addWidget(w.copyToUserButton);
    arrows->addSpacing(12);
    arrows->addWidget(w.copyToPhoneButton);
    arrows->addStretch(1);

    // The User's list with its buttons beneath.
    w.userList = new BlockListView(central);
    w.userList->setObjectName(QStringLiteral("UserEEPList"));
    w.loadUserButton = button(central, "LoadUsersButton", QStringLiteral("Load"), true);
    w.saveUserButton = button(central, "SaveUsersButton", QStringLiteral("Save"), true);
    w.removeUserRowsButton = button(central, "DeleteUsersButton", QStringLiteral("Delete"), true);
    w.selectUserRowsButton =
        button(central, "SelectAllUsersButton", QStringLiteral("Select all"), true);
    w.userOriginLabel = label(central, "UserOriginLabel", QString());
    // The names never widen the window; the whole paths are in the tooltip.
    w.userOriginLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* userCaption = new QHBoxLayout;
    userCaption->addWidget(label(central, "Label1", QStringLiteral("User's EEPROM blocks:")));
    userCaption->addWidget(w.userOriginLabel, 1);
    auto* userColumn = new QVBoxLayout;
    userColumn->addLayout(userCaption);
    userColumn->addWidget(w.userList, 1);
    {
        auto* grid = new QGridLayout;
        grid->addWidget(w.loadUserButton, 0, 0);
        grid->addWidget(w.saveUserButton, 0, 1);
        grid->addWidget(w.removeUserRowsButton, 1, 0);
        grid->addWidget(w.selectUserRowsButton, 1, 1);
        userColumn->addLayout(grid);
    }

    // Compare and the description rule.
    w.compareButton = button(central, "CompareButton", QStringLiteral("Compare"), true);
    w.hwidDescriptionsCheck =
        new QCheckBox(QStringLiteral("Check Hardware ver for description"), central);
    w.hwidDescriptionsCheck->setObjectName(QStringLiteral("CheckHWidForDesc"));

    auto* top = new QHBoxLayout;
    top->addWidget(w.mobileInitFrame);
    top->addWidget(mobile, 1);
    top->addWidget(space);
    auto* lists = new QHBoxLayout;
    lists->addLayout(phoneColumn, 1);
    lists->addLayout(arrows);
    lists->addLayout(userColumn, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(w.compareButton);
    bottom->addSpacing(12);
    bottom->addWidget(w.hwidDescriptionsCheck);
    bottom->addStretch(1);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addLayout(lists, 1);
    layout->addLayout(bottom);

    // Status bar: the text panel, the pace of a run, "Save trace...", then the progress bar.
    w.statusBar = window->statusBar();
    w.statusBar->setObjectName(QStringLiteral("StatusBar"));
    w.statusPanel = new QLabel(w.statusBar);
    w.statusPanel->setObjectName(QStringLiteral("StatusPanel"));
    w.statusBar->addWidget(w.statusPanel, 1);
    w.paceLabel = new QLabel(w.statusBar);
    w.paceLabel->setObjectName(QStringLiteral("ProgressDetail"));
    w.statusBar->addPermanentWidget(w.paceLabel);
    w.saveTraceButton = new QToolButton(w.statusBar);
    w.saveTraceButton->setObjectName(QStringLiteral("SaveTraceButton"));
    w.saveTraceButton->setText(QStringLiteral("Save trace..."));
    w.saveTraceButton->setToolTip(
        QStringLiteral("Save every frame to and from the phone in this session to a text file"));
    w.saveTraceButton->setAutoRaise(true);
    w.saveTraceButton->setEnabled(false);
    w.statusBar->addPermanentWidget(w.saveTraceButton);
    w.progressBar = new QProgressBar(w.statusBar);
    w.progressBar->setObjectName(QStringLiteral("ProgressBar"));
    w.progressBar->setRange(0, 1);
    w.progressBar->setValue(0);
    w.progressBar->setFixedWidth(260);
    w.progressBar->setTextVisible(false);
    w.statusBar->addPermanentWidget(w.progressBar);
    return w;
}

} // namespace x45::ui
