// The five phone-transfer buttons against the simulated phone: captions and enable states while a
// run goes on, "Stop", and the Phone's list afterwards.

#include "ui_fixture.h"

#include "link/link.h"
#include "simport.h"

#include "link/linktrace.h"

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
    const char* const userSide[] = {"CompareButton", "LoadUsersButton", "SaveUsersButton",
                                    "DeleteUsersButton"};
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
    EXPECT_EQ(form->interaction().statusText(), "Ready");
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
    EXPECT_EQ(view->blockModel()->rowCount(), 2);
    EXPECT_EQ(button("LoadCustomPhonesButton")->text(), "Load custom...");
}

TEST_F(Transfer, SaveSelectedWritesTheRowsSelectedWhenTheRunStartsAndTheListKeepsItsOrder) {
    fillPhone(*form, {block(5000, "also", 8), block(1, "changed", 9)});
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
    EXPECT_EQ(form->interaction().statusText(), "Ready");
    EXPECT_EQ(ws().PhoneBlocks, BlockList({block(5000, "also", 8), block(1, "changed", 9)}));
    const BlockList onPhone = phone.blocks();
    EXPECT_EQ(onPhone[findBlock(onPhone, 1)], block(1, "changed", 9));
    EXPECT_EQ(onPhone[findBlock(onPhone, 5000)], block(5000, "full", 3));
    EXPECT_EQ(button("SaveSelPhonesButton")->text(), "Save selected");
    EXPECT_EQ(phone.malformedCount(), 0);
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
    EXPECT_EQ(form->interaction().statusText(), "Ready");
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
    hooked.messageAnswers = {Button::Yes};
    bool refusedAtFirst = false;
    hooked.beforeMessage = [&] { refusedAtFirst = !form->close(); };
    form->interaction().setAnswerer(&hooked);

    button("DeleteNowButton")->click();

    EXPECT_TRUE(refusedAtFirst);
    EXPECT_EQ(hooked.messageTexts(),
              QStringList({"Are you sure you want to delete 1 blocks from the phone?\nBlocks: 1"}));
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
    form->setTraceChooser([&dir] { return dir.filePath("trace.txt"); });
    saveTrace->click();
    QFile saved(dir.filePath("trace.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.startsWith("# x45eep link trace"));
    EXPECT_TRUE(text.contains("->  PingQuery") && text.contains("->  BlockInfoQuery 300"));

    button("StartButton")->click(); // "Exit": the trace goes with the session
    EXPECT_FALSE(saveTrace->isEnabled());
    EXPECT_TRUE(form->trace().text().isEmpty());
}

TEST_F(Transfer, CloseDuringLoadAllWaitsForASafePointThenStopsTheRunAndCloses) {
    makeRunsSlow();
    fillPhone(*form, {block(99, "old")});
    // Block 40 gets no good reply: after its five attempts the failure box comes up between
    // two exchanges.
    phone.faults().add(x45sim::Fault{
        .kind = x45sim::FaultKind::WrongSub, .cmd = 0x14, .sub = 0x05, .skip = 40, .count = 5});
    const auto infoQuery = [](int n) { return Link::blockFrame(0x05, WordToStr(quint16(n))); };

    // A close asked for while a reply is awaited is refused and changes nothing.
    int replies = 0;
    int readStateAtClose = -1;
    bool refusedInWait = false;
    QObject::connect(&port, &SerialPort::received, form.get(), [&] {
        if (++replies != 10) return;
        readStateAtClose = form->link().ReadState;
        refusedInWait = !form->close();
    });
    // At the failure box the close is taken: the run is asked to stop and winds up first.
    HookedInteraction hooked;
    hooked.messageAnswers = {Button::Ignore};
    bool refusedAtBox = false, visibleAtBox = false;
    hooked.beforeMessage = [&] {
        refusedAtBox = !form->close();
        visibleAtBox = form->isVisible();
    };
    form->interaction().setAnswerer(&hooked);

    button("LoadPhonesButton")->click();

    EXPECT_EQ(readStateAtClose, 1) << "the first close came while a reply was awaited";
    EXPECT_TRUE(refusedInWait);
    ASSERT_EQ(hooked.messages.size(), 1u) << "the run went on after the refused close";
    EXPECT_TRUE(hooked.messages[0].text.contains("40")) << hooked.messages[0].text.toStdString();
    EXPECT_TRUE(refusedAtBox);
    EXPECT_TRUE(visibleAtBox);
    // The run stopped after the block in hand, by its own rule for a stop: nothing of it kept.
    const QList<QByteArray> requests = phone.requests();
    EXPECT_TRUE(requests.contains(infoQuery(40)));
    EXPECT_FALSE(requests.contains(infoQuery(41)));
    EXPECT_TRUE(ws().PhoneBlocks.isEmpty());
    EXPECT_EQ(view->blockModel()->rowCount(), 0);
    EXPECT_EQ(form->interaction().statusText(), "Stopped.");
    // Then the window closed, ending the session on the phone.
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(requests.last(), QByteArray::fromHex("0E010F04"));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(phone.malformedCount(), 0);
}
