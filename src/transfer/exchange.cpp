// The request pattern every transfer routine shares: up to five attempts, then the person decides.

#include "request.h"

namespace x45 {

PhoneTransfer::PhoneTransfer(Link& link, Interaction& ui, std::function<void()> refreshSpace)
    : link_(link), person_(ui), refreshSpace_(std::move(refreshSpace)) {}

PhoneTransfer::Try PhoneTransfer::request(const Request& req) {
    for (;;) {
        const Attempted attempted =
            link_.requestBlock(req, proto::Attempts, req.stoppable ? &stop_ : nullptr);
        tickPace();
        switch (attempted) {
        case Attempted::Stopped:
            return Try::Stopped;
        case Attempted::Accepted:
            return Try::Accepted;
        case Attempted::NoSuchBlock:
            return Try::NoSuchBlock;
        case Attempted::Lost:
            reportLost();
            return Try::Lost;
        case Attempted::Failed:
            break;
        }
        if (!req.askOnFailure) return Try::Unanswered;
        if (const Try answer = askAfterFailure(req); answer != Try::Retry) return answer;
    }
}

PhoneTransfer::Try PhoneTransfer::askAfterFailure(const Request& req) {
    if (req.stoppable && stop_.requested()) return Try::Stopped;
    if (req.buttons == Buttons::RetryCancel) {
        const Button b = ui_.message(req.failText, QString(), Buttons::RetryCancel,
                                     Icon::Exclamation, Button::Retry);
        return b == Button::Retry ? Try::Retry : Try::Abort;
    }
    const Button b = ui_.message(req.failText, QString(), Buttons::AbortRetryIgnore,
                                 Icon::Exclamation, Button::Ignore);
    if (b == Button::Retry) return Try::Retry;
    if (b == Button::Ignore) return Try::Ignore;
    return Try::Abort; // Abort, or a box closed without an answer
}

namespace {
qint64 wireBytes(const LinkCounters& c) {
    return c.bytesSent + c.bytesReceived;
}
} // namespace

void PhoneTransfer::beginPace(int steps) {
    pace_.begin(steps, wireBytes(link_.counters()));
    paceDone_ = 0;
    paceBlock_.reset();
    recheckRange_.reset();
    showPace(true);
}

void PhoneTransfer::stepPace(int done) {
    if (!pace_.running()) return;
    paceDone_ = done;
    pace_.sample(done, wireBytes(link_.counters()));
    showPace(done >= pace_.steps());
}

void PhoneTransfer::tickPace() {
    if (!pace_.running()) return;
    pace_.sample(paceDone_, wireBytes(link_.counters()));
    showPace(false);
}

void PhoneTransfer::paceBlock(qint32 n) {
    paceBlock_ = n;
    showPace(false);
}

void PhoneTransfer::paceRecheck(std::optional<std::pair<qint32, qint32>> range) {
    const bool changed = range != recheckRange_;
    recheckRange_ = range;
    showPace(changed);
}

void PhoneTransfer::showPace(bool now) {
    if (!pace_.running()) return;
    const qint64 t = pace_.now();
    if (!now && t - paceShownAt_ < PaceIntervalMs) return;
    paceShownAt_ = t;
    ProgressDetail d = pace_.detail();
    d.block = paceBlock_;
    d.recheck = recheckRange_;
    ui_.setProgressDetail(d);
}

void PhoneTransfer::endPace() {
    if (!pace_.running()) return;
    pace_.end();
    ui_.setProgressDetail({});
}

void PhoneTransfer::reportLost() {
    if (lostReported_) return;
    lostReported_ = true;
    const QString port = link_.port().portName();
    ui_.message(
        QStringLiteral("The connection to the phone on %1 was lost: %2.\nCheck the cable and "
                       "the phone, then start a new session.")
            .arg(port.isEmpty() ? QStringLiteral("the serial port") : port, link_.lostReason()),
        QString(), Buttons::Ok, Icon::Critical, Button::Ok);
}

} // namespace x45
