// The two list views: fill, sort, select all, delete from list, copy between them, compare, and
// the description rule.

#include "mainform.h"

#include "blocklistmodel.h"
#include "blocklistview.h"
#include "dialogs.h"
#include "widgetinteraction.h"

#include "link/session.h"

#include <QCheckBox>

namespace x45::ui {

void MainForm::FillPhoneEEPList() {
    const quint16 hwid = session_->identity.PhoneHWid;
    phoneModel_->fill([this, hwid](qint16 id) { return DescribeBlock(id, hwid); });
    w_.PhoneEEPList->selectOnlyRow(0);
}

void MainForm::FillUserEEPList() {
    const quint16 hwid = ws_.UserHWid;
    userModel_->fill([this, hwid](qint16 id) { return DescribeBlock(id, hwid); });
    w_.UserEEPList->selectOnlyRow(0);
}

void MainForm::CheckHWidForDesc_Click() {
    FillUserEEPList();
    FillPhoneEEPList();
}

void MainForm::PhoneEEPList_ColumnClick() {
    // A phone operation works on positions of this list: its order must not change under it.
    if (operationRunning_) return;
    FillPhoneEEPList();
}

void MainForm::UserEEPList_ColumnClick() {
    FillUserEEPList();
}

void MainForm::SelectAllPhonesButton_Click() {
    w_.PhoneEEPList->selectAllRowsAndFocus();
}

void MainForm::SelectAllUsersButton_Click() {
    w_.UserEEPList->selectAllRowsAndFocus();
}

void MainForm::removeRowsAsked(BlockListView* view, bool silent) {
    if (view->rowCountShown() == 0) return;
    const QList<int> rows = view->selectedRowPositions();
    if (!silent) {
        const Button answer = ui_->message(
            QStringLiteral("Are you sure you want to delete %1 blocks?").arg(rows.size()),
            QStringLiteral("Confirm delete"), Buttons::YesNo, Icon::Question, Button::Yes);
        if (answer != Button::Yes) return;
    }
    view->blockModel()->removePositions(rows);
}

void MainForm::RemoveSelectedPhoneBlocks(bool silent) {
    removeRowsAsked(w_.PhoneEEPList, silent);
}

void MainForm::DeletePhonesButton_Click() {
    RemoveSelectedPhoneBlocks(false);
}

void MainForm::DeleteUsersButton_Click() {
    removeRowsAsked(w_.UserEEPList, false);
}

void MainForm::CopyLeftButton_Click() {}

void MainForm::CopyRightButton_Click() {}

void MainForm::CompareButton_Click() {}

} // namespace x45::ui
