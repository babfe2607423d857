#pragma once
// The main window's controls and their arrangement. Every control carries its objectName, caption
// and state at start; the behaviour lives in MainForm.

#include <QList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QToolButton;

namespace x45::ui {

class BlockListView;

struct FormWidgets {
    QGroupBox* MobileInitFrame = nullptr;
    QComboBox* Combo3 = nullptr;
    QPushButton* StartButton = nullptr;

    // Identity values: model, SW version, hardware id, language group, IMEI.
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label27 = nullptr;

    // Space values: EEfull in buffer / at all / for deleted, EElite the same.
    QLabel* Label17 = nullptr;
    QLabel* Label21 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label20 = nullptr;

    BlockListView* PhoneEEPList = nullptr;
    BlockListView* UserEEPList = nullptr;
    // Beside the User's list's caption: the files the list came from, and whether it changed.
    QLabel* UserOriginLabel = nullptr;

    QPushButton* LoadPhonesButton = nullptr;
    QPushButton* LoadCustomPhonesButton = nullptr;
    QPushButton* SavePhonesButton = nullptr;
    QPushButton* SaveSelPhonesButton = nullptr;
    QPushButton* DeleteNowButton = nullptr;
    QPushButton* DeletePhonesButton = nullptr;
    QPushButton* SelectAllPhonesButton = nullptr;
    // Phone reads confirmed by a second read, writes read back; off at start.
    QCheckBox* VerifyCheck = nullptr;
    QPushButton* LoadUsersButton = nullptr;
    QPushButton* SaveUsersButton = nullptr;
    QPushButton* DeleteUsersButton = nullptr;
    QPushButton* SelectAllUsersButton = nullptr;
    QToolButton* CopyLeftButton = nullptr;  // Phone's list -> User's list
    QToolButton* CopyRightButton = nullptr; // User's list -> Phone's list
    QPushButton* CompareButton = nullptr;
    QCheckBox* CheckHWidForDesc = nullptr;

    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel = nullptr; // the status bar's text panel
    QLabel* ProgressDetail = nullptr; // second panel: block n of N, rate, time left of a run
    QToolButton* SaveTraceButton = nullptr; // "Save trace...": the link's trace of this session
    QProgressBar* ProgressBar = nullptr;

    [[nodiscard]] QList<QLabel*> identityLabels() const {
        return {Label9, Label10, Label12, Label11, Label27};
    }
    [[nodiscard]] QList<QLabel*> spaceLabels() const {
        return {Label17, Label21, Label14, Label16, Label15, Label20};
    }
};

// Creates every control on the window, laid out, in its state at start.
FormWidgets buildMainForm(QMainWindow* window);

} // namespace x45::ui
