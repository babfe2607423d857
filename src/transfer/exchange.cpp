// The request pattern every transfer routine shares: up to five attempts, then the person decides.

#include "request.h"

namespace x45 {

PhoneTransfer::PhoneTransfer(Link& link, Interaction& ui, std::function<void()> refreshSpace)
    : link_(link), ui_(ui), refreshSpace_(std::move(refreshSpace)) {}

PhoneTransfer::Judged PhoneTransfer::exchange(const Request& req) {
    link_.SendFrame(req.frame);
    link_.WaitReply(req.timeout, req.hold);
    const ReplyRecord& r = link_.Reply;
    // Interim replies: the phone is still busy with a write; wait again, send nothing.
    for (int interims = 0; req.interim && !link_.portLost() && r.State != HeaderBad &&
                           r.Cmd == proto::BlockCmd && r.SubCmd == proto::Interim;
         ++interims) {
        if (interims == MaxInterimReplies) return Judged::Bad;
        // The real reply may have come in the same read as the interim one; it then sits behind
        // the interim frame in Buffer and would be lost to the next wait's reset.
        const ByteStr rest = r.Buffer.mid(qsizetype(r.Length) + 3);
        if (!rest.isEmpty()) {
            link_.ResetReply();
            for (const char c : rest)
                link_.feedByte(static_cast<quint8>(c));
            if (r.State != Receiving) continue;
        }
        link_.WaitReply(req.timeout, req.hold);
    }
    if (link_.portLost() || r.State != Complete) return Judged::Bad;
    // Every check below also guards the marker: a garbled reply that merely has 0x32 in its fourth
    // byte must not pass a block over silently.
    if (req.noSuchBlock && link_.blockReplyAccepted(proto::NoSuchBlock)) return Judged::NoSuchBlock;
    if (!link_.blockReplyAccepted(req.sub) || r.Length < req.minLength) return Judged::Bad;
    if (req.needData && r.Length <= 2)
        return Judged::Bad; // no data bytes: no progress, ask again within the attempts
    return Judged::Accepted;
}

PhoneTransfer::Try PhoneTransfer::request(const Request& req) {
    for (;;) {
        for (int attempts = 0; attempts < proto::Attempts; ++attempts) {
            const Judged judged = exchange(req);
            if (link_.portLost()) {
                reportLost();
                return Try::Lost;
            }
            if (judged == Judged::Accepted) return Try::Accepted;
            if (judged == Judged::NoSuchBlock) return Try::NoSuchBlock;
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
