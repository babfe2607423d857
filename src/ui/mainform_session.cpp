// The session as the window shows it, handing operations to the engine and showing their end,
// and closing.

#include "mainform.h"

#include "widgetinteraction.h"

#include "files/safefile.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace x45::ui {

namespace {
const QString CaptionInit = QStringLiteral("Init");
const QString CaptionStop = QStringLiteral("Stop");
const QString CaptionExit = QStringLiteral("Exit");
} // namespace

void MainForm::connectEngine() {
    PhoneEngine& engine = engine_->engine();
    WidgetInteraction* ui = ui_.get();
    // Queued: the engine emits these on its own thread.
    connect(&engine, &PhoneEngine::statusChanged, this,
            [ui](const QString& text) { ui->setStatus(text); });
    connect(&engine, &PhoneEngine::progressRangeChanged, this,
            [ui](int minimum, int maximum) { ui->setProgressRange(minimum, maximum); });
    connect(&engine, &PhoneEngine::progressChanged, this,
            [ui](int value) { ui->setProgressValue(value); });
    connect(&engine, &PhoneEngine::paceChanged, this,
            [ui](const ProgressDetail& detail) { ui->setProgressDetail(detail); });
    connect(&engine, &PhoneEngine::busyChanged, this, [ui](bool busy) { ui->setBusy(busy); });
    connect(&engine, &PhoneEngine::identified, this, &MainForm::showIdentity);
    connect(&engine, &PhoneEngine::spaceChanged, this, &MainForm::showSpace);
    connect(&engine, &PhoneEngine::questionAsked, this, &MainForm::askQuestion);
    connect(&engine, &PhoneEngine::finished, this, &MainForm::operationEnded);
}

QList<QAbstractButton*> MainForm::phoneSideButtons() const {
    return {w_.loadAllButton,         w_.loadCustomButton,    w_.saveAllButton,
            w_.saveSelectedButton,    w_.deleteOnPhoneButton, w_.removePhoneRowsButton,
            w_.selectPhoneRowsButton, w_.copyToUserButton,    w_.copyToPhoneButton};
}

void MainForm::setPhoneSideEnabled(bool enabled) {
    for (QAbstractButton* button : phoneSideButtons())
        button->setEnabled(enabled);
}

// ---- Handing over and the end -------------------------------------------------------------------

void MainForm::runOnPhone(Running running, std::function<void(PhoneEngine&)> work) {
    for (QWidget* control : std::as_const(running.disabled))
        control->setEnabled(false);
    if (running.stoppable) running.own->setText(CaptionStop);
    running_ = std::move(running);
    updateTraceButton();
    engine_->post(std::move(work));
}

void MainForm::stopRun() {
    if (!running_ || !running_->stoppable) return; // "Exit" and "Delete directly" run to their end
    engine_->engine().requestStop();
    running_->own->setEnabled(false);
}

void MainForm::askQuestion(const std::shared_ptr<PendingAnswer>& pending) {
    ui_->askLater(pending->question(), [pending](const Answer& answer) { pending->give(answer); });
}

void MainForm::operationEnded(const EngineReport& report) {
    Q_ASSERT(running_);
    const Running ended = std::move(*running_);
    running_.reset();
    // Its button is back, also after "Stop" turned it off; a session that ended turns it off below.
    ended.own->setText(ended.idleCaption);
    ended.own->setEnabled(true);
    traceHeld_ = report.traceHeld;
    switch (report.operation) {
    case PhoneOperation::Start:
        if (report.start == Outcome::Done)
            showSessionOpen();
        else
            showNoSession(); // the lists stay as they were, and the window stays open
        break;
    case PhoneOperation::End:
        showNoSession();
        break;
    default:
        transferEnded(ended, report);
        break;
    }
    updateTraceButton();
    emit idle();
    if (closeRequested_) close();
}

// ---- Start and end ------------------------------------------------------------------------------

void MainForm::initStopOrExit() {
    if (sessionOpen_)
        endSession(); // the trace stays until the next "Init", so it can still be saved
    else
        startSession();
}

void MainForm::startSession() {
    QList<QWidget*> off{w_.portChoice};
    for (QAbstractButton* button : phoneSideButtons())
        off << button;
    runOnPhone({PhoneOperation::Start, w_.startButton, true, CaptionInit, off},
               [device = portDevice()](PhoneEngine& engine) { engine.start(device); });
}

void MainForm::endSession() {
    runOnPhone({PhoneOperation::End, w_.startButton, false, CaptionExit, {w_.startButton}},
               [](PhoneEngine& engine) { engine.end(); });
}

void MainForm::showSessionOpen() {
    sessionOpen_ = true;
    w_.startButton->setText(CaptionExit);
    w_.startButton->setEnabled(true);
    w_.portChoice->setEnabled(false);
    setPhoneSideEnabled(true);
}

void MainForm::showNoSession() {
    if (sessionOpen_) {
        // A session ended ("Exit", or the port went away): what it showed goes.
        w_.progressBar->setMinimum(0);
        w_.progressBar->setValue(0);
        for (QLabel* label : w_.identityLabels())
            label->clear();
        for (QLabel* label : w_.spaceLabels())
            label->clear();
        ui_->setStatus(QStringLiteral("Stopped."));
    }
    sessionOpen_ = false;
    w_.startButton->setText(CaptionInit);
    w_.startButton->setEnabled(true);
    w_.portChoice->setEnabled(true);
    setPhoneSideEnabled(false);
}

void MainForm::showIdentity(const PhoneIdentity& id) {
    identity_ = id;
    // The hardware id is always rewritten; the other values keep what the labels showed when the
    // phone gave nothing this time.
    w_.hardwareIdLabel->setText(id.PhoneHWid != 0 ? QString::number(id.PhoneHWid) : QString());
    if (!id.PhoneModel.isEmpty()) w_.modelLabel->setText(id.PhoneModel);
    if (id.PhoneSWVer != 0) w_.swVersionLabel->setText(QString::number(id.PhoneSWVer));
    if (!id.PhoneLangGroup.isEmpty()) w_.langGroupLabel->setText(id.PhoneLangGroup);
    if (!id.PhoneIMEI.isEmpty()) w_.imeiLabel->setText(id.PhoneIMEI);
}

void MainForm::showSpace(const EEPSpace& lite, const EEPSpace& full) {
    const QList<std::pair<QLabel*, qint32>> values = {
        {w_.eeliteInBufferLabel, lite.FreeInBuffer},
        {w_.eeliteAtAllLabel, lite.FreeAtAll},
        {w_.eeliteForDeletedLabel, lite.FreeForDeleted},
        {w_.eefullInBufferLabel, full.FreeInBuffer},
        {w_.eefullAtAllLabel, full.FreeAtAll},
        {w_.eefullForDeletedLabel, full.FreeForDeleted},
    };
    for (const auto& [label, value] : values)
        if (value > 0) label->setText(QString::number(value));
}

// ---- The trace ----------------------------------------------------------------------------------

void MainForm::updateTraceButton() {
    w_.saveTraceButton->setEnabled(traceHeld_ && !running_);
}

void MainForm::saveTrace() {
    if (traceChooser_) {
        saveTraceTo(traceChooser_());
        return;
    }
    const QString suggested =
        QStringLiteral("x45eep-trace-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString folder =
        lastFileName_.isEmpty() ? QDir::homePath() : QFileInfo(lastFileName_).path();
    auto* dialog =
        new QFileDialog(this, QStringLiteral("Save trace as..."), QDir(folder).filePath(suggested),
                        QStringLiteral("Trace files (*.txt);;All files (*)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    whenChosen(dialog, [this](const QStringList& names) { saveTraceTo(names.value(0)); });
}

void MainForm::saveTraceTo(const QString& name) {
    // No operation runs (the button is off during a run, and the dialog is window-modal): the
    // engine's trace holds still.
    if (name.isEmpty()) return; // cancelled: nothing written
    ui_->setBusy(true);
    const Status saved = writeFileSafely(name, engine_->traceText());
    ui_->setBusy(false);
    if (!saved) {
        ui_->informLater(saved.message() +
                         QStringLiteral("\nThe trace is still held; save it to another file."));
        return;
    }
    ui_->setStatus(QStringLiteral("Saved the trace to %1").arg(QFileInfo(name).fileName()));
}

// ---- Closing ------------------------------------------------------------------------------------

void MainForm::closeEvent(QCloseEvent* event) {
    if (!running_ && !sessionOpen_) {
        closeRequested_ = false;
        event->accept();
        return;
    }
    event->ignore();
    if (!running_) {
        // The session is ended first; its report closes the window.
        closeRequested_ = true;
        endSession();
        return;
    }
    if (closeRequested_ || running_->operation == PhoneOperation::Start ||
        running_->operation == PhoneOperation::End) {
        stopAndClose(); // nothing held is at stake while the phone is being started or left
        return;
    }
    if (closeQuestion_) {
        closeQuestion_->raise();
        closeQuestion_->activateWindow();
        return;
    }
    closeQuestion_ =
        ui_->askLater({.kind = Question::Kind::YesNo,
                       .text = QStringLiteral("A run is in progress. Stop it and close?")},
                      [this](const Answer& answer) {
                          if (answer.button == Button::Yes) stopAndClose();
                      });
}

void MainForm::stopAndClose() {
    closeRequested_ = true;
    if (!running_) {
        close(); // nothing runs (any more): the session is ended, then the window closes
        return;
    }
    stopRun();
    ui_->setStatus(QStringLiteral("Closing when the run has ended..."));
}

} // namespace x45::ui
