#include "transferrig.h"

#include "link/protocol.h"

#include <algorithm>

namespace x45::test {

QByteArray blockReply(quint8 sub, const QByteArray& payload) {
    QByteArray body(1, static_cast<char>(sub));
    body.append(payload);
    body.append('\0');
    QByteArray out = Link::frame(proto::BlockCmd, body);
    out.back() = static_cast<char>(xorSum(out, out.size() - 1));
    return out;
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray patternBytes(int n, int seed) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(static_cast<char>((i * 7 + seed) & 0xFF));
    return b;
}

x45sim::Fault blockFault(x45sim::FaultKind kind, int sub, int count, int skip) {
    x45sim::Fault f;
    f.kind = kind;
    f.cmd = proto::BlockCmd;
    f.sub = sub;
    f.count = count;
    f.skip = skip;
    return f;
}

Box boxOf(const ShownMessage& m) {
    return {m.text, m.title, m.buttons, m.icon, m.defaultButton};
}

Box retryBox(const QString& text) {
    return {text, QString(), Buttons::AbortRetryIgnore, Icon::Exclamation, Button::Ignore};
}

namespace {
bool sentTo(const QByteArray& f, quint8 sub, int block) {
    return f.size() > 4 && quint8(f[3]) == sub && (block < 0 || quint8(f[4]) == block);
}
} // namespace

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

    clock_.start();
    port.onWrite = [this](const QByteArray& written) {
        std::optional<QByteArray> crafted;
        if (intercept) crafted = intercept(written);
        if (crafted) {
            if (!crafted->isEmpty()) port.deliver(*crafted);
        } else {
            // The phone answers in order: a reply still on its way holds back the next ones.
            // A reply queued behind another one starts after it: at least a millisecond later,
            // as on a wire, so that the two never come in one read.
            const qint64 now = clock_.elapsed();
            qint64 at = port.inFlight() > 0 ? std::max<qint64>(lineBusyUntil_ - now, 0) + 1 : 0;
            for (const x45sim::Emission& e : phone.receive(written, port.baudRate())) {
                at += e.delay.count();
                port.deliver(e.bytes, static_cast<int>(at));
            }
            lineBusyUntil_ = std::max(lineBusyUntil_, now + at);
        }
        if (afterWrite) afterWrite(written);
    };
}

void TransferRig::answer(quint8 sub,
                         std::function<std::optional<QByteArray>(const QByteArray&)> reply) {
    intercept = [sub, reply](const QByteArray& f) -> std::optional<QByteArray> {
        if (f.size() > 3 && quint8(f[3]) == sub) return reply(f);
        return std::nullopt;
    };
}

void TransferRig::stopAfter(quint8 sub, int block) {
    afterWrite = [this, sub, block](const QByteArray& f) {
        if (sentTo(f, sub, block)) transfer.stopRequest().request();
    };
}

void TransferRig::unplugAfter(quint8 sub, int block, const QString& reason) {
    afterWrite = [this, sub, block, reason](const QByteArray& f) {
        if (sentTo(f, sub, block)) port.unplug(reason);
    };
}

int TransferRig::countSub(quint8 sub) const {
    return static_cast<int>(framesOfSub(sub).size());
}

QList<QByteArray> TransferRig::framesOfSub(quint8 sub) const {
    QList<QByteArray> out;
    for (const QByteArray& f : port.writes)
        if (f.size() > 3 && static_cast<quint8>(f.at(3)) == sub) out << f;
    return out;
}

QList<int> TransferRig::blocksAsked() const {
    QList<int> out;
    for (const QByteArray& f : port.writes)
        if (f.size() > 5 && (quint8(f[3]) == 0x05 || quint8(f[3]) == 0x15))
            out << qint16(quint8(f[4]) | quint8(f[5]) << 8);
    return out;
}

} // namespace x45::test
