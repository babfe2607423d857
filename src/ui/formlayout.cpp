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

// " Mobile initialization ": port and Init.
QGroupBox* initFrame(FormWidgets& w, QWidget* parent) {
    w.mobileInitFrame = frame(parent, "MobileInitFrame", QStringLiteral(" Mobile initialization "));
    w.portChoice = new QComboBox(w.mobileInitFrame);
    w.portChoice->setObjectName(QStringLiteral("Combo3"));
    // Room for a device path such as /dev/ttyUSB0 or /tmp/x45sim-demo; a longer one is in the
    // tooltip.
    w.portChoice->setMinimumContentsLength(18);
    w.portChoice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    w.startButton = button(w.mobileInitFrame, "StartButton", QStringLiteral("Init"), true);
    auto* grid = new QGridLayout(w.mobileInitFrame);
    grid->addWidget(label(w.mobileInitFrame, "Label4", QStringLiteral("Port:")), 0, 0);
    grid->addWidget(w.portChoice, 0, 1);
    grid->addWidget(w.startButton, 1, 0, 1, 2);
    grid->setRowStretch(2, 1);
    return w.mobileInitFrame;
}

// " Mobile information ": five captions with their values.
QGroupBox* identityFrame(FormWidgets& w, QWidget* parent) {
    auto* mobile = frame(parent, "MobileFrame", QStringLiteral(" Mobile information "));
    w.modelLabel = valueLabel(mobile, "Label9", 14);
    w.swVersionLabel = valueLabel(mobile, "Label10", 14);
    w.hardwareIdLabel = valueLabel(mobile, "Label12", 14);
    w.langGroupLabel = valueLabel(mobile, "Label11", 14);
    w.imeiLabel = valueLabel(mobile, "Label27", 16);
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
    return mobile;
}

// One area's column of " EEPROM space (bytes): ": its name above its three values, each value
// left of its caption.
void spaceColumn(QGridLayout* grid, int column, QLabel* name,
                 const QList<std::pair<QLabel*, QLabel*>>& rows) {
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    grid->addWidget(name, 0, column, 1, 2);
    for (int r = 0; r < rows.size(); ++r) {
        rows[r].first->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(rows[r].first, r + 1, column);
        grid->addWidget(rows[r].second, r + 1, column + 1);
    }
}

// " EEPROM space (bytes): ": the two areas side by side.
QGroupBox* spaceFrame(FormWidgets& w, QWidget* parent) {
    auto* space = frame(parent, "EEFULLSpaceFrame", QStringLiteral(" EEPROM space (bytes): "));
    const auto value = [space](const char* name) { return valueLabel(space, name, 8); };
    const auto caption = [space](const char* name, const char* text) {
        return label(space, name, QLatin1String(text));
    };
    w.eefullInBufferLabel = value("Label17");
    w.eefullAtAllLabel = value("Label21");
    w.eefullForDeletedLabel = value("Label14");
    w.eeliteInBufferLabel = value("Label16");
    w.eeliteAtAllLabel = value("Label15");
    w.eeliteForDeletedLabel = value("Label20");
    auto* grid = new QGridLayout(space);
    spaceColumn(grid, 0, caption("Label25", "EEFULL"),
                {{w.eefullInBufferLabel, caption("Label19", "free in buffer.")},
                 {w.eefullAtAllLabel, caption("Label23", "free at all.")},
                 {w.eefullForDeletedLabel, caption("Label6", "free for deleted.")}});
    spaceColumn(grid, 3, caption("Label24", "EELITE"),
                {{w.eeliteInBufferLabel, caption("Label13", "free in buffer.")},
                 {w.eeliteAtAllLabel, caption("Label18", "free at all.")},
                 {w.eeliteForDeletedLabel, caption("Label22", "free for deleted.")}});
    grid->setColumnMinimumWidth(2, 16);
    grid->setVerticalSpacing(2);
    grid->setRowStretch(4, 1);
    return space;
}

// Buttons in a grid, row by row; nullptr leaves a cell empty.
QGridLayout* buttonGrid(const QList<QList<QWidget*>>& rows) {
    auto* grid = new QGridLayout;
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c)
            if (rows[r][c]) grid->addWidget(rows[r][c], r, c);
    return grid;
}

// The Phone's list with its buttons beneath.
QVBoxLayout* phoneColumn(FormWidgets& w, QWidget* parent) {
    w.phoneList = new BlockListView(parent);
    w.phoneList->setObjectName(QStringLiteral("PhoneEEPList"));
    w.loadAllButton = button(parent, "LoadPhonesButton", QStringLiteral("Load all"), false);
    w.loadCustomButton =
        button(parent, "LoadCustomPhonesButton", QStringLiteral("Load custom..."), false);
    w.saveAllButton = button(parent, "SavePhonesButton", QStringLiteral("Save all"), false);
    w.saveSelectedButton =
        button(parent, "SaveSelPhonesButton", QStringLiteral("Save selected"), false);
    w.deleteOnPhoneButton =
        button(parent, "DeleteNowButton", QStringLiteral("Delete directly"), false);
    w.removePhoneRowsButton =
        button(parent, "DeletePhonesButton", QStringLiteral("Delete from list"), true);
    w.selectPhoneRowsButton =
        button(parent, "SelectAllPhonesButton", QStringLiteral("Select all"), true);
    w.verifyCheck = new QCheckBox(QStringLiteral("Verify"), parent);
    w.verifyCheck->setObjectName(QStringLiteral("VerifyCheck"));
    w.verifyCheck->setToolTip(QStringLiteral("Read every block twice when loading, and read every "
                                             "written block back when saving"));
    auto* column = new QVBoxLayout;
    column->addWidget(label(parent, "Label2", QStringLiteral("Phone's EEPROM blocks:")));
    column->addWidget(w.phoneList, 1);
    QGridLayout* grid = buttonGrid(
        {{w.loadAllButton, w.loadCustomButton, w.saveAllButton, w.saveSelectedButton},
         {w.deleteOnPhoneButton, w.removePhoneRowsButton, nullptr, w.selectPhoneRowsButton}});
    grid->addWidget(w.verifyCheck, 1, 2, Qt::AlignCenter);
    column->addLayout(grid);
    return column;
}

// The copy arrows between the lists point the way the blocks go.
QVBoxLayout* arrowColumn(FormWidgets& w, QWidget* parent) {
    w.copyToUserButton =
        arrow(parent, "CopyLeftButton", QStyle::SP_ArrowRight,
              QStringLiteral("Copy the selected Phone's blocks to the User's list"));
    w.copyToPhoneButton =
        arrow(parent, "CopyRightButton", QStyle::SP_ArrowLeft,
              QStringLiteral("Copy the selected User's blocks to the Phone's list"));
    auto* arrows = new QVBoxLayout;
    arrows->addStretch(1);
    arrows->addWidget(w.copyToUserButton);
    arrows->addSpacing(12);
    arrows->addWidget(w.copyToPhoneButton);
    arrows->addStretch(1);
    return arrows;
}

// The User's list with the files it came from above it and its buttons beneath.
QVBoxLayout* userColumn(FormWidgets& w, QWidget* parent) {
    w.userList = new BlockListView(parent);
    w.userList->setObjectName(QStringLiteral("UserEEPList"));
    w.loadUserButton = button(parent, "LoadUsersButton", QStringLiteral("Load"), true);
    w.saveUserButton = button(parent, "SaveUsersButton", QStringLiteral("Save"), true);
    w.removeUserRowsButton = button(parent, "DeleteUsersButton", QStringLiteral("Delete"), true);
    w.selectUserRowsButton =
        button(parent, "SelectAllUsersButton", QStringLiteral("Select all"), true);
    w.userOriginLabel = label(parent, "UserOriginLabel", QString());
    // The names never widen the window; the whole paths are in the tooltip.
    w.userOriginLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* caption = new QHBoxLayout;
    caption->addWidget(label(parent, "Label1", QStringLiteral("User's EEPROM blocks:")));
    caption->addWidget(w.userOriginLabel, 1);
    auto* column = new QVBoxLayout;
    column->addLayout(caption);
    column->addWidget(w.userList, 1);
    column->addLayout(buttonGrid(
        {{w.loadUserButton, w.saveUserButton}, {w.removeUserRowsButton, w.selectUserRowsButton}}));
    return column;
}

// Compare and the description rule.
QHBoxLayout* bottomRow(FormWidgets& w, QWidget* parent) {
    w.compareButton = button(parent, "CompareButton", QStringLiteral("Compare"), true);
    w.hwidDescriptionsCheck =
        new QCheckBox(QStringLiteral("Check Hardware ver for description"), parent);
    w.hwidDescriptionsCheck->setObjectName(QStringLiteral("CheckHWidForDesc"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(w.compareButton);
    bottom->addSpacing(12);
    bottom->addWidget(w.hwidDescriptionsCheck);
    bottom->addStretch(1);
    return bottom;
}

// Status bar: the text panel, the pace of a run, "Save trace...", then the progress bar.
void statusBar(FormWidgets& w, QMainWindow* window) {
    w.statusBar = window->statusBar();
    w.statusBar->setObjectName(QStringLiteral("StatusBar"));
    w.statusPanel = label(w.statusBar, "StatusPanel", QString());
    w.statusBar->addWidget(w.statusPanel, 1);
    w.paceLabel = label(w.statusBar, "ProgressDetail", QString());
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
}

} // namespace

FormWidgets buildMainForm(QMainWindow* window) {
    FormWidgets w;
    auto* central = new QWidget(window);
    central->setObjectName(QStringLiteral("MainFormClient"));
    window->setCentralWidget(central);

    auto* top = new QHBoxLayout;
    top->addWidget(initFrame(w, central));
    top->addWidget(identityFrame(w, central), 1);
    top->addWidget(spaceFrame(w, central));
    auto* lists = new QHBoxLayout;
    lists->addLayout(phoneColumn(w, central), 1);
    lists->addLayout(arrowColumn(w, central));
    lists->addLayout(userColumn(w, central), 1);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(top);
    layout->addLayout(lists, 1);
    layout->addLayout(bottomRow(w, central));
    statusBar(w, window);
    return w;
}

} // namespace x45::ui
