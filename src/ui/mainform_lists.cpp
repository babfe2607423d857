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

#include <QCheckBox>

namespace x45::ui {

void MainForm::fillPhoneList() {
    const quint16 hwid = identity_.PhoneHWid;
    phoneModel_->fill([this, hwid](qint16 id) { return describeBlock(id, hwid); });
    w_.phoneList->selectOnlyRow(0);
}

void MainForm::fillUserList() {
    const quint16 hwid = ws_.UserHWid;
    userModel_->fill([this, hwid](qint16 id) { return describeBlock(id, hwid); });
    w_.userList->selectOnlyRow(0);
}

void MainForm::applyDescriptionRule() {
    fillUserList();
    fillPhoneList();
}

void MainForm::sortPhoneList() {
    // A running operation works on its own copy of the list.
    sortBlocks(ws_.PhoneBlocks);
    fillPhoneList();
}

void MainForm::sortUserList() {
    sortBlocks(ws_.UserBlocks);
    fillUserList();
}

void MainForm::selectAllPhoneRows() {
    w_.phoneList->selectAllRowsAndFocus();
}

void MainForm::selectAllUserRows() {
    w_.userList->selectAllRowsAndFocus();
}

void MainForm::removeSelectedRows(BlockListView* view, const std::function<void()>& removed) {
    if (view->rowCountShown() == 0) return;
    // The box is window-modal: neither the list nor its selection changes while it is open.
    const QList<int> rows = view->selectedRowPositions();
    ui_->askLater(
        {.kind = Question::Kind::YesNo,
         .text = QStringLiteral("Are you sure you want to delete %1 blocks?").arg(rows.size()),
         .title = QStringLiteral("Confirm delete"),
         .icon = Icon::Question,
         .yesNo = YesNoQuestion::ConfirmDelete},
        [view, rows, removed](const Answer& answer) {
            if (answer.button != Button::Yes) return;
            view->blockModel()->removePositions(rows);
            if (!rows.isEmpty() && removed) removed();
        });
}

void MainForm::removePhoneRows() {
    removeSelectedRows(w_.phoneList);
}

void MainForm::removeUserRows() {
    removeSelectedRows(w_.userList, [this] { markUserChanged(); });
}

namespace {

// Copies the selected rows of one view into the other list and keeps the target's rows in step:
// a copied row shows the source row's texts, its description included, until the next fill.
CopyResult copyBetween(BlockListView* sourceView, BlockListView* targetView,
                       WidgetInteraction& ui, CopyDirection direction) {
    BlockListModel* source = sourceView->blockModel();
    BlockListModel* target = targetView->blockModel();
    CopyResult result = copyBlocks(
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
        ui.informLater(QStringLiteral("%1 blocks were not copied: a list holds at most %2 blocks.")
                           .arg(result.notCopiedFull)
                           .arg(MaxBlocks));
    return result;
}

} // namespace

void MainForm::copyToUserList() {
    const quint16 hwidBefore = ws_.UserHWid;
    const CopyResult copied =
        copyBetween(w_.phoneList, w_.userList, *ui_, CopyDirection::PhoneToUser);
    // The User's list now belongs to the identified phone, whatever was copied.
    ws_.UserHWid = identity_.PhoneHWid;
    if (!copied.rows.isEmpty() || ws_.UserHWid != hwidBefore) markUserChanged();
}

void MainForm::copyToPhoneList() {
    const CopyResult result =
        copyBetween(w_.userList, w_.phoneList, *ui_, CopyDirection::UserToPhone);
    // The copied blocks carry the User's list's hardware id to the phone's side.
    for (const CopiedRow& copied : result.rows)
        phoneOrigins_.insert(ws_.UserBlocks.at(copied.sourceRow).BlockId,
                             BlockOrigin{userListName(), ws_.UserHWid});
}

void MainForm::compareLists() {
    if (ws_.UserBlocks.isEmpty() || ws_.PhoneBlocks.isEmpty()) return;
    const CompareResult result =
        compareBlocks(ws_.UserBlocks, w_.userList->selectedRowPositions(), ws_.PhoneBlocks,
                      w_.phoneList->selectedRowPositions());
    if (result.identical()) {
        ui_->askLater({.kind = Question::Kind::Message,
                       .text = QStringLiteral("Lists are identical!"),
                       .title = QStringLiteral("Compare result")},
                      {});
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

BlockViewer* MainForm::viewPhoneBlock(int row) {
    return viewBlock(w_.phoneList, QStringLiteral("Phone's list"), row);
}

BlockViewer* MainForm::viewUserBlock(int row) {
    return viewBlock(w_.userList, QStringLiteral("User's list"), row);
}

CompareForm* MainForm::compareForm() {
    if (!compareForm_) compareForm_ = new CompareForm(this);
    return compareForm_;
}

} // namespace x45::ui
