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
    QGroupBox* mobileInitFrame = nullptr;
    QComboBox* portChoice = nullptr;
    QPushButton* startButton = nullptr;

    // Identity values: model, SW version, hardware id, language group, IMEI.
    QLabel* modelLabel = nullptr;
    QLabel* swVersionLabel = nullptr;
    QLabel* hardwareIdLabel = nullptr;
    QLabel* langGroupLabel = nullptr;
    QLabel* imeiLabel = nullptr;

    // Space values: EEfull in buffer / at all / for deleted, EElite the same.
    QLabel* eefullInBufferLabel = nullptr;
    QLabel* eefullAtAllLabel = nullptr;
    QLabel* eefullForDeletedLabel = nullptr;
    QLabel* eeliteInBufferLabel = nullptr;
    QLabel* eeliteAtAllLabel = nullptr;
    QLabel* eeliteForDeletedLabel = nullptr;

    BlockListView* phoneList = nullptr;
    BlockListView* userList = nullptr;
    // Beside the User's list's caption: the files the list came from, and whether it changed.
    QLabel* userOriginLabel = nullptr;

    QPushButton* loadAllButton = nullptr;
    QPushButton* loadCustomButton = nullptr;
    QPushButton* saveAllButton = nullptr;
    QPushButton* saveSelectedButton = nullptr;
    QPushButton* deleteOnPhoneButton = nullptr;
    QPushButton* removePhoneRowsButton = nullptr;
    QPushButton* selectPhoneRowsButton = nullptr;
    // Phone reads confirmed by a second read, writes read back; off at start.
    QCheckBox* verifyCheck = nullptr;
    QPushButton* loadUserButton = nullptr;
    QPushButton* saveUserButton = nullptr;
    QPushButton* removeUserRowsButton = nullptr;
    QPushButton* selectUserRowsButton = nullptr;
    QToolButton* copyToUserButton = nullptr;  // Phone's list -> User's list
    QToolButton* copyToPhoneButton = nullptr; // User's list -> Phone's list
    QPushButton* compareButton = nullptr;
    QCheckBox* hwidDescriptionsCheck = nullptr;

    QStatusBar* statusBar = nullptr;
    QLabel* statusPanel = nullptr; // the status bar's text panel
    QLabel* paceLabel = nullptr; // second panel: block n of N, rate, time left of a run
    QToolButton* saveTraceButton = nullptr; // "Save trace...": the link's trace of this session
    QProgressBar* progressBar = nullptr;

    [[nodiscard]] QList<QLabel*> identityLabels() const {
        return {modelLabel, swVersionLabel, hardwareIdLabel, langGroupLabel, imeiLabel};
    }
    [[nodiscard]] QList<QLabel*> spaceLabels() const {
        return {eefullInBufferLabel, eefullAtAllLabel, eefullForDeletedLabel,
                eeliteInBufferLabel, eeliteAtAllLabel, eeliteForDeletedLabel};
    }
};

// Creates every control on the window, laid out, in its state at start.
FormWidgets buildMainForm(QMainWindow* window);

} // namespace x45::ui
