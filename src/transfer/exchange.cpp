// The request pattern every transfer routine shares: up to five attempts, then the person decides.

#include "request.h"

namespace x45 {

PhoneTransfer::PhoneTransfer(Link& link, Interaction& ui, std::function<void()> refreshSpace)
    : link_(link), ui_(ui), refreshSpace_(std::move(refreshSpace)) {}

PhoneTransfer::Try PhoneTransfer::request(const Request& req) {
    for (;;) {
        switch (link_.requestBlock(req, proto::Attempts)) {
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
        if (req.buttons == Buttons::RetryCancel) {
            const Button b = ui_.message(req.failText, QString(), Buttons::RetryCancel,
                                         Icon::Exclamation, Button::Retry);
            if (b == Button::Retry) continue;
            return Try::Abort;
        }
        const Button b = ui_.message(req.failText, QString(), Buttons::AbortRetryIgnore,
                                     Icon::Exclamation, Button::Ignore);
        if (b == Button::Retry) continue;
        if (b == Button::Ignore) return Try::Ignore;
        return Try::Abort; // Abort, or a box closed without an answer
    }
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
