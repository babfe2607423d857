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
    w.MobileInitFrame =
        frame(central, "MobileInitFrame", QStringLiteral(" Mobile initialization "));
    w.Combo3 = new QComboBox(w.MobileInitFrame);
    w.Combo3->setObjectName(QStringLiteral("Combo3"));
    // Room for a device path such as /dev/ttyUSB0 or /tmp/x45sim-demo; a longer one is in the
    // tooltip.
    w.Combo3->setMinimumContentsLength(18);
    w.Combo3->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    w.StartButton = button(w.MobileInitFrame, "StartButton", QStringLiteral("Init"), true);
    {
        auto* grid = new QGridLayout(w.MobileInitFrame);
        grid->addWidget(label(w.MobileInitFrame, "Label4", QStringLiteral("Port:")), 0, 0);
        grid->addWidget(w.Combo3, 0, 1);
        grid->addWidget(w.StartButton, 1, 0, 1, 2);
        grid->setRowStretch(2, 1);
    }

    // " Mobile information ": five captions with their values.
    auto* mobile = frame(central, "MobileFrame", QStringLiteral(" Mobile information "));
    w.Label9 = valueLabel(mobile, "Label9", 14);
    w.Label10 = valueLabel(mobile, "Label10", 14);
    w.Label12 = valueLabel(mobile, "Label12", 14);
    w.Label11 = valueLabel(mobile, "Label11", 14);
    w.Label27 = valueLabel(mobile, "Label27", 16);
    {
        auto* grid = new QGridLayout(mobile);
        const QList<std::pair<QLabel*, QLabel*>> rows = {
            {label(mobile, "Label3", QStringLiteral("Phone model:")), w.Label9},
            {label(mobile, "Label5", QStringLiteral("Mobile SW ver:")), w.Label10},
            {label(mobile, "Label7", QStringLiteral("Hardware ver:")), w.Label12},
            {label(mobile, "Label8", QStringLiteral("Lang Group:")), w.Label11},
            {label(mobile, "Label26", QStringLiteral("IMEI:")), w.Label27},
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
    w.Label17 = valueLabel(space, "Label17", 8);
    w.Label21 = valueLabel(space, "Label21", 8);
    w.Label14 = valueLabel(space, "Label14", 8);
    w.Label16 = valueLabel(space, "Label16", 8);
    w.Label15 = valueLabel(space, "Label15", 8);
    w.Label20 = valueLabel(space, "Label20", 8);
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
        grid->addWidget(w.Label17, 1, 0);
        grid->addWidget(label(space, "Label19", QStringLiteral("free in buffer.")), 1, 1);
        grid->addWidget(w.Label21, 2, 0);
        grid->addWidget(label(space, "Label23", QStringLiteral("free at all.")), 2, 1);
        grid->addWidget(w.Label14, 3, 0);
        grid->addWidget(label(space, "Label6", QStringLiteral("free for deleted.")), 3, 1);
        grid->addWidget(eelite, 0, 3, 1, 2);
        grid->addWidget(w.Label16, 1, 3);
        grid->addWidget(label(space, "Label13", QStringLiteral("free in buffer.")), 1, 4);
        grid->addWidget(w.Label15, 2, 3);
        grid->addWidget(label(space, "Label18", QStringLiteral("free at all.")), 2, 4);
        grid->addWidget(w.Label20, 3, 3);
        grid->addWidget(label(space, "Label22", QStringLiteral("free for deleted.")), 3, 4);
        grid->setColumnMinimumWidth(2, 16);
        grid->setVerticalSpacing(2);
        grid->setRowStretch(4, 1);
    }

    // The Phone's list with its buttons beneath.
    w.PhoneEEPList = new BlockListView(central);
    w.PhoneEEPList->setObjectName(QStringLiteral("PhoneEEPList"));
    w.LoadPhonesButton = button(central, "LoadPhonesButton", QStringLiteral("Load all"), false);
    w.LoadCustomPhonesButton =
        button(central, "LoadCustomPhonesButton", QStringLiteral("Load custom..."), false);
    w.SavePhonesButton = button(central, "SavePhonesButton", QStringLiteral("Save all"), false);
    w.SaveSelPhonesButton =
        button(central, "SaveSelPhonesButton", QStringLiteral("Save selected"), false);
    w.DeleteNowButton =
        button(central, "DeleteNowButton", QStringLiteral("Delete directly"), false);
    w.DeletePhonesButton =
        button(central, "DeletePhonesButton", QStringLiteral("Delete from list"), true);
    w.SelectAllPhonesButton =
        button(central, "SelectAllPhonesButton", QStringLiteral("Select all"), true);
    w.VerifyCheck = new QCheckBox(QStringLiteral("Verify"), central);
    w.VerifyCheck->setObjectName(QStringLiteral("VerifyCheck"));
    w.VerifyCheck->setToolTip(QStringLiteral("Read every block twice when loading, and read every "
                                             "written block back when saving"));
    auto* phoneColumn = new QVBoxLayout;
    phoneColumn->addWidget(label(central, "Label2", QStringLiteral("Phone's EEPROM blocks:")));
    phoneColumn->addWidget(w.PhoneEEPList, 1);
    {
        auto* grid = new QGridLayout;
        grid->addWidget(w.LoadPhonesButton, 0, 0);
        grid->addWidget(w.LoadCustomPhonesButton, 0, 1);
        grid->addWidget(w.SavePhonesButton, 0, 2);
        grid->addWidget(w.SaveSelPhonesButton, 0, 3);
        grid->addWidget(w.DeleteNowButton, 1, 0);
        grid->addWidget(w.DeletePhonesButton, 1, 1);
        grid->addWidget(w.VerifyCheck, 1, 2, Qt::AlignCenter);
        grid->addWidget(w.SelectAllPhonesButton, 1, 3);
        phoneColumn->addLayout(grid);
    }

    // The copy arrows between the lists point the way the blocks go.
    w.CopyLeftButton = arrow(central, "CopyLeftButton", QStyle::SP_ArrowRight,
                             QStringLiteral("Copy the selected Phone's blocks to the User's list"));
    w.CopyRightButton =
        arrow(central, "CopyRightButton", QStyle::SP_ArrowLeft,
              QStringLiteral("Copy the selected User's blocks to the Phone's list"));
    auto* arrows = new QVBoxLayout;
    arrows->addStretch(1);
    arrows->addWidget(w.CopyLeftButton);
    arrows->addSpacing(12);
    arrows->addWidget(w.CopyRightButton);
    arrows->addStretch(1);

    // The User's list with its buttons beneath.
    w.UserEEPList = new BlockListView(central);
    w.UserEEPList->setObjectName(QStringLiteral("UserEEPList"));
    w.LoadUsersButton = button(central, "LoadUsersButton", QStringLiteral("Load"), true);
    w.SaveUsersButton = button(central, "SaveUsersButton", QStringLiteral("Save"), true);
    w.DeleteUsersButton = button(central, "DeleteUsersButton", QStringLiteral("Delete"), true);
    w.SelectAllUsersButton =
        button(central, "SelectAllUsersButton", QStringLiteral("Select all"), true);
    w.UserOriginLabel = label(central, "UserOriginLabel", QString());
    // The names never widen the window; the whole paths are in the tooltip.
    w.UserOriginLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* userCaption = new QHBoxLayout;
    userCaption->addWidget(label(central, "Label1", QStringLiteral("User's EEPROM blocks:")));
    userCaption->addWidget(w.UserOriginLabel, 1);
    auto* userColumn = new QVBoxLayout;
    userColumn->addLayout(userCaption);
    userColumn->addWidget(w.UserEEPList, 1);
    {
        auto* grid = new QGridLayout;
        grid->addWidget(w.LoadUsersButton, 0, 0);
        grid->addWidget(w.SaveUsersButton, 0, 1);
        grid->addWidget(w.DeleteUsersButton, 1, 0);
        grid->addWidget(w.SelectAllUsersButton, 1, 1);
        userColumn->addLayout(grid);
    }

    // Compare and the description rule.
    w.CompareButton = button(central, "CompareButton", QStringLiteral("Compare"), true);
    w.CheckHWidForDesc =
        new QCheckBox(QStringLiteral("Check Hardware ver for description"), central);
    w.CheckHWidForDesc->setObjectName(QStringLiteral("CheckHWidForDesc"));

    auto* top = new QHBoxLayout;
    top->addWidget(w.MobileInitFrame);
    top->addWidget(mobile, 1);
    top->addWidget(space);
    auto* lists = new QHBoxLayout;
    lists->addLayout(phoneColumn, 1);
    lists->addLayout(arrows);
    lists->addLayout(userColumn, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(w.CompareButton);
    bottom->addSpacing(12);
    bottom->addWidget(w.CheckHWidForDesc);
    bottom->addStretch(1);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addLayout(lists, 1);
    layout->addLayout(bottom);

    // Status bar: the text panel, the pace of a run, "Save trace...", then the progress bar.
    w.StatusBar = window->statusBar();
    w.StatusBar->setObjectName(QStringLiteral("StatusBar"));
    w.StatusPanel = new QLabel(w.StatusBar);
    w.StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    w.StatusBar->addWidget(w.StatusPanel, 1);
    w.ProgressDetail = new QLabel(w.StatusBar);
    w.ProgressDetail->setObjectName(QStringLiteral("ProgressDetail"));
    w.StatusBar->addPermanentWidget(w.ProgressDetail);
    w.SaveTraceButton = new QToolButton(w.StatusBar);
    w.SaveTraceButton->setObjectName(QStringLiteral("SaveTraceButton"));
    w.SaveTraceButton->setText(QStringLiteral("Save trace..."));
    w.SaveTraceButton->setToolTip(
        QStringLiteral("Save every frame to and from the phone in this session to a text file"));
    w.SaveTraceButton->setAutoRaise(true);
    w.SaveTraceButton->setEnabled(false);
    w.StatusBar->addPermanentWidget(w.SaveTraceButton);
    w.ProgressBar = new QProgressBar(w.StatusBar);
    w.ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    w.ProgressBar->setRange(0, 1);
    w.ProgressBar->setValue(0);
    w.ProgressBar->setFixedWidth(260);
    w.ProgressBar->setTextVisible(false);
    w.StatusBar->addPermanentWidget(w.ProgressBar);
    return w;
}

} // namespace x45::ui
