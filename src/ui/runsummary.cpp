#include "runsummary.h"

#include "transfer/transfer.h"

#include <QStringList>

namespace x45::ui {

namespace {

// Numbers named in the status bar; the message names more.
constexpr int MostInStatus = 8;
constexpr int MostInMessage = 60;

QString blocks(int n, const char* what) {
    return blockCount(n) + QLatin1Char(' ') + QLatin1String(what);
}

const char* doneWord(RunKind kind) {
    switch (kind) {
    case RunKind::LoadAll:
    case RunKind::LoadCustom:
        return "read";
    case RunKind::Write:
        return "written";
    case RunKind::Delete:
        return "deleted";
    }
    return "done";
}

QVector<qint32> wide(const QVector<qint16>& numbers) {
    return QVector<qint32>(numbers.begin(), numbers.end());
}

} // namespace

QString blockCount(qsizetype n) {
    return n == 1 ? QStringLiteral("1 block") : QStringLiteral("%1 blocks").arg(n);
}

QString numberList(const QVector<qint32>& numbers, int most) {
    QStringList shown;
    for (qsizetype i = 0; i < numbers.size() && i < most; ++i)
        shown << QString::number(numbers.at(i));
    QString text = shown.join(QStringLiteral(", "));
    if (numbers.size() > most) text += QStringLiteral(", ... (%1 in all)").arg(numbers.size());
    return text;
}

QString runSummary(const RunResult& r, RunKind kind) {
    switch (r.end) {
    case Outcome::Cancelled:
    case Outcome::PortLost:
        return {};
    case Outcome::Failed:
        return QStringLiteral("Stopped.");
    case Outcome::Stopped:
        // "Load all" keeps nothing of a run it did not complete.
        if (kind == RunKind::LoadAll || (r.done == 0 && r.skipped.isEmpty()))
            return QStringLiteral("Stopped.");
        break;
    default: // Done, Unverified: a run's other outcomes are its steps'
        break;
    }
    QStringList parts{blocks(r.done, doneWord(kind))};
    if (!r.skipped.isEmpty())
        parts << QStringLiteral("%1 skipped (%2)")
                     .arg(r.skippedCount())
                     .arg(numberList(r.skipped, MostInStatus));
    if (r.notFound > 0) parts << QStringLiteral("%1 not found").arg(r.notFound);
    if (!r.unverified.isEmpty())
        parts << QStringLiteral("%1 differ after writing (%2)")
                     .arg(r.unverified.size())
                     .arg(numberList(wide(r.unverified), MostInStatus));
    if (r.verified > 0) parts << QStringLiteral("%1 verified").arg(r.verified);
    if (r.retried > 0) parts << QStringLiteral("%1 retried").arg(r.retried);
    if (r.resyncs > 0) parts << QStringLiteral("%1 resynchronised").arg(r.resyncs);

    QString head;
    if (r.end == Outcome::Stopped)
        head = QStringLiteral("Stopped");
    else if (r.end == Outcome::Unverified)
        head = QStringLiteral("Verification failed");
    else
        head = r.clean() ? QStringLiteral("Ready") : QStringLiteral("Done");
    return head + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

QString skippedMessage(const RunResult& r, RunKind kind) {
    if (r.skipped.isEmpty()) return {};
    if (kind == RunKind::LoadAll ? !r.completed() : kind != RunKind::LoadCustom) return {};
    const QString list = numberList(r.skipped, MostInMessage);
    const QString what =
        r.skippedCount() == 1
            ? QStringLiteral("Block %1 was skipped and is not in the Phone's list.").arg(list)
            : QStringLiteral("%1 blocks were skipped and are not in the Phone's list: %2.")
                  .arg(r.skippedCount())
                  .arg(list);
    return what + QStringLiteral("\nA backup saved from this list would lack %1.\nRead %1 again "
                                 "with \"Load custom...\" before saving the list.")
                      .arg(r.skippedCount() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

} // namespace x45::ui
