// The five phone-transfer buttons: what each hands to the engine, and the Phone's list, the
// buttons and the status afterwards.

#include "mainform.h"

#include "blocklistmodel.h"
#include "blocklistview.h"
#include "runsummary.h"
#include "widgetinteraction.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSet>

namespace x45::ui {

namespace {

RunKind runKind(PhoneOperation operation) {
    switch (operation) {
    case PhoneOperation::LoadAll:
        return RunKind::LoadAll;
    case PhoneOperation::LoadCustom:
        return RunKind::LoadCustom;
    case PhoneOperation::Delete:
        return RunKind::Delete;
    default:
        return RunKind::Write;
    }
}

} // namespace

void MainForm::runTransfer(QAbstractButton* own, PhoneOperation operation, bool stoppable,
                           std::function<void(PhoneEngine&)> work) {
    QList<QWidget*> off{w_.startButton};
    for (QAbstractButton* button : phoneSideButtons())
        if (button != own || !stoppable) off << button;
    // The User's side waits too, so that no modal dialog of its own (file choosers, compare)
    // stands between the person and the run's questions. The check boxes wait with it: the run
    // has taken "Verify" as it began, and the description rule refills both lists.
    for (QWidget* control : std::initializer_list<QWidget*>{
             w_.compareButton, w_.loadUserButton, w_.saveUserButton, w_.removeUserRowsButton,
             w_.selectUserRowsButton, w_.verifyCheck, w_.hwidDescriptionsCheck})
        if (control->isEnabled()) off << control;
    runOnPhone({operation, own, stoppable, own->text(), off}, std::move(work));
}

void MainForm::transferEnded(const Running& ended, const EngineReport& report) {
    if (report.operation == PhoneOperation::LoadAll ||
        report.operation == PhoneOperation::LoadCustom)
        takeReadBlocks(report);
    else if (report.operation == PhoneOperation::Delete)
        removeDeletedBlocks(report.deleted);
    for (QWidget* control : ended.disabled)
        control->setEnabled(true);
    if (!report.sessionOpen) showNoSession(); // the port went away; the person has been told
    const RunKind kind = runKind(report.operation);
    if (const QString summary = runSummary(report.run, kind); !summary.isEmpty())
        ui_->setStatus(summary);
    // A backup saved from a list that lacks blocks must not pass for a whole one.
    if (!closeRequested_)
        if (const QString skipped = skippedMessage(report.run, kind); !skipped.isEmpty())
            ui_->informLater(skipped);
}

namespace {

// Blocks read from a phone keep its hardware id: written to another phone they are asked about.
BlockOrigin readFromPhone(quint16 hwid) {
    return {QStringLiteral("a phone read earlier"), hwid};
}

} // namespace

void MainForm::takeReadBlocks(const EngineReport& report) {
    const BlockOrigin origin = readFromPhone(identity_.PhoneHWid);
    if (report.operation == PhoneOperation::LoadAll) {
        phoneOrigins_.clear();
        for (const EEPBlock& block : report.phoneList)
            phoneOrigins_.insert(block.BlockId, origin);
    } else {
        // A block that is new or changed was read from the phone; one read back unchanged keeps
        // where it came from.
        for (const EEPBlock& block : report.phoneList)
            if (const qsizetype at = findBlock(ws_.PhoneBlocks, block.BlockId);
                at < 0 || ws_.PhoneBlocks.at(at) != block)
                phoneOrigins_.insert(block.BlockId, origin);
    }
    ws_.PhoneBlocks = report.phoneList;
    fillPhoneList();
}

void MainForm::removeDeletedBlocks(const QVector<qint16>& deleted) {
    // Exactly the blocks the phone deleted, wherever their rows are now; the other rows keep
    // their texts.
    const QSet<qint16> gone(deleted.begin(), deleted.end());
    QList<int> rows;
    for (int row = 0; row < ws_.PhoneBlocks.size(); ++row)
        if (gone.contains(ws_.PhoneBlocks.at(row).BlockId)) rows.append(row);
    phoneModel_->removePositions(rows);
}

HWidRule MainForm::hwidRule() const {
    return HWidRule{identity_.PhoneHWid, phoneOrigins_, false};
}

void MainForm::loadAll() {
    runTransfer(
        w_.loadAllButton, PhoneOperation::LoadAll, true,
        [verify = w_.verifyCheck->isChecked()](PhoneEngine& engine) { engine.loadAll(verify); });
}

void MainForm::loadCustom() {
    runTransfer(w_.loadCustomButton, PhoneOperation::LoadCustom, true,
                [list = ws_.PhoneBlocks, verify = w_.verifyCheck->isChecked()](
                    PhoneEngine& engine) { engine.loadCustom(list, verify); });
}

void MainForm::saveAll() {
    if (ws_.PhoneBlocks.isEmpty()) return;
    runTransfer(w_.saveAllButton, PhoneOperation::SaveAll, true,
                [list = ws_.PhoneBlocks, rule = hwidRule(), verify = w_.verifyCheck->isChecked()](
                    PhoneEngine& engine) { engine.saveAll(list, rule, verify); });
}

void MainForm::saveSelected() {
    if (ws_.PhoneBlocks.isEmpty()) return;
    // The rows selected now: a selection changed during the run does not change what is written.
    const QList<int> rows = w_.phoneList->selectedRowPositions();
    runTransfer(w_.saveSelectedButton, PhoneOperation::SaveSelected, true,
                [list = ws_.PhoneBlocks, chosen = QSet<int>(rows.begin(), rows.end()),
                 rule = hwidRule(), verify = w_.verifyCheck->isChecked()](PhoneEngine& engine) {
                    engine.saveSelected(list, chosen, rule, verify);
                });
}

void MainForm::deleteOnPhone() {
    if (ws_.PhoneBlocks.isEmpty()) return;
    runTransfer(w_.deleteOnPhoneButton, PhoneOperation::Delete, false,
                [list = ws_.PhoneBlocks, rows = w_.phoneList->selectedRowPositions()](
                    PhoneEngine& engine) { engine.deleteDirectly(list, rows); });
}

} // namespace x45::ui
