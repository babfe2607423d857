#pragma once
// The main window: a view over the two block lists and over the phone engine (phoneengine.h),
// which runs every phone operation on its own thread. The window holds the lists, shows what the
// engine reports, and decides what the controls show and allow; protocol and file work happen in
// the core.
//
// Implementation by responsibility: mainform.cpp (construction, ports, descriptions),
// mainform_session.cpp (start, exit, what the engine reports, closing), mainform_lists.cpp (fill,
// sort, select, delete, copy, compare), mainform_files.cpp (Load/Save of the User's list),
// mainform_transfer.cpp (the five phone-transfer buttons).

#include "formlayout.h"
#include "phoneengine.h"

#include "blocks/eepblock.h"
#include "link/session.h"
#include "transfer/precheck.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QAbstractButton;
class QFileDialog;

namespace x45 {
struct PlannedFile;
}

namespace x45::ui {

class BlockListModel;
class BlockListView;
class BlockViewer;
class CompareForm;
class WidgetInteraction;
struct DescriptionHolder;

class MainForm final : public QMainWindow {
    Q_OBJECT
public:
    // makePort makes the serial port (a QtSerialPort for the program, a simulated one in tests)
    // on the engine's thread, where it stays.
    explicit MainForm(PhoneEngine::PortMaker makePort, QWidget* parent = nullptr);
    ~MainForm() override;

    [[nodiscard]] Workspace& workspace() { return ws_; }
    [[nodiscard]] WidgetInteraction& interaction() { return *ui_; }
    [[nodiscard]] BlockListModel& phoneModel() const { return *phoneModel_; }
    [[nodiscard]] BlockListModel& userModel() const { return *userModel_; }
    // A phone operation runs; idle() is emitted when it has ended and the window shows its end.
    [[nodiscard]] bool busy() const { return running_.has_value(); }

    // Ports: "COM1".."COM4", then every serial port the system reports. addPortChoice adds a
    // device path (once), shown as label (the path when empty), and can select it.
    void addPortChoice(const QString& device, bool select, const QString& label = QString());
    // 1..4 for "COM1".."COM4", higher for the further entries.
    [[nodiscard]] int portNumber() const { return portNumber_; }
    [[nodiscard]] QString portDevice() const;

    // The description file: the default search, or the one named.
    void loadDescriptions(const QString& explicitPath = QString());

    // File choosing for "Load" and "Save", replaceable so tests and scripts can name the files.
    // Load returns the chosen names (empty = cancelled); Save returns one name (empty = cancelled).
    using OpenChooser = std::function<QStringList()>;
    using SaveChooser = std::function<QString()>;
    void setOpenChooser(OpenChooser chooser) { openChooser_ = std::move(chooser); }
    void setSaveChooser(SaveChooser chooser) { saveChooser_ = std::move(chooser); }
    // The file "Save trace..." writes to, replaceable like the others.
    void setTraceChooser(SaveChooser chooser) { traceChooser_ = std::move(chooser); }

    // Rebuilds a list's view from its list, descriptions looked up again, the first row selected.
    void fillPhoneList();
    void fillUserList();
    // Opens a viewer of block `row` of a list (double-click, Enter or "View" on the row); a viewer
    // already showing that block as the list holds it is brought to the front instead.
    BlockViewer* viewPhoneBlock(int row);
    BlockViewer* viewUserBlock(int row);
    // "Load" of these files, in this order (the chosen files, or files dropped on the User's list).
    void loadUserFiles(QStringList names);

    // Stops what runs as "Stop" does, without asking, and closes the window (ending the session)
    // once it has wound up; at once when nothing runs.
    void stopAndClose();

signals:
    void idle();

protected:
    // During a phone run the person is asked whether to stop it and close; on "Yes" the run is
    // stopped as "Stop" does and the window closes once it has ended. A start in progress is
    // stopped the same way without a question. An open session is ended before closing.
    void closeEvent(QCloseEvent* event) override;
    // Files dragged onto the User's list.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The operation the engine runs, from the moment the window hands it over to its report.
    struct Running {
        PhoneOperation operation;
        QAbstractButton* own; // its button, captioned "Stop" while it runs when stoppable
        bool stoppable;
        QString idleCaption;      // the button's caption to put back
        QList<QWidget*> disabled; // controls to enable again afterwards
    };

    void connectControls();
    void connectEngine();
    void connectKeys();
    void fillPortChoices();
    void choosePort(int index);

    // The session as the window shows it.
    void initStopOrExit();
    void startSession();
    void endSession();
    void showIdentity(const PhoneIdentity& identity);
    void showSpace(const EEPSpace& eelite, const EEPSpace& eefull);
    void showSessionOpen();
    void showNoSession();
    void askQuestion(const std::shared_ptr<PendingAnswer>& pending);
    // The nine phone-side buttons.
    [[nodiscard]] QList<QAbstractButton*> phoneSideButtons() const;
    void setPhoneSideEnabled(bool enabled);

    // Hands an operation to the engine: `disabled` off until it ends, `own` captioned "Stop"
    // when stoppable.
    void runOnPhone(Running running, std::function<void(PhoneEngine&)> work);
    // "Stop": the engine's stop request, the button off until the run has ended.
    void stopRun();
    // The engine's report: the window shows the end of the operation.
    void operationEnded(const EngineReport& report);
    void transferEnded(const Running& ended, const EngineReport& report);
    void takeReadBlocks(const EngineReport& report);
    void removeDeletedBlocks(const QVector<qint16>& deleted);
    [[nodiscard]] HWidRule hwidRule() const;
    void updateTraceButton();

    // The five phone-transfer buttons.
    void runTransfer(QAbstractButton* own, PhoneOperation operation, bool stoppable,
                     std::function<void(PhoneEngine&)> work);
    void loadAll();
    void loadCustom();
    void saveAll();
    void saveSelected();
    void deleteOnPhone();
    // "Save trace...": the trace of this session to a text file, written safely.
    void saveTrace();
    void saveTraceTo(const QString& name);

    // The lists.
    void sortPhoneList();
    void sortUserList();
    void selectAllPhoneRows();
    void selectAllUserRows();
    void removePhoneRows();
    void removeUserRows();
    // Removes the selected rows once the person agrees; then `removed`, when rows went.
    void removeSelectedRows(BlockListView* view, const std::function<void()>& removed = {});
    void copyToUserList();
    void copyToPhoneList();
    void compareLists();
    void applyDescriptionRule();
    // Description of a block for a list with this hardware id, under the check box's rule.
    [[nodiscard]] QString describeBlock(qint16 blockId, quint16 hwid) const;
    BlockViewer* viewBlock(BlockListView* view, const QString& listName, int row);
    // The compare dialog, created at first use.
    CompareForm* compareForm();

    // The User's list's files.
    // Shows the file dialog window-modal; `chosen` runs with the files once they are chosen.
    void whenChosen(QFileDialog* dialog, const std::function<void(const QStringList&)>& chosen);
    void chooseUserFiles();
    void saveUserList();
    void saveUserListTo(const QString& name, const QList<int>& rows);
    void showUserSaved(const QString& name, qsizetype count, const QVector<PlannedFile>& written);
    // The User's list came from these files (none: not from files), unchanged since.
    void setUserOrigin(const QStringList& files);
    // The User's list changed since it was loaded or saved.
    void markUserChanged();
    // The User's list as the hardware-id question names it: with the files it came from.
    [[nodiscard]] QString userListName() const;
    void showUserOrigin();

    FormWidgets w_;
    Workspace ws_;
    std::unique_ptr<WidgetInteraction> ui_;
    std::unique_ptr<EngineThread> engine_;
    BlockListModel* phoneModel_ = nullptr;
    BlockListModel* userModel_ = nullptr;
    std::unique_ptr<DescriptionHolder> descriptions_;
    QPointer<CompareForm> compareForm_;
    QPointer<QWidget> closeQuestion_;
    QString lastFileName_; // the file dialogs show the last name used
    // Where each block of the Phone's list came from, for the hardware-id question before a
    // write: the phone it was read from, or the User's list it was copied from, which hands its
    // hardware id over with the block.
    QHash<qint16, BlockOrigin> phoneOrigins_;
    OpenChooser openChooser_;
    SaveChooser saveChooser_;
    SaveChooser traceChooser_;
    int portNumber_ = 1;
    QStringList userOrigin_;   // the files the User's list was loaded from or saved to
    bool userChanged_ = false; // the User's list changed since
    PhoneIdentity identity_;   // as the phone last told it
    bool sessionOpen_ = false;
    bool traceHeld_ = false; // the engine holds a trace to save
    std::optional<Running> running_;
    bool closeRequested_ = false; // the person asked to close: once idle, the window closes
};

} // namespace x45::ui
