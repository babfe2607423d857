#pragma once
// A phone on a scripted port for the transfer tests: the simulated phone's engine answers every
// frame, unless a test's intercept answers it first (crafted, short or odd replies).

#include "fakeport.h"
#include "scripted.h"

#include "link/link.h"
#include "simphone.h"
#include "transfer/transfer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <functional>
#include <optional>
#include <tuple>

namespace x45::test {

// A block-protocol reply with its header check and trailer: 14 L H sub payload... trailer.
[[nodiscard]] QByteArray blockReply(quint8 sub, const QByteArray& payload);
// Hex text ("14 04 10 15") to bytes.
[[nodiscard]] QByteArray hex(const char* text);
// n invented data bytes; different seeds give different contents.
[[nodiscard]] QByteArray patternBytes(int n, int seed = 1);
// A fault on replies to block requests (0x14) with this SubCmd: count times after skip good ones.
[[nodiscard]] x45sim::Fault blockFault(x45sim::FaultKind kind, int sub, int count, int skip = 0);

// A shown message as one comparable value: text, title, buttons, icon, default button.
using Box = std::tuple<QString, QString, Buttons, Icon, Button>;
[[nodiscard]] Box boxOf(const ShownMessage& m);
// The Abort/Retry/Ignore box shown after five failed attempts.
[[nodiscard]] Box retryBox(const QString& text);

class TransferRig {
public:
    TransferRig();

    FakePort port;
    Link link{port};
    ScriptedInteraction ui;
    x45sim::SimPhone phone;
    int refreshes = 0;
    PhoneTransfer transfer{link, ui, [this] { ++refreshes; }};

    // Return a reply to send instead of the phone's, or nullopt to let the phone answer. An empty
    // QByteArray means: no reply at all.
    std::function<std::optional<QByteArray>(const QByteArray& frame)> intercept;
    // Called with every frame after it was answered (e.g. to press "Stop" mid-run).
    std::function<void(const QByteArray& frame)> afterWrite;

    // Requests with this SubCmd are answered by reply (nullopt: by the phone after all).
    void answer(quint8 sub, std::function<std::optional<QByteArray>(const QByteArray&)> reply);
    // Presses "Stop", or pulls the cable, once a request with this SubCmd (and, unless -1, this
    // low byte of the block number) was answered.
    void stopAfter(quint8 sub, int block = -1);
    void unplugAfter(quint8 sub, int block, const QString& reason);

    // Frames the tool wrote, in order.
    [[nodiscard]] const QList<QByteArray>& frames() const { return port.writes; }
    // Frames whose SubCmd (byte 3) is sub.
    [[nodiscard]] int countSub(quint8 sub) const;
    [[nodiscard]] QList<QByteArray> framesOfSub(quint8 sub) const;
    // Block numbers of the info requests (0x05/0x15), in order.
    [[nodiscard]] QList<int> blocksAsked() const;
    [[nodiscard]] QStringList messageTexts() const { return ui.messageTexts(); }

private:
    QElapsedTimer clock_;
    qint64 lineBusyUntil_ = 0; // when the phone's last scheduled reply is out, on clock_
};

} // namespace x45::test
