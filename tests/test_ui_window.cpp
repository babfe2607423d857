// The window's states at start, the session against the simulated phone, the port choice, and
// stopping or closing during the start.

#include "ui_fixture.h"

#include "link/session.h"

#include <QComboBox>
#include <QProgressBar>

using namespace x45;
using namespace x45::test;

namespace {

// The phone's side of the window; the first five are the transfer buttons.
const char* const PhoneSide[] = {
    "LoadPhonesButton",      "LoadCustomPhonesButton", "SavePhonesButton",
    "SaveSelPhonesButton",   "DeleteNowButton",        "DeletePhonesButton",
    "SelectAllPhonesButton", "CopyLeftButton",         "CopyRightButton"};
// What the phone told about itself and its free space.
const char* const PhoneLabels[] = {"Label9",  "Label10", "Label12", "Label11", "Label27", "Label17",
                                   "Label21", "Label14", "Label16", "Label15", "Label20"};

using Window = WindowTest;

bool enabled(QWidget* root, const char* name) {
    return control<QWidget>(root, name)->isEnabled();
}

// No session: Init offered, the port choosable, the phone's side off.
void expectNoSession(QWidget* form) {
    EXPECT_EQ(control<QAbstractButton>(form, "StartButton")->text(), "Init");
    EXPECT_TRUE(enabled(form, "StartButton"));
    EXPECT_TRUE(enabled(form, "Combo3"));
    for (const char* name : PhoneSide)
        EXPECT_FALSE(enabled(form, name)) << name;
}

} // namespace

TEST_F(Window, PortChoicesStartWithComOneToFourAndTakeExtraPathsOnce) {
    auto* combo = control<QComboBox>(form.get(), "Combo3");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(combo->itemData(i).toString(), comPortDevice(i));
    combo->setCurrentIndex(2);
    EXPECT_EQ(form->portNumber(), 3);
    EXPECT_EQ(form->portDevice(), comPortDevice(2));
    const int before = combo->count();
    for (int i = 0; i < 2; ++i) // listed once
        form->addPortChoice("/dev/ttyX45test", true, "ttyX45test \u2013 Test UART");
    EXPECT_EQ(combo->count(), before + 1);
    EXPECT_EQ(combo->currentText(), "ttyX45test \u2013 Test UART");
    EXPECT_EQ(form->portDevice(), "/dev/ttyX45test");
    EXPECT_TRUE(combo->toolTip().contains("/dev/ttyX45test")) << "a path too long for the box";
}

TEST_F(Window, InitShowsThePhoneAndExitEndsTheSessionAndEmptiesWhatItShowed) {
    // At start only the five transfer buttons are off, and there is no trace to save.
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(enabled(form.get(), PhoneSide[i]), i >= 5) << PhoneSide[i];
    EXPECT_FALSE(enabled(form.get(), "SaveTraceButton"));
    phone.config().hwid = 0x8001; // shown as its 16-bit pattern
    phone.config().imei = "490154203237518";
    form->addPortChoice("sim-port", true);
    startSession();
    EXPECT_EQ(port->portName(), "sim-port");
    EXPECT_FALSE(enabled(form.get(), "Combo3"));
    for (const char* name : PhoneSide)
        EXPECT_TRUE(enabled(form.get(), name)) << name;
    const QList<std::pair<const char*, QString>> shown = {
        {"Label9", "S45"},   {"Label10", "45"},   {"Label12", "32769"},
        {"Label11", "lg07"}, {"Label27", "490154203237518"},
        {"Label16", QString::number(phone.config().eeliteCapacity)}, // both areas empty
        {"Label17", QString::number(phone.config().eefullCapacity)}};
    for (const auto& [name, text] : shown)
        EXPECT_EQ(label(name), text) << name;

    press("StartButton");
    EXPECT_EQ(phone.requests().last(), QByteArray::fromHex("0E010F04")); // end of session
    EXPECT_FALSE(port->isOpen());
    expectNoSession(form.get());
    for (const char* name : PhoneLabels)
        EXPECT_TRUE(label(name).isEmpty()) << name;
    EXPECT_EQ(control<QProgressBar>(form.get(), "ProgressBar")->value(), 0);

    // A value the phone does not give keeps what the label showed; a zero hardware id empties.
    control<QLabel>(form.get(), "Label9")->setText("kept");
    phone.config().hwid = 0;
    phone.config().model = "";
    startSession();
    EXPECT_EQ(label("Label12"), "");
    EXPECT_EQ(label("Label9"), "kept");
    EXPECT_EQ(phone.malformedCount(), 0) << phone.malformedReasons().join('\n').toStdString();
}

TEST_F(Window, APortThatWillNotOpenIsReportedAndNothingHeldIsLost) {
    fillUser({block(7, "abc")});
    port->failOpen("Permission denied");
    press("StartButton");
    EXPECT_TRUE(phone.requests().isEmpty());
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains("Permission denied"));
    expectNoSession(form.get());
    EXPECT_EQ(ws().UserBlocks.size(), 1);
    EXPECT_TRUE(form->close()); // no session: closes at once
}

// A port on which no phone answers: the start scans until it is stopped, by "Stop" or by closing.
TEST_F(Window, StopOrCloseWhileScanningEndsTheStartWithoutAQuestion) {
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing);
        open(true);
        auto* start = control<QAbstractButton>(form.get(), "StartButton");
        start->click();
        QTest::qWait(250);
        EXPECT_EQ(status(), "Scanning...");
        EXPECT_EQ(start->text(), "Stop");
        for (const char* name : PhoneSide)
            EXPECT_FALSE(enabled(form.get(), name)) << name;
        EXPECT_FALSE(enabled(form.get(), "Combo3"));
        if (byClosing) {
            EXPECT_FALSE(form->close()) << "the scan winds up first";
        } else {
            start->click();
            EXPECT_FALSE(start->isEnabled());
        }
        waitIdle();
        EXPECT_EQ(form->isVisible(), !byClosing);
        expectNoSession(form.get());
        EXPECT_TRUE(script.messages.empty());
    }
}
