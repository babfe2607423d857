// "Delete directly": removes the selected blocks from the phone's EEPROM itself.

#include "request.h"

#include "transfer/parseblocklist.h"

#include <algorithm>

namespace x45 {

namespace {

// The numbers the confirmation names, so a typo in a typed list shows before anything goes.
QString deleteListLine(const QVector<qint16>& ids) {
    if (ids.isEmpty()) return {};
    return QStringLiteral("\nBlocks: ") + blockNamesText(QVector<qint32>(ids.cbegin(), ids.cend()));
}

} // namespace

bool PhoneTransfer::DeleteBlock(qint32 n) {
    Request req;
    req.sub = proto::blockSub(proto::BlockDeleteQuery, n);
    req.frame = Link::blockFrame(req.sub, word(n));
    req.timeout = proto::DeleteTimeout;
    req.buttons = Buttons::RetryCancel;
    req.failText = QStringLiteral("Error №21 (BlockDeleteQuery) while deleting block №%1...")
                       .arg(signedNumber(n));
    return request(req) == Try::Accepted;
}

RunResult PhoneTransfer::DeleteDirectly(
    const BlockList& PhoneBlocks, const QVector<int>& selectedRows,
    const std::function<void(const QVector<qint16>& deletedIds)>& removeDeleted) {
    RunResult result;
    if (PhoneBlocks.isEmpty()) {
        result.end = RunEnd::Cancelled;
        return result;
    }
    const PaceEnd paceEnd{*this};
    startRun();
    ui_.setStatus(QStringLiteral("Deleting..."));
    stop_.clear();

    // The numbers are taken now: the view may be sorted while the run waits for the phone.
    QVector<int> rows;
    for (const int row : selectedRows)
        if (row >= 0 && row < PhoneBlocks.size()) rows.append(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QVector<qint16> ids;
    for (const int row : rows)
        ids.append(PhoneBlocks.at(row).BlockId);

    const bool sure = ui_.askYesNo(
        YesNoQuestion::ConfirmPhoneDelete,
        QStringLiteral("Are you sure you want to delete %1 blocks from the phone?").arg(ids.size()) +
            deleteListLine(ids),
        QStringLiteral("Confirm delete from phone"), Icon::None);
    if (!sure) {
        ui_.setStatus(QStringLiteral("Ready"));
        result.end = RunEnd::Cancelled;
        return result;
    }

    beginPace(static_cast<int>(ids.size()));
    for (const qint16 id : ids) {
        paceBlock(id);
        if (!DeleteBlock(id)) {
            // Cancel (or a lost port): the list keeps every row, so what was deleted on the phone
            // can still be written back from it. The phone may have carried out the request
            // whose reply went wrong.
            if (!link_.portLost())
                ui_.message(QStringLiteral("\"Delete directly\" ended after deleting %1 of %2 "
                                           "blocks. The phone did not confirm block %3: it may "
                                           "or may not hold it still; the blocks after it were "
                                           "not deleted.")
                                .arg(result.done)
                                .arg(ids.size())
                                .arg(id),
                            QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
            ui_.setStatus(link_.portLost() ? QStringLiteral("Stopped.") : QStringLiteral("Ready"));
            result.end = link_.portLost() ? RunEnd::PortLost : RunEnd::Stopped;
            countLink(result);
            return result;
        }
        ++result.done;
        stepPace(result.done);
        if (stop_.requested() && result.done < ids.size()) {
            ui_.message(QStringLiteral("\"Delete directly\" stopped after deleting %1 of %2 "
                                       "blocks; the phone still holds the other %3.")
                            .arg(result.done)
                            .arg(ids.size())
                            .arg(ids.size() - result.done),
                        QString(), Buttons::Ok, Icon::Exclamation, Button::Ok);
            ui_.setStatus(QStringLiteral("Stopped."));
            result.end = RunEnd::Stopped;
            countLink(result);
            return result;
        }
    }
    if (removeDeleted) removeDeleted(ids);
    if (refreshSpace_) refreshSpace_();
    countLink(result);
    ui_.setStatus(QStringLiteral("Ready"));
    return result;
}

} // namespace x45
