// The five phone-transfer buttons against the simulated phone: captions and enable states while a
// run goes on, "Stop", and the Phone's list afterwards.

#include "ui_fixture.h"

#include "link/link.h"
#include "simport.h"

#include "link/linktrace.h"
#include "transfer/transfer.h"
#include "ui/runsummary.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>

using namespace x45;
using namespace x45::test;
using x45::ui::BlockListView;
using x45::ui::MainForm;

namespace {

const char* const TenButtons[] = {"LoadPhonesButton",      "LoadCustomPhonesButton",
                                  "SavePhonesButton",      "SaveSelPhonesButton",
                                  "DeleteNowButton",       "DeletePhonesButton",
                                  "SelectAllPhonesButton", "CopyLeftButton",
                                  "CopyRightButton",       "StartButton"};

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        phone.setBlocks({block(1, "one", 1), block(7, QByteArray(45, 'S'), 2),
                         block(5000, "full", 3), block(5003, QByteArray(70, 'F'), 4)});
        form.reset(makeForm(port, script));
        view = control<BlockListView>(form.get(), "PhoneEEPList");
        button("StartButton")->click();
        ASSERT_EQ(button("StartButton")->text(), "Exit");
    }
    void TearDown() override {
        if (form && button("StartButton")->text() == "Exit") button("StartButton")->click();
    }
    // A run long enough to be watched and stopped: hundreds of numbers, each answered late.
    void makeRunsSlow() {
        phone.config().maxEElite = 300;
        phone.config().latency = std::chrono::milliseconds(1);
    }
    QAbstractButton* button(const char* name) { return control<QAbstractButton>(form.get(), name); }
    Workspace& ws() { return form->workspace(); }
    // Captions and enable states of the ten buttons, seen from inside a run.
    QStringList stateOfButtons() {
        QStringList state;
        for (const char* name : TenButtons)
            state << QStringLiteral("%1:%2:%3")
                         .arg(name, button(name)->text())
                         .arg(button(name)->isEnabled());
        return state;
    }

    x45sim::SimPhone phone;
    x45sim::SimPort port{phone};
    ScriptedInteraction script;
    std::unique_ptr<MainForm> form;
    BlockListView* view = nullptr;
};

} // namespace

TEST_F(Transfer, LoadAllFillsThePhonesListAndRestoresTheButtons) {
    makeRunsSlow();
    fillPhone(*form, {block(99, "old")});
    const QStringList idle = stateOfButtons();
    const char* const userSide[] = {"CompareButton",        "LoadUsersButton", "SaveUsersButton",
                                    "DeleteUsersButton",    "SelectAllUsersButton",
                                    "VerifyCheck",          "CheckHWidForDesc"};
    QStringList during, userSideDuring;
    QString statusDuring, firstRowDuring;
    QTimer::singleShot(30, form.get(), [&] {
        during = stateOfButtons();
        statusDuring = form->interaction().statusText();
        for (const char* name : userSide)
            if (button(name)->isEnabled()) userSideDuring << name;
        // The old rows stay until the refill, each with its own texts.
        firstRowDuring = view->blockModel()->index(0, 0).data().toString().trimmed() +
                         QString::number(view->blockModel()->rowCount());
    });
    button("LoadPhonesButton")->click();

    EXPECT_EQ(ws().PhoneBlocks, phone.blocks());
    EXPECT_EQ(view->blockModel()->rowCount(), 4);
    EXPECT_TRUE(form->interaction().statusText().startsWith("Ready: 4 blocks read"));
    EXPECT_EQ(stateOfButtons(), idle);

    ASSERT_FALSE(during.isEmpty()) << "the run ended before it could be observed";
    EXPECT_EQ(statusDuring, "Reading...");
    EXPECT_EQ(userSideDuring, QStringList()) << "dialogs or list changes would stall the run";
    EXPECT_EQ(firstRowDuring, "991");
    for (const char* name : userSide)
        EXPECT_TRUE(button(name)->isEnabled()) << name;
    for (const QString& entry : during) {
        if (entry.startsWith("LoadPhonesButton:"))
            EXPECT_EQ(entry, "LoadPhonesButton:Stop:1");
        else
            EXPECT_TRUE(entry.endsWith(":0")) << entry.toStdString();
    }
    EXPECT_EQ(phone.malformedCount(), 0);
}

TEST_F(Transfer, StopDuringLoadAllLeavesAnEmptyListAndSaysStopped) {
    makeRunsSlow();
    fillPhone(*form, {block(99, "old")});
    bool stopDisabled = false;
    QTimer::singleShot(30, form.get(), [&] {
        button("LoadPhonesButton")->click(); // caption "Stop"
        stopDisabled = !button("LoadPhonesButton")->isEnabled();
    });
    button("LoadPhonesButton")->click();
    EXPECT_TRUE(stopDisabled);
    EXPECT_TRUE(ws().PhoneBlocks.isEmpty());
    EXPECT_EQ(view->blockModel()->rowCount(), 0);
    EXPECT_EQ(form->interaction().statusText(), "Stopped.");
    EXPECT_EQ(button("LoadPhonesButton")->text(), "Load all");
    EXPECT_TRUE(button("LoadPhonesButton")->isEnabled());
}

TEST_F(Transfer, LoadCustomAsksForNumbersAndMergesTheBlocks) {
    fillPhone(*form, {block(7, "stale", 0)});
    script.blockListAnswers = {"7, 5000-5001"};
    script.rewriteAnswers = {RewriteAnswer::Yes};
    button("LoadCustomPhonesButton")->click();
    EXPECT_EQ(script.rewriteQuestions, QStringList({"Do you want to reload block 7 from phone?"}));
    EXPECT_EQ(ws().PhoneBlocks,
              BlockList({block(7, QByteArray(45, 'S'), 2), block(5000, "full", 3)}));
    ASSERT_EQ(script.messageTexts(), QStringList({"Block number 5001 not found."}));
    EXPECT_TRUE(form->interaction().statusText().startsWith("Done: 2 blocks read, 1 not found"));
    EXPECT_EQ(view->blockModel()->rowCount(), 2);
    EXPECT_EQ(button("LoadCustomPhonesButton")->text(), "Load custom...");
}

TEST_F(Transfer, SaveSelectedWritesTheRowsSelectedWhenTheRunStartsAndTheListKeepsItsOrder) {
    fillPhone(*form, {block(5000, "also", 8), block(1, "changed", 9)});
    script.messageAnswers = {Button::Yes}; // blocks put in place by hand: of no known origin
    view->selectOnlyRow(1);
    // Selecting another row or sorting while the first is being written must change neither
    // the run nor the positions it works on.
    phone.config().latency = std::chrono::milliseconds(5);
    bool seenRunning = false;
    QTimer::singleShot(5, form.get(), [&] {
        seenRunning = button("SaveSelPhonesButton")->text() == "Stop";
        view->selectRow(0);
        emit view->header()->sectionClicked(0);
    });
    button("SaveSelPhonesButton")->click();
    ASSERT_TRUE(seenRunning) << "the run ended before it could be observed";
    EXPECT_TRUE(form->interaction().statusText().startsWith("Ready: 1 block written"));
    EXPECT_EQ(ws().PhoneBlocks, BlockList({block(5000, "also", 8), block(1, "changed", 9)}));
    const BlockList onPhone = phone.blocks();
    EXPECT_EQ(onPhone[findBlock(onPhone, 1)], block(1, "changed", 9));
    EXPECT_EQ(onPhone[findBlock(onPhone, 5000)], block(5000, "full", 3));
    EXPECT_EQ(button("SaveSelPhonesButton")->text(), "Save selected");
    EXPECT_EQ(phone.malformedCount(), 0);
}

TEST_F(Transfer, WritingAsksBeforeBlocksOfAnotherHardwareIdWithNoAsDefault) {
    auto* userView = control<BlockListView>(form.get(), "UserEEPList");
    struct Case {
        std::optional<quint16> userHWid; // copied from a User's list of this id; none: read
        const char* button;
        Button answer;
        bool written;
    };
    const Case cases[] = {
        {{}, "SaveSelPhonesButton", Button::Ok, true},     // read from this phone
        {0x0451, "SaveSelPhonesButton", Button::Ok, true}, // the phone's own id
        {2222, "SaveSelPhonesButton", Button::No, false},
        {2222, "SavePhonesButton", Button::No, false}, // nothing erased either
        {0, "SavePhonesButton", Button::Yes, true},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(&t - cases);
        phone.setBlocks({block(1, "one", 1)});
        if (t.userHWid) {
            fillPhone(*form, {});
            fillUser(*form, {block(1, "new", 5)});
            ws().UserHWid = *t.userHWid;
            userView->selectOnlyRow(0);
            button("CopyRightButton")->click();
        } else {
            button("LoadPhonesButton")->click();
        }
        view->selectOnlyRow(0);
        script.messages.clear();
        script.messageAnswers = {t.answer};
        const qsizetype sent = phone.requests().size();
        button(t.button)->click();
        const bool asked = t.answer != Button::Ok;
        ASSERT_EQ(script.messages.size(), asked ? 1u : 0u);
        if (asked) {
            const ShownMessage& q = script.messages[0];
            EXPECT_EQ(q.buttons, Buttons::YesNo);
            EXPECT_EQ(q.defaultButton, Button::No);
            EXPECT_TRUE(q.text.contains("the User's list") &&
                        q.text.contains(t.userHWid == 0 ? "no hardware id" : "2222") &&
                        q.text.contains("1105"))
                << q.text.toStdString();
        }
        if (t.written)
            EXPECT_EQ(phone.blocks()[findBlock(phone.blocks(), 1)].Data,
                      t.userHWid ? QByteArray("new") : QByteArray("one"));
        else
            EXPECT_EQ(phone.requests().size(), sent) << "nothing was sent";
    }
}

TEST_F(Transfer, DeleteDirectlyRemovesTheBlocksFromThePhoneAndTheList) {
    button("LoadPhonesButton")->click();
    ASSERT_EQ(ws().PhoneBlocks.size(), 4);
    view->selectOnlyRow(1);
    view->selectRow(3);
    script.messageAnswers = {Button::Yes};
    button("DeleteNowButton")->click();
    EXPECT_EQ(script.messages.size(), 1u); // the question; its text is the core's
    EXPECT_EQ(ws().PhoneBlocks, BlockList({block(1, "one", 1), block(5000, "full", 3)}));
    EXPECT_EQ(view->blockModel()->rowCount(), 2);
    EXPECT_EQ(phone.blocks(), ws().PhoneBlocks);
    EXPECT_TRUE(form->interaction().statusText().startsWith("Ready: 2 blocks deleted"));
    for (const char* name : TenButtons)
        EXPECT_TRUE(button(name)->isEnabled()) << name;
}

TEST_F(Transfer, ACablePulledDuringARunEndsTheSession) {
    makeRunsSlow();
    QTimer::singleShot(30, form.get(), [&] { port.unplug(); });
    button("LoadPhonesButton")->click();
    EXPECT_FALSE(script.messages.empty());
    EXPECT_EQ(button("StartButton")->text(), "Init");
    EXPECT_TRUE(button("StartButton")->isEnabled());
    EXPECT_FALSE(button("LoadPhonesButton")->isEnabled());
}

namespace {
// Answers like ScriptedInteraction, and runs a hook first whenever a message box comes up.
class HookedInteraction : public ScriptedInteraction {
public:
    std::function<void()> beforeMessage;
    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override {
        if (beforeMessage) std::exchange(beforeMessage, nullptr)();
        return ScriptedInteraction::message(text, title, buttons, icon, defaultButton);
    }
};
} // namespace

TEST_F(Transfer, ClosingWhileAnOperationRunsLetsItFinishThenEndsTheSessionAndCloses) {
    button("LoadPhonesButton")->click();
    view->selectOnlyRow(0);
    HookedInteraction hooked;
    hooked.messageAnswers = {Button::Yes, Button::Yes}; // stop and close; delete
    bool refusedAtFirst = false;
    hooked.beforeMessage = [&] { refusedAtFirst = !form->close(); };
    form->interaction().setAnswerer(&hooked);

    button("DeleteNowButton")->click();

    EXPECT_TRUE(refusedAtFirst);
    EXPECT_EQ(hooked.messageTexts(),
              QStringList({"A run is in progress. Stop it and close?",
                           "Are you sure you want to delete 1 blocks from the phone?\nBlocks: 1"}));
    EXPECT_EQ(findBlock(phone.blocks(), 1), -1); // the run went to its end
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(phone.requests().last(), QByteArray::fromHex("0E010F04"));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(Transfer, PaceInTheSecondPanelAndTheSessionsTraceSaved) {
    makeRunsSlow();
    auto* detail = control<QLabel>(form.get(), "ProgressDetail");
    QAbstractButton* saveTrace = button("SaveTraceButton");
    EXPECT_TRUE(saveTrace->isEnabled()) << "the start is in the trace";
    QString detailDuring, statusDuring;
    bool saveDuring = true;
    QTimer::singleShot(300, form.get(), [&] {
        detailDuring = detail->text();
        statusDuring = form->interaction().statusText();
        saveDuring = saveTrace->isEnabled();
    });
    button("LoadPhonesButton")->click();
    ASSERT_FALSE(detailDuring.isEmpty()) << "the run ended before it could be observed";
    EXPECT_TRUE(QRegularExpression(R"(^Block \d+ \(\d+ of 305\)( · \d+(\.\d)? k?B/s)?( · .* left)?$)")
                    .match(detailDuring)
                    .hasMatch())
        << detailDuring.toStdString();
    EXPECT_EQ(statusDuring, "Reading...") << "the first panel keeps its texts";
    EXPECT_FALSE(saveDuring);
    EXPECT_TRUE(detail->text().isEmpty());
    EXPECT_TRUE(saveTrace->isEnabled());

    QTemporaryDir dir;
    form->setTraceChooser([&dir] { return dir.filePath("folder"); });
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    saveTrace->click();
    ASSERT_EQ(script.messages.size(), 1u) << "a failed save says so";
    EXPECT_TRUE(script.messages[0].text.contains("folder"));
    // After "Exit" the session's trace is still there to save, until the next "Init".
    button("StartButton")->click();
    form->setTraceChooser([&dir] { return dir.filePath("trace.txt"); });
    ASSERT_TRUE(saveTrace->isEnabled());
    saveTrace->click();
    EXPECT_TRUE(form->interaction().statusText().contains("trace.txt"));
    QFile saved(dir.filePath("trace.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.startsWith("# x45eep link trace"));
    EXPECT_TRUE(text.contains("->  PingQuery") && text.contains("->  BlockInfoQuery 300"));
    EXPECT_TRUE(text.contains("0E 01 0F 04")) << "the end of the session is in it";

    button("StartButton")->click(); // "Init": a new trace
    EXPECT_FALSE(form->trace().text().contains("BlockInfoQuery 300"));
}

TEST_F(Transfer, ClosingDuringLoadAllAsksAndOnlyYesStopsTheRunEndsTheSessionAndCloses) {
    makeRunsSlow();
    const auto infoQuery = [](int n) { return Link::blockFrame(0x05, WordToStr(quint16(n))); };
    struct Case {
        const char* what;
        bool atFailureBox; // else while a reply is awaited, early in the run
        Button answer;
    };
    const Case cases[] = {{"reply awaited, No", false, Button::No},
                          {"reply awaited, Yes", false, Button::Yes},
                          {"failure box, Yes", true, Button::Yes}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!form->isVisible()) {
            form.reset(makeForm(port, script));
            view = control<BlockListView>(form.get(), "PhoneEEPList");
            button("StartButton")->click();
        }
        fillPhone(*form, {block(99, "old")});
        // Block 40 gets no good reply: after its five attempts the failure box comes up between
        // two exchanges, and again when the block is read once more to settle it.
        phone.faults().clear();
        phone.faults().add(x45sim::Fault{.kind = x45sim::FaultKind::WrongSub,
                                         .cmd = 0x14,
                                         .sub = 0x05,
                                         .skip = 40,
                                         .count = 10});
        HookedInteraction hooked;
        hooked.messageAnswers = {c.answer, Button::Ignore, Button::Ignore};
        int readStateAtClose = -1;
        bool refused = false;
        const auto closeNow = [&] {
            readStateAtClose = 0;
            refused = !form->close();
        };
        int replies = 0;
        const QMetaObject::Connection watch =
            QObject::connect(&port, &SerialPort::received, form.get(), [&] {
                if (++replies == 10 && !c.atFailureBox) closeNow();
            });
        if (c.atFailureBox) hooked.beforeMessage = closeNow;
        form->interaction().setAnswerer(&hooked);
        const qsizetype before = phone.requests().size();

        button("LoadPhonesButton")->click();
        QObject::disconnect(watch);

        EXPECT_EQ(readStateAtClose, c.atFailureBox ? 0 : 1);
        EXPECT_TRUE(refused) << "the run is below the close: it winds up first";
        ASSERT_FALSE(hooked.messages.empty());
        EXPECT_EQ(hooked.messages[0].text, "A run is in progress. Stop it and close?");
        const QList<QByteArray> requests = phone.requests().mid(before);
        if (c.answer == Button::No) {
            // The run went to its end. What it skipped is said in the status and in one box, and
            // every block of the phone the list lacks is among it.
            EXPECT_TRUE(form->isVisible());
            const QString status = form->interaction().statusText();
            const QString box = hooked.messages.back().text;
            EXPECT_TRUE(status.startsWith("Done: ") && status.contains(" skipped ("))
                << status.toStdString();
            EXPECT_TRUE(box.contains("skipped") && box.contains("Load custom...")) << box.toStdString();
            for (const EEPBlock& b : phone.blocks()) {
                if (findBlock(ws().PhoneBlocks, b.BlockId) >= 0) continue;
                EXPECT_TRUE(status.contains(QString::number(b.BlockId)) &&
                            box.contains(QString::number(b.BlockId)))
                    << b.BlockId;
            }
            continue;
        }
        // "Yes": the run stopped after the block in hand, by its own rule for a stop, keeping
        // nothing of it; then the window closed, ending the session on the phone.
        EXPECT_EQ(requests.contains(infoQuery(40)), c.atFailureBox);
        EXPECT_FALSE(requests.contains(infoQuery(41)));
        for (const ShownMessage& m : hooked.messages)
            EXPECT_FALSE(m.text.contains("Load custom...")) << "no box about skipped blocks on closing";
        EXPECT_TRUE(ws().PhoneBlocks.isEmpty());
        EXPECT_EQ(view->blockModel()->rowCount(), 0);
        EXPECT_EQ(form->interaction().statusText(), "Stopped.");
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(requests.last(), QByteArray::fromHex("0E010F04"));
        EXPECT_FALSE(port.isOpen());
        form->interaction().setAnswerer(&script);
    }
    EXPECT_EQ(phone.malformedCount(), 0);
}

TEST(RunSummary, ReadyOnlyWhenTheRunDidAllItWasAskedAndTheSkippedBlocksOfAReadNamed) {
    using ui::RunKind;
    const auto run = [](Outcome end, int done, QVector<qint32> skipped = {}) {
        RunResult r;
        r.end = end;
        r.done = done;
        r.skipped = std::move(skipped);
        return r;
    };
    RunResult verified = run(Outcome::Done, 219);
    verified.verified = 219;
    RunResult missing = run(Outcome::Done, 2);
    missing.notFound = 1;
    RunResult unverified = run(Outcome::Unverified, 219);
    unverified.unverified = {5, 7};
    const QVector<qint32> twelve = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    struct Row {
        RunResult result;
        RunKind kind;
        QString status;       // how the status starts
        QString names;        // what it also says
        bool message;         // the read's skipped blocks named in a box
    } const rows[] = {
        {verified, RunKind::LoadAll, "Ready: 219 blocks read", "219 verified", false},
        {run(Outcome::Done, 218, {55}), RunKind::LoadAll, "Done: 218 blocks read", "1 skipped (55)", true},
        {missing, RunKind::LoadCustom, "Done: 2 blocks read", "1 not found", false},
        {run(Outcome::Done, 1, twelve), RunKind::LoadCustom, "Done", "1, 2, 3, 4, 5, 6, 7, 8, ... (12 in all)", true},
        // "Load all" keeps nothing of a stopped run; "Load custom..." keeps what it read.
        {run(Outcome::Stopped, 30, {9}), RunKind::LoadAll, "Stopped.", "", false},
        {run(Outcome::Stopped, 3, {9}), RunKind::LoadCustom, "Stopped: 3 blocks read", "(9)", true},
        {run(Outcome::Stopped, 100), RunKind::Write, "Stopped: 100 blocks written", "", false},
        {run(Outcome::Done, 217, {5, 7}), RunKind::Write, "Done: 217 blocks written", "2 skipped (5, 7)", false},
        {unverified, RunKind::Write, "Verification failed: 219 blocks written", "2 differ after writing (5, 7)", false},
        {run(Outcome::Stopped, 0), RunKind::Delete, "Stopped.", "", false},
        {run(Outcome::Cancelled, 0), RunKind::Delete, "", "", false},
    };
    for (const Row& row : rows) {
        const QString status = ui::runSummary(row.result, row.kind);
        SCOPED_TRACE(status.toStdString());
        EXPECT_TRUE(row.status.isEmpty() ? status.isEmpty() : status.startsWith(row.status));
        EXPECT_TRUE(status.contains(row.names));
        const QString message = ui::skippedMessage(row.result, row.kind);
        EXPECT_EQ(!message.isEmpty(), row.message);
        for (const qint32 n : row.result.skipped)
            EXPECT_TRUE(!row.message || message.contains(QString::number(n))) << n;
    }
}
