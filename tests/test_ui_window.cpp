// The window's controls at start, the session states against the simulated phone, and the close
// rules.

#include "fakeport.h"
#include "ui_fixture.h"

#include "link/link.h"
#include "link/session.h"
#include "simport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

using namespace x45;
using namespace x45::test;
using x45::ui::MainForm;

namespace {

// The phone's side of the window; the first five are the transfer buttons.
const char* const PhoneSide[] = {
    "LoadPhonesButton",      "LoadCustomPhonesButton", "SavePhonesButton",
    "SaveSelPhonesButton",   "DeleteNowButton",        "DeletePhonesButton",
    "SelectAllPhonesButton", "CopyLeftButton",         "CopyRightButton"};
// What the phone told about itself and its free space.
const char* const PhoneLabels[] = {"Label9",  "Label10", "Label12", "Label11", "Label27", "Label17",
                                   "Label21", "Label14", "Label16", "Label15", "Label20"};

QString text(QWidget* root, const char* name) {
    if (auto* b = root->findChild<QAbstractButton*>(QLatin1String(name))) return b->text();
    if (auto* l = root->findChild<QLabel*>(QLatin1String(name))) return l->text();
    if (auto* g = root->findChild<QGroupBox*>(QLatin1String(name))) return g->title();
    ADD_FAILURE() << "no control named " << name;
    return {};
}

bool enabled(QWidget* root, const char* name) {
    QWidget* w = root->findChild<QWidget*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w && w->isEnabled();
}

// No session: Init offered, the port choosable, the phone's side off.
void expectNoSession(QWidget* form) {
    EXPECT_EQ(text(form, "StartButton"), "Init");
    EXPECT_TRUE(enabled(form, "StartButton"));
    EXPECT_TRUE(enabled(form, "Combo3"));
    for (const char* name : PhoneSide)
        EXPECT_FALSE(enabled(form, name)) << name;
}

void expectEmptyPhoneLabels(QWidget* form) {
    for (const char* name : PhoneLabels)
        EXPECT_TRUE(text(form, name).isEmpty()) << name;
}

class WindowWithPhone : public ::testing::Test {
protected:
    void SetUp() override { form.reset(makeForm(port, script)); }
    void TearDown() override {
        if (form && form->link().port().isOpen() && text(form.get(), "StartButton") == "Exit")
            form->close();
    }
    QString status() { return form->interaction().statusText(); }
    void clickInit() { control<QPushButton>(form.get(), "StartButton")->click(); }

    x45sim::SimPhone phone;
    x45sim::SimPort port{phone};
    ScriptedInteraction script;
    std::unique_ptr<MainForm> form;
};

} // namespace

TEST_F(WindowWithPhone, ControlsAtStartCarryTheirCaptionsAndStates) {
    EXPECT_EQ(form->windowTitle(), QStringLiteral("x45eep " X45_VERSION));
    const QList<std::pair<const char*, QString>> captions = {
        {"MobileInitFrame", " Mobile initialization "},
        {"Label4", "Port:"},
        {"StartButton", "Init"},
        {"MobileFrame", " Mobile information "},
        {"Label3", "Phone model:"},
        {"Label5", "Mobile SW ver:"},
        {"Label7", "Hardware ver:"},
        {"Label8", "Lang Group:"},
        {"Label26", "IMEI:"},
        {"EEFULLSpaceFrame", " EEPROM space (bytes): "},
        {"Label25", "EEFULL"},
        {"Label24", "EELITE"},
        {"Label19", "free in buffer."},
        {"Label23", "free at all."},
        {"Label6", "free for deleted."},
        {"Label13", "free in buffer."},
        {"Label18", "free at all."},
        {"Label22", "free for deleted."},
        {"Label2", "Phone's EEPROM blocks:"},
        {"Label1", "User's EEPROM blocks:"},
        {"LoadPhonesButton", "Load all"},
        {"LoadCustomPhonesButton", "Load custom..."},
        {"SavePhonesButton", "Save all"},
        {"SaveSelPhonesButton", "Save selected"},
        {"DeleteNowButton", "Delete directly"},
        {"DeletePhonesButton", "Delete from list"},
        {"SelectAllPhonesButton", "Select all"},
        {"LoadUsersButton", "Load"},
        {"SaveUsersButton", "Save"},
        {"DeleteUsersButton", "Delete"},
        {"SelectAllUsersButton", "Select all"},
        {"CompareButton", "Compare"},
        {"CheckHWidForDesc", "Check Hardware ver for description"},
        {"CopyLeftButton", ""},
        {"CopyRightButton", ""},
    };
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(text(form.get(), name), caption) << name;
    expectEmptyPhoneLabels(form.get());

    // The five transfer buttons are off; the list's own buttons and the arrows are on.
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(enabled(form.get(), PhoneSide[i]), i >= 5) << PhoneSide[i];
    for (const char* name :
         {"LoadUsersButton", "SaveUsersButton", "DeleteUsersButton", "SelectAllUsersButton",
          "CompareButton", "CheckHWidForDesc", "StartButton", "Combo3"})
        EXPECT_TRUE(enabled(form.get(), name)) << name;
    EXPECT_FALSE(control<QCheckBox>(form.get(), "CheckHWidForDesc")->isChecked());
    EXPECT_NE(control<QStatusBar>(form.get(), "StatusBar"), nullptr);
    EXPECT_EQ(status(), "Ready");

    for (const char* name : {"PhoneEEPList", "UserEEPList"}) {
        auto* view = control<ui::BlockListView>(form.get(), name);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->model()->rowCount(), 0);
        EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_TRUE(view->uniformRowHeights());
    }
}

TEST_F(WindowWithPhone, PortChoicesStartWithComOneToFourAndTakeExtraPaths) {
    auto* combo = control<QComboBox>(form.get(), "Combo3");
    ASSERT_GE(combo->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(combo->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        EXPECT_EQ(combo->itemData(i).toString(), comPortDevice(i));
    }
    EXPECT_EQ(form->PortNumber(), 1);

    combo->setCurrentIndex(2);
    EXPECT_EQ(form->PortNumber(), 3);
    EXPECT_EQ(form->portDevice(), comPortDevice(2));

    const int before = combo->count();
    form->addPortChoice("/tmp/x45-test-port", true);
    form->addPortChoice("/tmp/x45-test-port", true); // listed once
    EXPECT_EQ(combo->count(), before + 1);
    EXPECT_EQ(combo->currentText(), "/tmp/x45-test-port");
    EXPECT_EQ(form->portDevice(), "/tmp/x45-test-port");
    EXPECT_TRUE(combo->toolTip().contains("/tmp/x45-test-port")) << "a path too long for the box";
}

TEST_F(WindowWithPhone, InitOpensTheSessionAndExitEndsIt) {
    phone.config().hwid = 4660;
    phone.config().model = "C45";
    phone.config().sw = 0x25;
    phone.config().langGroup = "lg12";
    phone.config().imei = "490154203237518";
    form->addPortChoice("sim-port", true);

    clickInit();

    EXPECT_EQ(port.portName(), "sim-port");
    EXPECT_EQ(text(form.get(), "StartButton"), "Exit");
    EXPECT_TRUE(enabled(form.get(), "StartButton"));
    EXPECT_FALSE(enabled(form.get(), "Combo3"));
    for (const char* name : PhoneSide)
        EXPECT_TRUE(enabled(form.get(), name)) << name;
    EXPECT_EQ(text(form.get(), "Label9"), "C45");
    EXPECT_EQ(text(form.get(), "Label10"), "25");
    EXPECT_EQ(text(form.get(), "Label12"), "4660");
    EXPECT_EQ(text(form.get(), "Label11"), "lg12");
    EXPECT_EQ(text(form.get(), "Label27"), "490154203237518");
    // Both areas empty: free space equals the capacities.
    EXPECT_EQ(text(form.get(), "Label16"), QString::number(phone.config().eeliteCapacity));
    EXPECT_EQ(text(form.get(), "Label17"), QString::number(phone.config().eefullCapacity));
    EXPECT_EQ(status(), "Service mode ready.");

    control<QPushButton>(form.get(), "StartButton")->click();

    EXPECT_EQ(phone.requests().last(), QByteArray::fromHex("0E010F04")); // end of session
    EXPECT_FALSE(port.isOpen());
    expectNoSession(form.get());
    expectEmptyPhoneLabels(form.get());
    auto* progress = control<QProgressBar>(form.get(), "ProgressBar");
    EXPECT_EQ(progress->value(), 0);
    EXPECT_EQ(status(), "Stopped.");
    EXPECT_EQ(phone.malformedCount(), 0) << phone.malformedReasons().join('\n').toStdString();
}

TEST_F(WindowWithPhone, HardwareIdShowsItsSixteenBitPatternAndZeroEmptiesOnlyItsLabel) {
    phone.config().hwid = 0x8001;
    clickInit();
    EXPECT_EQ(text(form.get(), "Label12"), "32769");
    EXPECT_EQ(form->session().identity.PhoneHWid, 0x8001);
    control<QPushButton>(form.get(), "StartButton")->click(); // Exit empties the labels
    control<QLabel>(form.get(), "Label9")->setText("kept");
    phone.config().hwid = 0;
    phone.config().model = "";
    clickInit();
    EXPECT_EQ(text(form.get(), "Label12"), "");
    EXPECT_EQ(text(form.get(), "Label9"), "kept");
    EXPECT_EQ(text(form.get(), "Label10"), "45");
}

TEST_F(WindowWithPhone, PortThatWillNotOpenIsReportedAndTheWindowStaysUsable) {
    fillUser(*form, {block(7, "abc")});
    port.failOpen("Permission denied");
    clickInit();
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("Permission denied"));
    expectNoSession(form.get());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->workspace().UserBlocks.size(), 1); // nothing held is lost
    EXPECT_TRUE(form->close());                        // no session: quits at once
    EXPECT_TRUE(phone.requests().isEmpty());
}

// A port on which no phone ever answers: the start scans until stopped.
class WindowWithSilentPort : public ::testing::Test {
protected:
    void SetUp() override { form.reset(makeForm(port, script)); }
    FakePort port;
    ScriptedInteraction script;
    std::unique_ptr<MainForm> form;
};

TEST_F(WindowWithSilentPort, StopWhileScanningGoesBackToNoSession) {
    auto* start = control<QPushButton>(form.get(), "StartButton");
    QString statusWhileScanning;
    bool startEnabledAfterStop = true;
    QStringList disabledWhileScanning;
    QTimer::singleShot(350, form.get(), [&] {
        statusWhileScanning = form->interaction().statusText();
        for (const char* name : PhoneSide)
            if (!enabled(form.get(), name)) disabledWhileScanning << name;
        if (!enabled(form.get(), "Combo3")) disabledWhileScanning << "Combo3";
        EXPECT_EQ(start->text(), "Stop");
        start->click();
        startEnabledAfterStop = start->isEnabled();
    });
    start->click(); // returns once the scan has seen the stop

    EXPECT_EQ(statusWhileScanning, "Scanning...");
    EXPECT_EQ(disabledWhileScanning.size(), 10);
    EXPECT_FALSE(startEnabledAfterStop);
    expectNoSession(form.get());
    EXPECT_EQ(form->interaction().statusText(), "Stopped.");
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(script.messages.empty());
    // Every scan byte went out at the boot speed.
    ASSERT_FALSE(port.writes.isEmpty());
    EXPECT_EQ(port.writes.first(), QByteArray(1, '\x55'));
}

TEST_F(WindowWithSilentPort, ClosingWhileScanningStopsTheScanClosesThePortAndTheWindow) {
    auto* start = control<QPushButton>(form.get(), "StartButton");
    bool refusedAtFirst = false;
    QTimer::singleShot(250, form.get(), [&] {
        refusedAtFirst = !form->close(); // the scan winds up first
    });
    start->click();
    EXPECT_TRUE(refusedAtFirst);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(start->text(), "Init");
}
