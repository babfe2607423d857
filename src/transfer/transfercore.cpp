// The request pattern, the pace and the run's counts that every phone operation shares.

#include "transfercore.h"

namespace x45 {

Outcome TransferCore::request(const Request& req, ByteStr* reply) {
    for (;;) {
        Result<ByteStr> got =
            link.requestBlock(req, proto::Attempts, req.stoppable ? &stop : nullptr);
        tickPace();
        if (got) {
            if (reply) *reply = std::move(got).value();
            return Outcome::Done;
        }
        switch (got.kind()) {
        case ErrorKind::Stopped:
            return Outcome::Stopped;
        case ErrorKind::NoSuchBlock:
            return Outcome::NoSuchBlock;
        case ErrorKind::PortLost:
            reportLost();
            return Outcome::PortLost;
        default:
            break;
        }
        if (!req.askOnFailure) return Outcome::Failed;
        if (const Outcome answer = askAfterFailure(req); answer != Outcome::Retry) return answer;
    }
}

Outcome TransferCore::askAfterFailure(const Request& req) {
    if (req.stoppable && stop.requested()) return Outcome::Stopped;
    if (req.buttons == Buttons::RetryCancel) {
        const Button b = ui.message(req.failText, QString(), Buttons::RetryCancel,
                                    Icon::Exclamation, Button::Retry);
        return b == Button::Retry ? Outcome::Retry : Outcome::Aborted;
    }
    const Button b = ui.message(req.failText, QString(), Buttons::AbortRetryIgnore,
                                Icon::Exclamation, Button::Ignore);
    if (b == Button::Retry) return Outcome::Retry;
    if (b == Button::Ignore) return Outcome::Skipped;
    return Outcome::Aborted; // Abort, or a box closed without an answer
}

void TransferCore::tell(const QString& text, const QString& title) {
    ui.message(text, title, Buttons::Ok, Icon::Exclamation, Button::Ok);
}

void TransferCore::reportLost() {
    if (lostReported_) return;
    lostReported_ = true;
    ui.message(link.lostMessage(), QString(), Buttons::Ok, Icon::Critical, Button::Ok);
}

void TransferCore::startRun(const QString& status) {
    lostReported_ = false;
    runStart_ = link.counters();
    if (!status.isEmpty()) ui.setStatus(status);
    stop.clear();
}

void TransferCore::countLink(RunResult& result) const {
    result.retried = link.counters().failedAttempts - runStart_.failedAttempts;
    result.resyncs = link.counters().syncs - runStart_.syncs;
}

RunResult TransferCore::endStopped(RunResult result, Outcome end) {
    countLink(result);
    ui.setStatus(QStringLiteral("Stopped."));
    ui.setProgressValue(0);
    result.end = end;
    return result;
}

RunResult TransferCore::endBy(RunResult result, Outcome end) {
    if (end == Outcome::PortLost || link.portLost()) {
        reportLost();
        return endStopped(std::move(result), Outcome::PortLost);
    }
    // "Abort" in a failure box ends the run as a stop does.
    return endStopped(std::move(result), end == Outcome::Failed ? Outcome::Failed : Outcome::Stopped);
}

RunResult TransferCore::endReady(RunResult result) {
    countLink(result);
    ui.setStatus(QStringLiteral("Ready"));
    return result;
}

namespace {
qint64 wireBytes(const LinkCounters& c) {
    return c.bytesSent + c.bytesReceived;
}
} // namespace

void TransferCore::beginPace(int steps) {
    pace_.begin(steps, wireBytes(link.counters()));
    paceDone_ = 0;
    paceBlock_.reset();
    recheckRange_.reset();
    showPace(true);
}

void TransferCore::stepPace(int done) {
    if (!pace_.running()) return;
    paceDone_ = done;
    pace_.sample(done, wireBytes(link.counters()));
    showPace(done >= pace_.steps());
}

void TransferCore::tickPace() {
    if (!pace_.running()) return;
    pace_.sample(paceDone_, wireBytes(link.counters()));
    showPace(false);
}

void TransferCore::paceBlock(qint32 n) {
    paceBlock_ = n;
    showPace(false);
}

void TransferCore::paceRecheck(std::optional<std::pair<qint32, qint32>> range) {
    const bool changed = range != recheckRange_;
    recheckRange_ = range;
    showPace(changed);
}

void TransferCore::showPace(bool now) {
    if (!pace_.running()) return;
    const qint64 t = pace_.now();
    if (!now && t - paceShownAt_ < PaceIntervalMs) return;
    paceShownAt_ = t;
    ProgressDetail d = pace_.detail();
    d.block = paceBlock_;
    d.recheck = recheckRange_;
    ui.setProgressDetail(d);
}

void TransferCore::endPace() {
    if (!pace_.running()) return;
    pace_.end();
    ui.setProgressDetail({});
}

} // namespace x45
