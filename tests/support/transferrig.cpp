#include "transferrig.h"

#include "link/protocol.h"

namespace x45::test {

QByteArray blockReply(quint8 sub, const QByteArray& payload) {
    QByteArray body(1, static_cast<char>(sub));
    body.append(payload);
    body.append('\0');
    QByteArray out = Link::frame(proto::BlockCmd, body);
    out.back() = static_cast<char>(XorSum(out, out.size() - 1));
    return out;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

TransferRig::TransferRig() {
    QString error;
    port.open(&error);
    // Bring the engine into service mode the way the boot does, without the tool's part of it.
    (void)phone.receive(QByteArray(1, '\x55'), x45sim::SimPhone::BootSpeed);
    QByteArray boot(1, static_cast<char>(proto::BootLength));
    boot.append(x45sim::serviceBootImage());
    boot.append(static_cast<char>(proto::BootCheck));
    (void)phone.receive(boot, x45sim::SimPhone::BootSpeed);
    phone.clearLogs();

    port.onWrite = [this](const QByteArray& written) {
        std::optional<QByteArray> crafted;
        if (intercept) crafted = intercept(written);
        if (crafted) {
            if (!crafted->isEmpty()) port.deliver(*crafted);
        } else {
            int at = 0;
            for (const x45sim::Emission& e : phone.receive(written, port.baudRate())) {
                at += static_cast<int>(e.delay.count());
                port.deliver(e.bytes, at);
            }
        }
        if (afterWrite) afterWrite(written);
    };
}

int TransferRig::countSub(quint8 sub) const {
    int n = 0;
    for (const QByteArray& f : port.writes)
        if (f.size() > 3 && static_cast<quint8>(f.at(3)) == sub) ++n;
    return n;
}

} // namespace x45::test
