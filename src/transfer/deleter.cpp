// "Delete directly": removes the selected blocks from the phone's EEPROM itself.

#include "deleter.h"

#include "transfer/parseblocklist.h"

#include <algorithm>

namespace x45 {

namespace {

// The numbers the confirmation names, so a typo in a typed list shows before anything goes.
QString deleteListLine(const QVector<qint16>& ids) {
    if (ids.isEmpty()) return {};
    return QStringLiteral("\nBlocks: ") + blockNamesText(QVector<qint32>(ids.cbegin(), ids.cend()));
}

// The numbers of the rows, taken now: the view may be sorted while the run waits for the phone.
QVector<qint16> idsOfRows(const BlockList& blocks, const QVector<int>& selectedRows) {
    QVector<int> rows;
    for (const int row : selectedRows)
        if (row >= 0 && row < blocks.size()) rows.append(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QVector<qint16> ids;
    for (const int row : rows)
        ids.append(blocks.at(row).BlockId);
    return ids;
}

} // namespace

bool deleteBlock(TransferCore& core, qint32 n) {
    Request req;
    req.sub = proto::blockSub(proto::BlockDeleteQuery, n);
    req.frame = Link::blockFrame(req.sub, word(n));
    req.timeout = proto::DeleteTimeout;
    req.buttons = Buttons::RetryCancel;
    req.failText = QStringLiteral("Error №21 (BlockDeleteQuery) while deleting block №%1...")
                       .arg(signedNumber(n));
    return core.request(req) == Outcome::Done;
}

RunResult deleteDirectly(TransferCore& core, const BlockList& blocks,
                         const QVector<int>& selectedRows,
                         const std::function<void(const QVector<qint16>& deletedIds)>& removeDeleted) {
    RunResult result;
    result.end = Outcome::Cancelled;
    if (blocks.isEmpty()) return result;
    const TransferCore::PaceEnd paceEnd{core};
    core.startRun(QStringLiteral("Deleting..."));
    const QVector<qint16> ids = idsOfRows(blocks, selectedRows);
    if (!core.ui.askYesNo(YesNoQuestion::ConfirmPhoneDelete,
                          QStringLiteral("Are you sure you want to delete %1 blocks from the phone?")
                                  .arg(ids.size()) +
                              deleteListLine(ids),
                          QStringLiteral("Confirm delete from phone"), Icon::None)) {
        core.ui.setStatus(QStringLiteral("Ready"));
        return result;
    }
    result.end = Outcome::Done;
    core.beginPace(static_cast<int>(ids.size()));
    for (const qint16 id : ids) {
        core.paceBlock(id);
        if (!deleteBlock(core, id)) {
            // Cancel (or a lost port): the list keeps every row, so what was deleted on the phone
            // can still be written back from it. The phone may have carried out the request
            // whose reply went wrong.
            if (!core.link.portLost())
                core.tell(QStringLiteral("\"Delete directly\" ended after deleting %1 of %2 "
                                         "blocks. The phone did not confirm block %3: it may "
                                         "or may not hold it still; the blocks after it were "
                                         "not deleted.")
                              .arg(result.done)
                              .arg(ids.size())
                              .arg(id));
            return core.endBy(result, Outcome::Stopped);
        }
        core.stepPace(++result.done);
        if (core.stop.requested() && result.done < ids.size()) {
            core.tell(QStringLiteral("\"Delete directly\" stopped after deleting %1 of %2 "
                                     "blocks; the phone still holds the other %3.")
                          .arg(result.done)
                          .arg(ids.size())
                          .arg(ids.size() - result.done));
            return core.endStopped(result, Outcome::Stopped);
        }
    }
    if (removeDeleted) removeDeleted(ids);
    core.refresh();
    return core.endReady(result);
}

} // namespace x45
