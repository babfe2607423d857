#pragma once
// The window's phone side on a thread of its own. The engine owns the port, the link with its
// trace, the session and the phone transfer; they are made on the engine's thread and used only
// there, and every phone operation runs there from its start to its end. The window hands an
// operation over with EngineThread::post() and learns its end from finished(), which carries the
// result (the blocks read, for "Load all"); the engine works on copies of the window's lists and
// never on a list the window shows. What an operation shows (status, progress bar, pace) reaches
// the window as queued signals. A question waits on the engine's thread until the window has
// answered it (questionAsked); the window's thread never waits for the engine.

#include "question.h"

#include "blocks/eepblock.h"
#include "link/session.h"
#include "person/interaction.h"
#include "transfer/precheck.h"
#include "transfer/transfer.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace x45 {
class LinkTrace;
class SerialPort;
} // namespace x45

namespace x45::ui {

enum class PhoneOperation { Start, End, LoadAll, LoadCustom, SaveAll, SaveSelected, Delete };

// How an operation ended, as finished() hands it to the window.
struct EngineReport {
    PhoneOperation operation = PhoneOperation::Start;
    Outcome start = Outcome::Failed; // of Start
    RunResult run{};                           // of the five transfer operations
    BlockList phoneList{};     // "Load all": the blocks read; "Load custom...": the list merged
    QVector<qint16> deleted{}; // "Delete directly": the numbers the phone deleted
    bool sessionOpen = false;  // after the operation (a lost port ends the session)
    bool traceHeld = false;    // the trace holds lines to save
};

class PhoneEngine final : public QObject, private Interaction {
    Q_OBJECT
public:
    // Makes the port; called once, on the engine's thread.
    using PortMaker = std::function<std::unique_ptr<SerialPort>()>;
    explicit PhoneEngine(PortMaker makePort);
    ~PhoneEngine() override;
    PhoneEngine(const PhoneEngine&) = delete;
    PhoneEngine& operator=(const PhoneEngine&) = delete;

    // ---- On the engine's thread: each operation ends with finished(). ----
    // Makes the port and the core objects; before anything else.
    void open();
    // "Init": the trace restarts, then the start sequence on this device.
    void start(const QString& device);
    // "Exit": the end-of-session message, the port closed.
    void end();
    void loadAll(bool verify);
    void loadCustom(BlockList phoneList, bool verify);
    void saveAll(const BlockList& phoneList, const HWidRule& rule, bool verify);
    // The rows selected when the run was asked for.
    void saveSelected(const BlockList& phoneList, const QSet<int>& rows, const HWidRule& rule,
                      bool verify);
    void deleteDirectly(const BlockList& phoneList, const QList<int>& rows);
    [[nodiscard]] QByteArray traceText() const;

    // ---- From any thread. ----
    // An operation is about to be handed over: no stop stands any more.
    void clearStop() { stopWanted_ = false; }
    // "Stop": the running operation stops at its next safe point.
    void requestStop();
    // The window is going: the open question and every later one get the answer of a box closed
    // without choosing, at once.
    void closeQuestions();

signals:
    void statusChanged(const QString& text);
    void progressRangeChanged(int minimum, int maximum);
    void progressChanged(int value);
    void paceChanged(const x45::ProgressDetail& detail);
    void busyChanged(bool busy);
    void identified(const x45::PhoneIdentity& identity);
    void spaceChanged(const x45::EEPSpace& eelite, const x45::EEPSpace& eefull);
    void questionAsked(const std::shared_ptr<x45::ui::PendingAnswer>& question);
    void finished(const x45::ui::EngineReport& report);

private:
    // Interaction, as the core calls it on the engine's thread.
    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override;
    bool askYesNo(YesNoQuestion question, const QString& text, const QString& title,
                  Icon icon) override;
    RewriteAnswer askRewrite(const QString& question) override;
    QString askBlockList() override;
    BlockInfoTexts askBlockInfo(const QString& message) override;
    void setStatus(const QString& text) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;
    void setBusy(bool busy) override;
    void setProgressDetail(const ProgressDetail& detail) override;

    // Emits the question and waits for its answer.
    Answer ask(Question question);
    // The core clears its stop request as an operation begins; a "Stop" pressed just before that
    // must not be lost, so it stands for the whole operation and is handed on again whenever the
    // operation shows something.
    void passOnStop();
    void finishRun(EngineReport report);
    void finish(EngineReport report);

    PortMaker makePort_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<LinkTrace> trace_;
    std::unique_ptr<Link> link_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<PhoneTransfer> transfer_;
    Icon plainIcon_ = Icon::None; // of boxes the core gives no icon
    std::atomic<bool> stopWanted_{false};
    std::mutex questionMutex_;
    bool questionsClosed_ = false;
    std::shared_ptr<PendingAnswer> asking_;
};

// The engine's thread and the engine on it, for as long as the window lives.
class EngineThread {
public:
    explicit EngineThread(PhoneEngine::PortMaker makePort);
    // Answers the open question as a closed box does, stops the running operation, waits for
    // its end and deletes the engine on its thread.
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // For connecting to its signals and for the calls allowed from any thread.
    [[nodiscard]] PhoneEngine& engine() const { return *engine_; }
    // Runs work on the engine's thread once what runs there now has ended.
    void post(std::function<void(PhoneEngine&)> work);
    // The trace's text, fetched from the engine's thread; only while no operation runs.
    [[nodiscard]] QByteArray traceText() const;

private:
    QThread thread_;
    PhoneEngine* engine_;
};

} // namespace x45::ui
