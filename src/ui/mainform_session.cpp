// Session start and end as the window shows them, and the close rules.

#include "mainform.h"

#include "blocklistview.h"
#include "widgetinteraction.h"

#include "files/safefile.h"
#include "link/link.h"
#include "link/linktrace.h"
#include "link/session.h"
#include "transfer/transfer.h"

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

QList<QAbstractButton*> MainForm::phoneSideButtons() const {
    return {w_.LoadPhonesButton,      w_.LoadCustomPhonesButton, w_.SavePhonesButton,
            w_.SaveSelPhonesButton,   w_.DeleteNowButton,        w_.DeletePhonesButton,
            w_.SelectAllPhonesButton, w_.CopyLeftButton,         w_.CopyRightButton};
}

void MainForm::setPhoneSideEnabled(bool enabled) {
    for (QAbstractButton* button : phoneSideButtons())
        button->setEnabled(enabled);
}

bool MainForm::sessionOpen() const {
    return session_->isOpen();
}

void MainForm::StartButton_Click() {
    if (starting_) {
        // Only a request: the start sequence looks at it while it scans.
        session_->stopRequest().request();
        w_.StartButton->setEnabled(false);
        return;
    }
    if (session_->isOpen()) {
        // The trace stays until the next "Init": a fault noticed after "Exit" can still be
        // saved.
        endSession();
        return;
    }

    setPhoneSideEnabled(false);
    w_.Combo3->setEnabled(false);
    w_.StartButton->setText(CaptionStop);
    starting_ = true;
    trace_->restart();
    updateTraceButton();
    // The start's own failure messages are warnings.
    ui_->setIconForPlainMessages(Icon::Exclamation);
    const Outcome outcome = session_->Start(portDevice());
    ui_->setIconForPlainMessages(Icon::None);
    starting_ = false;
    updateTraceButton();

    w_.StartButton->setEnabled(true);
    if (outcome == Outcome::Done) {
        w_.StartButton->setText(CaptionExit);
        setPhoneSideEnabled(true);
        w_.Combo3->setEnabled(false);
    } else {
        // Stopped, refused readiness, or an error already shown: the lists stay as they were and
        // the window stays open, so nothing held in memory is lost.
        enterNoSession();
    }
    afterOperation();
}

void MainForm::enterNoSession() {
    w_.StartButton->setText(CaptionInit);
    w_.StartButton->setEnabled(true);
    w_.Combo3->setEnabled(true);
    setPhoneSideEnabled(false);
}

void MainForm::endSession() {
    session_->End(); // end-of-session message, port closed, "Stopped."
    w_.StartButton->setText(CaptionInit);
    w_.ProgressBar->setMinimum(0);
    w_.ProgressBar->setValue(0);
    for (QLabel* label : w_.identityLabels())
        label->clear();
    for (QLabel* label : w_.spaceLabels())
        label->clear();
    enterNoSession();
    ui_->setStatus(QStringLiteral("Stopped."));
}

void MainForm::showIdentity() {
    const PhoneIdentity& id = session_->identity;
    // The hardware id is always rewritten; the other values keep what the labels showed when the
    // phone gave nothing this time.
    w_.Label12->setText(id.PhoneHWid != 0 ? QString::number(id.PhoneHWid) : QString());
    if (!id.PhoneModel.isEmpty()) w_.Label9->setText(id.PhoneModel);
    if (id.PhoneSWVer != 0) w_.Label10->setText(QString::number(id.PhoneSWVer));
    if (!id.PhoneLangGroup.isEmpty()) w_.Label11->setText(id.PhoneLangGroup);
    if (!id.PhoneIMEI.isEmpty()) w_.Label27->setText(id.PhoneIMEI);
}

void MainForm::showSpace() {
    const EEPSpace& lite = session_->EEliteSpace;
    const EEPSpace& full = session_->EEfullSpace;
    const QList<std::pair<QLabel*, qint32>> values = {
        {w_.Label16, lite.FreeInBuffer},   {w_.Label15, lite.FreeAtAll},
        {w_.Label20, lite.FreeForDeleted}, {w_.Label17, full.FreeInBuffer},
        {w_.Label21, full.FreeAtAll},      {w_.Label14, full.FreeForDeleted},
    };
    for (const auto& [label, value] : values)
        if (value > 0) label->setText(QString::number(value));
}

void MainForm::updateTraceButton() {
    w_.SaveTraceButton->setEnabled(trace_->started() && !trace_->isEmpty() && !starting_ &&
                                   !operationRunning_);
}

void MainForm::SaveTraceButton_Click() {
    if (starting_ || operationRunning_ || !trace_->started()) return;
    QString name;
    if (traceChooser_) {
        name = traceChooser_();
    } else {
        const QString suggested =
            QStringLiteral("x45eep-trace-%1.txt")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        const QString folder =
            lastFileName_.isEmpty() ? QDir::homePath() : QFileInfo(lastFileName_).path();
        QFileDialog dialog(this, QStringLiteral("Save trace as..."),
                           QDir(folder).filePath(suggested),
                           QStringLiteral("Trace files (*.txt);;All files (*)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            name = dialog.selectedFiles().constFirst();
    }
    if (name.isEmpty()) return; // cancelled: nothing written
    ui_->setBusy(true);
    const Status saved = writeFileSafely(name, trace_->text());
    ui_->setBusy(false);
    if (!saved) {
        ui_->message(saved.message() + QStringLiteral("\nThe trace is still held; save it to "
                                                      "another file."),
                     QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
        return;
    }
    ui_->setStatus(QStringLiteral("Saved the trace to %1").arg(QFileInfo(name).fileName()));
}

void MainForm::afterOperation() {
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void MainForm::closeEvent(QCloseEvent* event) {
    if (starting_ || operationRunning_) {
        // The run is on the stack below this event: it cannot be ended here, only asked to stop.
        event->ignore();
        if (closePending_) return; // already on its way
        if (starting_) {
            closeWhenIdle(); // nothing held is at stake while the phone is being started
            return;
        }
        ui_->askYesNoLater(QStringLiteral("A run is in progress. Stop it and close?"),
                           [this](bool yes) {
                               if (yes) closeWhenIdle();
                           });
        return;
    }
    if (sessionOpen()) endSession();
    event->accept();
}

void MainForm::closeWhenIdle() {
    if (!starting_ && !operationRunning_) {
        close(); // the run ended while the question was open
        return;
    }
    // As "Stop" does; the window closes, ending the session, once the run has wound up.
    if (starting_) {
        session_->stopRequest().request();
        w_.StartButton->setEnabled(false);
    }
    if (operationRunning_) stopRunningOperation();
    closePending_ = true;
    ui_->setStatus(QStringLiteral("Closing when the run has ended..."));
}

} // namespace x45::ui
