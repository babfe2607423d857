#pragma once
// The main window: a view over the core. It holds the two block lists, the link, the session and
// the phone transfer, shows their state, and runs each operation from its button. Protocol and file
// work happen in the core; this class only decides what the controls show and allow.
//
// Implementation by responsibility: mainform.cpp (construction, ports, descriptions),
// mainform_session.cpp (start, exit, close rules), mainform_lists.cpp (fill, sort, select,
// delete, copy, compare), mainform_files.cpp (Load/Save of the User's list),
// mainform_transfer.cpp (the five phone-transfer buttons).

#include "blocks/eepblock.h"
#include "formlayout.h"
#include "transfer/precheck.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

class QAbstractButton;

namespace x45 {
class Link;
class LinkTrace;
class PhoneTransfer;
class SerialPort;
class Session;
struct RunResult;
} // namespace x45

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
    // The port is the caller's (a QtSerialPort for the program, a simulated one in tests) and must
    // outlive the window.
    explicit MainForm(SerialPort& port, QWidget* parent = nullptr);
    ~MainForm() override;

    // Core objects the window shows.
    [[nodiscard]] Workspace& workspace() { return ws_; }
    [[nodiscard]] Session& session() { return *session_; }
    [[nodiscard]] Link& link() { return *link_; }
    [[nodiscard]] WidgetInteraction& interaction() { return *ui_; }
    // The link's trace of the last session: started afresh by "Init" and kept after it ended
    // ("Exit", a failed start, a lost port) until the next "Init", so it can still be saved.
    [[nodiscard]] LinkTrace& trace() { return *trace_; }
    [[nodiscard]] const FormWidgets& widgets() const { return w_; }
    [[nodiscard]] BlockListModel& phoneModel() const { return *phoneModel_; }
    [[nodiscard]] BlockListModel& userModel() const { return *userModel_; }

    // Ports: "COM1".."COM4", then every serial port the system reports. addPortChoice adds a
    // device path (once), shown as label (the path when empty), and can select it.
    void addPortChoice(const QString& device, bool select, const QString& label = QString());
    // 1..4 for "COM1".."COM4", higher for the further entries.
    [[nodiscard]] int PortNumber() const { return portNumber_; }
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

    // Handlers, named after their controls.
    void StartButton_Click();
    void Combo3_Click(int index);
    void FillPhoneEEPList();
    void FillUserEEPList();
    void PhoneEEPList_ColumnClick();
    void UserEEPList_ColumnClick();
    void SelectAllPhonesButton_Click();
    void SelectAllUsersButton_Click();
    void DeletePhonesButton_Click();
    void DeleteUsersButton_Click();
    void CopyLeftButton_Click();
    void CopyRightButton_Click();
    void CompareButton_Click();
    // Opens a viewer of block `row` of a list (double-click, Enter or "View" on the row); a viewer
    // already showing that block as the list holds it is brought to the front instead.
    BlockViewer* ViewPhoneBlock(int row);
    BlockViewer* ViewUserBlock(int row);
    void CheckHWidForDesc_Click();
    void LoadUsersButton_Click();
    // "Load" of these files, in this order (the chosen files, or files dropped on the User's list).
    void LoadUserFileNames(QStringList names);
    void SaveUsersButton_Click();
    void LoadPhonesButton_Click();
    void LoadCustomPhonesButton_Click();
    void SavePhonesButton_Click();
    void SaveSelPhonesButton_Click();
    void DeleteNowButton_Click();
    // "Save trace...": the trace of this session to a text file, written safely.
    void SaveTraceButton_Click();

    // Stops what runs as "Stop" does, without asking, and closes the window (ending the session)
    // once it has wound up; at once when nothing runs.
    void closeWhenIdle();

    // Removes the selected rows of the Phone's list and their blocks; asks first unless silent.
    void RemoveSelectedPhoneBlocks(bool silent);
    // Description of a block for a list with this hardware id, under the check box's rule.
    [[nodiscard]] QString DescribeBlock(qint16 blockId, quint16 hwid) const;

protected:
    // Form_QueryUnload: during a phone run the person is asked whether to stop it and close; on
    // "Yes" the run is stopped as "Stop" does and the window closes once it has wound up. A start
    // in progress is stopped the same way without a question. An open session is ended before
    // closing.
    void closeEvent(QCloseEvent* event) override;
    // Files dragged onto the User's list.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void connectKeys();
    void fillPortChoices();
    // Session display.
    void showIdentity();
    void showSpace();
    void endSession();
    void enterNoSession();
    [[nodiscard]] bool sessionOpen() const;
    // The nine phone-side buttons.
    [[nodiscard]] QList<QAbstractButton*> phoneSideButtons() const;
    void setPhoneSideEnabled(bool enabled);
    // Runs one phone operation from its button with the Stop caption rules, and says at its end
    // what it did.
    void runPhoneOperation(QAbstractButton* own, bool stoppable,
                           const std::function<RunResult()>& operation);
    // What "Stop" does to the running operation (nothing for one that has no stop).
    void stopRunningOperation();
    // Removes the selected rows (asking first unless silent); true when rows went.
    bool removeRowsAsked(BlockListView* view, bool silent);
    // The User's list came from these files (none: not from files), unchanged since.
    void setUserOrigin(const QStringList& files);
    // The User's list changed since it was loaded or saved.
    void markUserChanged();
    // The User's list as the hardware-id question names it: with the files it came from.
    [[nodiscard]] QString userListName() const;
    void showUserOrigin();
    BlockViewer* viewBlock(BlockListView* view, const QString& listName, int row);
    // The compare dialog, created at first use.
    CompareForm* compareForm();
    void afterOperation();
    // "Save trace..." is there while a trace is held and nothing runs.
    void updateTraceButton();

    SerialPort& port_;
    FormWidgets w_;
    Workspace ws_;
    std::unique_ptr<Link> link_;
    std::unique_ptr<WidgetInteraction> ui_;
    std::unique_ptr<LinkTrace> trace_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<PhoneTransfer> transfer_;
    BlockListModel* phoneModel_ = nullptr;
    BlockListModel* userModel_ = nullptr;
    std::unique_ptr<DescriptionHolder> descriptions_;
    QPointer<CompareForm> compareForm_;
    QString lastFileName_; // the file dialogs show the last name used
    // Where each block of the Phone's list came from, for the hardware-id question before a
    // write: the phone it was read from, or the User's list it was copied from, which hands its
    // hardware id over with the block.
    QHash<qint16, BlockOrigin> phoneOrigins_;
    [[nodiscard]] HWidRule hwidRule() const;
    OpenChooser openChooser_;
    SaveChooser saveChooser_;
    SaveChooser traceChooser_;
    int portNumber_ = 1;
    QStringList userOrigin_;        // the files the User's list was loaded from or saved to
    bool userChanged_ = false;      // the User's list changed since
    bool starting_ = false;         // the start sequence is running
    bool operationRunning_ = false; // a phone operation is running
    QAbstractButton* runningButton_ = nullptr; // its "Stop" button, if it has one
    bool closePending_ = false;     // close once the running work has wound up
    bool closeAsked_ = false;       // the close question is open
};

} // namespace x45::ui
