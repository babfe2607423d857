// The five phone-transfer buttons: captions, enable states, and the list refreshed afterwards.

#include "mainform.h"

#include "blocklistmodel.h"
#include "blocklistview.h"
#include "runsummary.h"
#include "widgetinteraction.h"

#include "link/link.h"
#include "link/session.h"
#include "transfer/transfer.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSet>

namespace x45::ui {

namespace {
const QString CaptionStop = QStringLiteral("Stop");
}

void MainForm::runPhoneOperation(QAbstractButton* own, bool stoppable,
                                 const std::function<RunResult()>& operation) {
    if (operationRunning_) {
        // Only the running operation's own button is enabled now, captioned "Stop"; the
        // operation sees the request after its current block.
        if (stoppable) stopRunningOperation();
        return;
    }
    if (starting_) return;

    const QString idleCaption = own->text();
    QList<QAbstractButton*> disabled = phoneSideButtons();
    disabled.append(w_.StartButton);
    for (QAbstractButton* button : disabled)
        if (button != own || !stoppable) button->setEnabled(false);
    // The User's side waits too: its dialogs would stall the run while it waits for a reply, and
    // a list changed under the run would be compared or saved half-read. The check boxes wait
    // with it: the run has taken "Verify" as it began, and the description rule refills both
    // lists.
    const QList<QAbstractButton*> userSide = {
        w_.CompareButton,        w_.LoadUsersButton, w_.SaveUsersButton, w_.DeleteUsersButton,
        w_.SelectAllUsersButton, w_.VerifyCheck,     w_.CheckHWidForDesc};
    QList<QAbstractButton*> userWaiting;
    for (QAbstractButton* button : userSide)
        if (button->isEnabled()) {
            button->setEnabled(false);
            userWaiting.append(button);
        }
    if (stoppable) own->setText(CaptionStop);

    transfer_->setVerify(w_.VerifyCheck->isChecked());
    operationRunning_ = true;
    runningButton_ = stoppable ? own : nullptr;
    updateTraceButton();
    const RunResult result = operation();
    operationRunning_ = false;
    runningButton_ = nullptr;
    updateTraceButton();

    if (stoppable) own->setText(idleCaption);
    for (QAbstractButton* button : userWaiting)
        button->setEnabled(true);
    if (result.end == Outcome::PortLost) {
        // The phone is gone: the session cannot go on. The person has been told why.
        endSession();
    } else {
        for (QAbstractButton* button : disabled)
            button->setEnabled(true);
    }
    const RunKind kind = own == w_.LoadPhonesButton         ? RunKind::LoadAll
                         : own == w_.LoadCustomPhonesButton ? RunKind::LoadCustom
                         : own == w_.DeleteNowButton        ? RunKind::Delete
                                                            : RunKind::Write;
    if (const QString summary = runSummary(result, kind); !summary.isEmpty())
        ui_->setStatus(summary);
    // A backup saved from a list that lacks blocks must not pass for a whole one.
    if (!closePending_)
        if (const QString skipped = skippedMessage(result, kind); !skipped.isEmpty())
            ui_->message(skipped, QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
    afterOperation();
}

void MainForm::stopRunningOperation() {
    if (!runningButton_) return; // "Delete directly" has no stop: it runs to its end
    transfer_->stopRequest().request();
    runningButton_->setEnabled(false);
}

namespace {

// Blocks read from a phone keep its hardware id: written to another phone they are asked about.
BlockOrigin readFromPhone(const Session& session) {
    return {QStringLiteral("a phone read earlier"), session.identity.PhoneHWid};
}

} // namespace

HWidRule MainForm::hwidRule() const {
    return HWidRule{session_->identity.PhoneHWid, phoneOrigins_, false};
}

void MainForm::LoadPhonesButton_Click() {
    runPhoneOperation(w_.LoadPhonesButton, true, [this] {
        // The view keeps showing the old rows until the refill: its model is never emptied
        // under it while the run reads.
        BlockList read;
        RunResult result = transfer_->loadAll(read);
        ws_.PhoneBlocks = std::move(read);
        phoneOrigins_.clear();
        for (const EEPBlock& block : std::as_const(ws_.PhoneBlocks))
            phoneOrigins_.insert(block.BlockId, readFromPhone(*session_));
        FillPhoneEEPList();
        return result;
    });
}

void MainForm::LoadCustomPhonesButton_Click() {
    runPhoneOperation(w_.LoadCustomPhonesButton, true, [this] {
        BlockList merged = ws_.PhoneBlocks;
        RunResult result = transfer_->loadCustom(merged);
        // A block that is new or changed was read from the phone; one read back unchanged keeps
        // where it came from.
        for (const EEPBlock& block : std::as_const(merged))
            if (const qsizetype at = findBlock(ws_.PhoneBlocks, block.BlockId);
                at < 0 || !(ws_.PhoneBlocks.at(at) == block))
                phoneOrigins_.insert(block.BlockId, readFromPhone(*session_));
        ws_.PhoneBlocks = std::move(merged);
        FillPhoneEEPList();
        return result;
    });
}

void MainForm::SavePhonesButton_Click() {
    if (ws_.PhoneBlocks.isEmpty() && !operationRunning_) return;
    runPhoneOperation(w_.SavePhonesButton, true,
                      [this] { return transfer_->saveAll(ws_.PhoneBlocks, hwidRule()); });
}

void MainForm::SaveSelPhonesButton_Click() {
    if (ws_.PhoneBlocks.isEmpty() && !operationRunning_) return;
    runPhoneOperation(w_.SaveSelPhonesButton, true, [this] {
        // The rows to write are those selected when the run starts: a selection changed during
        // the run must not change which blocks go to the phone.
        const QList<int> rows = w_.PhoneEEPList->selectedRowPositions();
        const QSet<int> chosen(rows.begin(), rows.end());
        const BlockList snapshot = ws_.PhoneBlocks;
        return transfer_->saveSelected(
            snapshot, [&chosen](int row) { return chosen.contains(row); },
            static_cast<int>(chosen.size()), hwidRule());
    });
}

void MainForm::DeleteNowButton_Click() {
    if (w_.PhoneEEPList->rowCountShown() == 0) return;
    runPhoneOperation(w_.DeleteNowButton, false, [this] {
        const QList<int> rows = w_.PhoneEEPList->selectedRowPositions();
        const QVector<int> selected(rows.begin(), rows.end());
        const BlockList snapshot = ws_.PhoneBlocks;
        return transfer_->deleteDirectly(snapshot, selected, [this](const QVector<qint16>& ids) {
            // Remove exactly the blocks the phone deleted, wherever their rows are now; the other
            // rows keep their texts.
            const QSet<qint16> gone(ids.begin(), ids.end());
            QList<int> positions;
            for (int row = 0; row < ws_.PhoneBlocks.size(); ++row)
                if (gone.contains(ws_.PhoneBlocks.at(row).BlockId)) positions.append(row);
            phoneModel_->removePositions(positions);
        });
    });
}

} // namespace x45::ui
