// The five phone-transfer buttons against the simulated phone: what the window does while a run
// goes on (buttons, pace, repaints, "Stop", closing), and the Phone's list, the status and the
// questions around it.

#include "ui_fixture.h"

#include "link/link.h"
#include "transfer/transfer.h"
#include "ui/runsummary.h"

#include <QRegularExpression>

using namespace x45;
using namespace x45::test;

namespace {

// The phone's side, the start button and the User's side.
const char* const Controls[] = {
    "LoadPhonesButton", "LoadCustomPhonesButton", "SavePhonesButton",  "SaveSelPhonesButton",
    "DeleteNowButton",  "DeletePhonesButton",     "SelectAllPhonesButton", "CopyLeftButton",
    "CopyRightButton",  "StartButton",            "CompareButton",     "LoadUsersButton",
    "SaveUsersButton",  "DeleteUsersButton",      "SelectAllUsersButton", "VerifyCheck",
    "CheckHWidForDesc"};
const QByteArray EndOfSession = QByteArray::fromHex("0E010F04");

class Transfer : public WindowTest {
protected:
    void SetUp() override {
        phone.setBlocks({block(1, "one", 1), block(7, QByteArray(45, 'S'), 2),
                         block(5000, "full", 3), block(5003, QByteArray(70, 'F'), 4)});
        open();
        startSession();
    }
    // A run long enough to be watched: hundreds of numbers, each answered late.
    void makeRunsSlow() {
        phone.config().maxEElite = 300;
        phone.config().latency = std::chrono::milliseconds(1);
    }
    QStringList enabledControls() {
        QStringList on;
        for (const char* name : Controls)
            if (button(name)->isEnabled()) on << name;
        return on;
    }
};

// Answers like ScriptedInteraction; the close question gets `closeAnswer`, and `beforeFirst` runs
// when the first box comes up.
class CloseAnswering : public ScriptedInteraction {
public:
    Button closeAnswer = Button::Yes;
    std::function<void()> beforeFirst;
    Button message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Button defaultButton) override {
        if (beforeFirst) std::exchange(beforeFirst, nullptr)();
        if (!text.contains("Stop it and close?"))
            return ScriptedInteraction::message(text, title, buttons, icon, defaultButton);
        messages.push_back({text, title, buttons, icon, defaultButton});
        return closeAnswer;
    }
};

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

} // namespace

TEST_F(Transfer, LoadAllRefillsTheListAndOnlyItsStopIsOnWhileItRuns) {
    makeRunsSlow();
    fillPhone({block(99, "old")});
    auto* pace = control<QLabel>(form.get(), "ProgressDetail");
    EXPECT_EQ(enabledControls().size(), qsizetype(std::size(Controls)));
    EXPECT_TRUE(button("SaveTraceButton")->isEnabled()) << "the start is in the trace";
    button("LoadPhonesButton")->click();
    const QRegularExpression paced(R"(^Block \d+ \(\d+ of 305\)( · \d+(\.\d)? k?B/s)?( · .* left)?$)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return paced.match(pace->text()).hasMatch(); }, 10000));
    EXPECT_EQ(status(), "Reading...");
    EXPECT_EQ(enabledControls(), QStringList{"LoadPhonesButton"});
    EXPECT_EQ(button("LoadPhonesButton")->text(), "Stop");
    EXPECT_FALSE(button("SaveTraceButton")->isEnabled());
    EXPECT_EQ(form->phoneModel().rowCount(), 1) << "the old rows stay until the refill";

    waitIdle();
    EXPECT_EQ(ws().PhoneBlocks, phone.blocks());
    EXPECT_EQ(form->phoneModel().rowCount(), 4);
    EXPECT_TRUE(status().startsWith("Ready: 4 blocks read"));
    EXPECT_EQ(enabledControls().size(), qsizetype(std::size(Controls)));
    EXPECT_EQ(button("LoadPhonesButton")->text(), "Load all");
    EXPECT_TRUE(pace->text().isEmpty());
    EXPECT_TRUE(button("SaveTraceButton")->isEnabled());
    EXPECT_EQ(phone.malformedCount(), 0);
}

TEST_F(Transfer, WhileAReplyIsAwaitedTheWindowRepaintsAndStopAndCloseTakeEffect) {
    phone.config().latency = std::chrono::milliseconds(700); // within the reply time-out
    fillPhone({block(99, "old")});
    QAbstractButton* load = button("LoadPhonesButton");
    load->click();
    QTest::qWait(200); // the engine now waits for the phone's first reply
    ASSERT_TRUE(form->busy());

    // Both go through the window's event queue, as the window system's events do.
    PaintCounter painted(form.get());
    form->update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return painted.count > 0; }, 100)) << "a repaint";
    QMetaObject::invokeMethod(load, &QAbstractButton::click, Qt::QueuedConnection); // "Stop"
    EXPECT_TRUE(QTest::qWaitFor([&] { return !load->isEnabled(); }, 100)) << "the stop taken";
    EXPECT_EQ(load->text(), "Stop");
    waitIdle();
    EXPECT_EQ(status(), "Stopped.");
    EXPECT_EQ(form->phoneModel().rowCount(), 0) << "a stopped Load all keeps nothing";
    EXPECT_TRUE(load->isEnabled() && load->text() == "Load all");

    // Closing during a run asks, and "Yes" closes once the run has stopped and the session ended.
    load->click();
    QTest::qWait(200);
    script.messageAnswers = {Button::Yes};
    EXPECT_FALSE(form->close());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 10000));
    EXPECT_EQ(script.messageTexts(), QStringList{"A run is in progress. Stop it and close?"});
    EXPECT_EQ(phone.requests().last(), EndOfSession);
    EXPECT_FALSE(port->isOpen());
}

TEST_F(Transfer, ClosingAtAQuestionOfARunAsksAndNoLetsItGoOnWhileYesStopsItAtItsNextSafePoint) {
    makeRunsSlow();
    const auto infoQuery = [](int n) { return Link::blockFrame(0x05, wordToStr(quint16(n))); };
    struct Case {
        const char* button; // "Delete directly" has no stop: it runs to its end
        Button answer;
    } const cases[] = {{"LoadPhonesButton", Button::No},
                       {"LoadPhonesButton", Button::Yes},
                       {"DeleteNowButton", Button::Yes}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        const bool deleting = c.button == std::string("DeleteNowButton");
        if (!form->isVisible()) {
            open();
            startSession();
        }
        fillPhone({block(1, "one", 1)});
        // Block 40 gets no good reply: the failure box comes up, and the window is closed there.
        phone.faults().clear();
        phone.faults().add(x45sim::Fault{
            .kind = x45sim::FaultKind::WrongSub, .cmd = 0x14, .sub = 0x05, .skip = 40, .count = 10});
        CloseAnswering person;
        person.closeAnswer = c.answer;
        if (deleting) person.messageAnswers = {Button::Yes}; // its question
        person.defaultMessageAnswer = Button::Ignore;
        person.beforeFirst = [&] { EXPECT_FALSE(form->close()); };
        form->interaction().setAnswerer(&person);
        const qsizetype before = phone.requests().size();
        press(c.button);
        ASSERT_TRUE(person.messageTexts().contains("A run is in progress. Stop it and close?"));
        EXPECT_EQ(form->isVisible(), c.answer == Button::No);
        const QList<QByteArray> requests = phone.requests().mid(before);
        if (deleting)
            EXPECT_EQ(findBlock(phone.blocks(), 1), -1);
        else
            EXPECT_EQ(requests.contains(infoQuery(41)), c.answer == Button::No);
        EXPECT_EQ(requests.last() == EndOfSession, c.answer == Button::Yes);
        EXPECT_EQ(person.messageTexts().last().contains("Load custom..."), c.answer == Button::No)
            << "the skipped blocks are named only when the window stays";
        form->interaction().setAnswerer(&script);
    }
}

TEST_F(Transfer, LoadCustomAsksForNumbersAndMergesTheBlocksIntoTheList) {
    fillPhone({block(7, "stale", 0), block(99, "kept")});
    script.blockListAnswers = {"7, 5000-5001"};
    script.rewriteAnswers = {RewriteAnswer::Yes};
    press("LoadCustomPhonesButton");
    EXPECT_EQ(script.rewriteQuestions.size(), 1);
    EXPECT_EQ(ws().PhoneBlocks, BlockList({block(7, QByteArray(45, 'S'), 2), block(99, "kept"),
                                           block(5000, "full", 3)}));
    EXPECT_EQ(form->phoneModel().rowCount(), 3);
    EXPECT_EQ(script.messages.size(), 1u) << "5001 not found";
    EXPECT_TRUE(status().startsWith("Done: 2 blocks read, 1 not found"));
}

TEST_F(Transfer, SaveSelectedWritesTheRowsSelectedWhenTheRunStarts) {
    fillPhone({block(5000, "also", 8), block(1, "changed", 9)});
    script.messageAnswers = {Button::Yes}; // blocks put in place by hand: of no known origin
    phoneView()->selectOnlyRow(1);
    phone.config().latency = std::chrono::milliseconds(5);
    button("SaveSelPhonesButton")->click();
    phoneView()->selectRow(0); // changes nothing of the run
    waitIdle();
    EXPECT_TRUE(status().startsWith("Ready: 1 block written"));
    const BlockList onPhone = phone.blocks();
    EXPECT_EQ(onPhone[findBlock(onPhone, 1)], block(1, "changed", 9));
    EXPECT_EQ(onPhone[findBlock(onPhone, 5000)], block(5000, "full", 3));
}

TEST_F(Transfer, WritingAsksBeforeBlocksOfAnotherHardwareIdWithNoAsDefault) {
    struct Case {
        std::optional<quint16> userHWid; // copied from a User's list of this id; none: read
        const char* button;
        Button answer; // Ok: not asked
        bool written;
    } const cases[] = {
        {{}, "SaveSelPhonesButton", Button::Ok, true},     // read from this phone
        {0x0451, "SaveSelPhonesButton", Button::Ok, true}, // the phone's own id
        {2222, "SavePhonesButton", Button::No, false},     // nothing erased either
        {0, "SaveSelPhonesButton", Button::Yes, true},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(&t - cases);
        phone.setBlocks({block(1, "one", 1)});
        if (t.userHWid) {
            fillPhone({});
            fillUser({block(1, "new", 5)});
            ws().UserHWid = *t.userHWid;
            userView()->selectOnlyRow(0);
            press("CopyRightButton");
        } else {
            press("LoadPhonesButton");
        }
        phoneView()->selectOnlyRow(0);
        script.messages.clear();
        script.messageAnswers = {t.answer};
        const qsizetype sent = phone.requests().size();
        press(t.button);
        const bool asked = t.answer != Button::Ok;
        ASSERT_EQ(script.messages.size(), asked ? 1u : 0u);
        if (asked) {
            const ShownMessage& q = script.messages[0];
            EXPECT_EQ(q.defaultButton, Button::No);
            EXPECT_TRUE(q.text.contains("the User's list") &&
                        q.text.contains(t.userHWid == 0 ? "no hardware id" : "2222"))
                << q.text.toStdString();
        }
        if (t.written)
            EXPECT_EQ(phone.blocks()[0].Data, t.userHWid ? QByteArray("new") : QByteArray("one"));
        else
            EXPECT_EQ(phone.requests().size(), sent) << "nothing was sent";
    }
}

TEST_F(Transfer, CopyLeftHandsOverThePhonesHardwareIdEvenWithNothingSelected) {
    ws().UserHWid = 5;
    fillUser({block(1, "a")});
    fillPhone({block(1, "b")});
    phoneView()->selectionModel()->clearSelection();
    press("CopyLeftButton");
    EXPECT_EQ(ws().UserBlocks, BlockList({block(1, "a")}));
    EXPECT_EQ(ws().UserHWid, 0x0451);
}

TEST_F(Transfer, DeleteDirectlyRemovesTheDeletedBlocksFromTheList) {
    press("LoadPhonesButton");
    phoneView()->selectOnlyRow(1);
    phoneView()->selectRow(3);
    script.messageAnswers = {Button::Yes};
    press("DeleteNowButton");
    EXPECT_EQ(ws().PhoneBlocks, BlockList({block(1, "one", 1), block(5000, "full", 3)}));
    EXPECT_EQ(form->phoneModel().rowCount(), 2);
    EXPECT_EQ(phone.blocks(), ws().PhoneBlocks);
    EXPECT_TRUE(status().startsWith("Ready: 2 blocks deleted"));
    EXPECT_EQ(enabledControls().size(), qsizetype(std::size(Controls)));
}

TEST_F(Transfer, APortThatWentAwayEndsTheSession) {
    QMetaObject::invokeMethod(port, [this] { port->unplug(); }, Qt::BlockingQueuedConnection);
    press("LoadPhonesButton");
    EXPECT_FALSE(script.messages.empty());
    EXPECT_EQ(enabledControls().size(), qsizetype(std::size(Controls)) - 9) << "the phone side";
    EXPECT_EQ(button("StartButton")->text(), "Init");
}

TEST_F(Transfer, TheSessionsTraceIsSavedUntilTheNextInitAndAFailedSaveSaysSo) {
    QString target = dir.filePath("folder");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    form->setTraceChooser([&] { return target; });
    press("SaveTraceButton");
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("folder"));
    const auto saved = [&] {
        target = dir.filePath("trace.txt");
        press("SaveTraceButton");
        QFile file(target);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    press("StartButton"); // Exit
    EXPECT_TRUE(saved().contains("->  PingQuery"));
    EXPECT_TRUE(saved().contains("0E 01 0F 04")) << "the end of the session is in it";
    press("StartButton"); // Init: a new trace
    EXPECT_FALSE(saved().contains("0E 01 0F 04"));
}

TEST(RunSummary, ReadyOnlyWhenTheRunDidAllItWasAskedAndTheSkippedBlocksOfAReadNamed) {
    using ui::RunKind;
    const auto run = [](Outcome end, int done, QVector<qint32> skipped = {}, int notFound = 0,
                        int verified = 0, QVector<qint16> unverified = {}) {
        return RunResult{end, done, std::move(skipped), notFound, 0, 0, verified, std::move(unverified)};
    };
    struct Row {
        RunResult result;
        RunKind kind;
        QString status; // how the status starts
        QString names;  // what it also says
        bool message;   // the read's skipped blocks named in a box
    } const rows[] = {
        {run(Outcome::Done, 219, {}, 0, 219), RunKind::LoadAll, "Ready: 219 blocks read", "219 verified", false},
        {run(Outcome::Done, 218, {55}), RunKind::LoadAll, "Done: 218 blocks read", "1 skipped (55)", true},
        {run(Outcome::Done, 2, {}, 1), RunKind::LoadCustom, "Done: 2 blocks read", "1 not found", false},
        {run(Outcome::Done, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), RunKind::LoadCustom, "Done",
         "1, 2, 3, 4, 5, 6, 7, 8, ... (12 in all)", true},
        // "Load all" keeps nothing of a stopped run; "Load custom..." keeps what it read.
        {run(Outcome::Stopped, 30, {9}), RunKind::LoadAll, "Stopped.", "", false},
        {run(Outcome::Stopped, 3, {9}), RunKind::LoadCustom, "Stopped: 3 blocks read", "(9)", true},
        {run(Outcome::Done, 217, {5, 7}), RunKind::Write, "Done: 217 blocks written", "2 skipped (5, 7)", false},
        {run(Outcome::Unverified, 219, {}, 0, 0, {5, 7}), RunKind::Write, "Verification failed: 219 blocks written",
         "2 differ after writing (5, 7)", false},
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
