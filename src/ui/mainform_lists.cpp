// The two list views: fill, sort, select all, delete from list, copy between them, compare, and
// the description rule.

#include "mainform.h"

#include "blocklistmodel.h"
#include "blocklistview.h"
#include "blockviewer.h"
#include "dialogs.h"
#include "widgetinteraction.h"

#include "blocks/blocklist.h"
#include "blocks/compare.h"
#include "blocks/copy.h"
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
    SortBlocks(ws_.PhoneBlocks);
    FillPhoneEEPList();
}

void MainForm::UserEEPList_ColumnClick() {
    SortBlocks(ws_.UserBlocks);
    FillUserEEPList();
}

void MainForm::SelectAllPhonesButton_Click() {
    w_.PhoneEEPList->selectAllRowsAndFocus();
}

void MainForm::SelectAllUsersButton_Click() {
    w_.UserEEPList->selectAllRowsAndFocus();
}

bool MainForm::removeRowsAsked(BlockListView* view, bool silent) {
    if (view->rowCountShown() == 0) return false;
    const QList<int> rows = view->selectedRowPositions();
    if (!silent) {
        if (!ui_->askYesNo(
                YesNoQuestion::ConfirmDelete,
                QStringLiteral("Are you sure you want to delete %1 blocks?").arg(rows.size()),
                QStringLiteral("Confirm delete"), Icon::Question))
            return false;
    }
    view->blockModel()->removePositions(rows);
    return !rows.isEmpty();
}

void MainForm::RemoveSelectedPhoneBlocks(bool silent) {
    removeRowsAsked(w_.PhoneEEPList, silent);
}

void MainForm::DeletePhonesButton_Click() {
    RemoveSelectedPhoneBlocks(false);
}

void MainForm::DeleteUsersButton_Click() {
    if (removeRowsAsked(w_.UserEEPList, false)) markUserChanged();
}

namespace {

// Copies the selected rows of one view into the other list and keeps the target's rows in step:
// a copied row shows the source row's texts, its description included, until the next fill.
CopyResult copyBetween(BlockListView* sourceView, BlockListView* targetView, Interaction& ui,
                       CopyDirection direction) {
    BlockListModel* source = sourceView->blockModel();
    BlockListModel* target = targetView->blockModel();
    CopyResult result = CopyBlocks(
        source->blocks(), [sourceView](int row) { return sourceView->isRowSelected(row); },
        target->blocks(), ui, direction);
    for (const CopiedRow& copied : result.rows) {
        const QString description = source->description(copied.sourceRow);
        if (copied.appended)
            target->rowAppended(description);
        else
            target->rowReplaced(copied.targetRow, description);
    }
    targetView->selectRow(0);
    if (result.notCopiedFull > 0)
        ui.message(QStringLiteral("%1 blocks were not copied: a list holds at most %2 blocks.")
                       .arg(result.notCopiedFull)
                       .arg(MaxBlocks),
                   QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
    return result;
}

QVector<int> toVector(const QList<int>& rows) {
    return QVector<int>(rows.begin(), rows.end());
}

} // namespace

void MainForm::CopyLeftButton_Click() {
    const quint16 hwidBefore = ws_.UserHWid;
    const CopyResult copied =
        copyBetween(w_.PhoneEEPList, w_.UserEEPList, *ui_, CopyDirection::PhoneToUser);
    // The User's list now belongs to the identified phone, whatever was copied.
    ws_.UserHWid = session_->identity.PhoneHWid;
    if (!copied.rows.isEmpty() || ws_.UserHWid != hwidBefore) markUserChanged();
}

void MainForm::CopyRightButton_Click() {
    const CopyResult result =
        copyBetween(w_.UserEEPList, w_.PhoneEEPList, *ui_, CopyDirection::UserToPhone);
    // The copied blocks carry the User's list's hardware id to the phone's side.
    for (const CopiedRow& copied : result.rows)
        phoneOrigins_.insert(ws_.UserBlocks.at(copied.sourceRow).BlockId,
                             BlockOrigin{userListName(), ws_.UserHWid});
}

void MainForm::CompareButton_Click() {
    if (ws_.UserBlocks.isEmpty() || ws_.PhoneBlocks.isEmpty()) return;
    const CompareResult result =
        CompareBlocks(ws_.UserBlocks, toVector(w_.UserEEPList->selectedRowPositions()),
                      ws_.PhoneBlocks, toVector(w_.PhoneEEPList->selectedRowPositions()));
    if (result.identical()) {
        ui_->message(QStringLiteral("Lists are identical!"), QStringLiteral("Compare result"),
                     Buttons::Ok, Icon::None, Button::Ok);
        return;
    }
    compareForm()->setCompared(ws_.UserBlocks, ws_.PhoneBlocks);
    compareForm()->showResult(result.phoneMissing, result.userMissing, result.different);
}

BlockViewer* MainForm::viewBlock(BlockListView* view, const QString& listName, int row) {
    BlockListModel* model = view->blockModel();
    if (!model || row < 0 || row >= model->rowCount() || row >= model->blocks().size())
        return nullptr;
    const qint16 id = model->blocks().at(row).BlockId;
    for (BlockViewer* open : findChildren<BlockViewer*>(Qt::FindDirectChildrenOnly))
        if (!open->isHidden() && open->listModel() == model && open->block().BlockId == id &&
            open->notice().isEmpty()) {
            open->raise();
            open->activateWindow();
            return open;
        }
    int open = 0;
    for (const BlockViewer* other : findChildren<BlockViewer*>(Qt::FindDirectChildrenOnly))
        if (!other->isHidden()) ++open;
    auto* viewer = new BlockViewer(model, row, listName, this);
    viewer->placeBeside(this, open);
    viewer->show();
    return viewer;
}

BlockViewer* MainForm::ViewPhoneBlock(int row) {
    return viewBlock(w_.PhoneEEPList, QStringLiteral("Phone's list"), row);
}

BlockViewer* MainForm::ViewUserBlock(int row) {
    return viewBlock(w_.UserEEPList, QStringLiteral("User's list"), row);
}

CompareForm* MainForm::compareForm() {
    if (!compareForm_) compareForm_ = new CompareForm(this);
    return compareForm_;
}

} // namespace x45::ui
