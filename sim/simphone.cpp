#include "simphone.h"

#include "base/bytes.h"
#include <link/link.h>
#include <link/protocol.h>

#include <QFile>

// The boot image lives in the core library's resources; a static library needs it registered.
static void registerCoreResources() {
    Q_INIT_RESOURCE(resources);
}

namespace x45sim {

using namespace x45::proto;
using x45::byteAt;
using x45::toHex;

namespace {
QString hexByte(quint8 byte) {
    return toHex(QByteArray(1, static_cast<char>(byte)));
}
} // namespace

QByteArray serviceBootImage() {
    static const QByteArray image = [] {
        QFile file(QStringLiteral(":/ServBootBin"));
        if (!file.exists()) registerCoreResources();
        file.setFileName(QStringLiteral(":/ServBootBin"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return image;
}

SimPhone::SimPhone(SimConfig config) : config_(std::move(config)), bootImage_(serviceBootImage()) {
    eeprom_.setCapacity(false, config_.eeliteCapacity);
    eeprom_.setCapacity(true, config_.eefullCapacity);
    lastByte_.start();
}

void SimPhone::setBlocks(const x45::BlockList& blocks) {
    eeprom_.setCapacity(false, config_.eeliteCapacity);
    eeprom_.setCapacity(true, config_.eefullCapacity);
    eeprom_.setBlocks(blocks);
    write_.reset();
    lastRequest_.clear();
}

void SimPhone::reset() {
    state_ = SimState::AwaitScan;
    speed_ = BootSpeed;
    pending_.clear();
    write_.reset();
    lastRequest_.clear();
    lastReply_.clear();
}

void SimPhone::clearTraffic() {
    requests_.clear();
    replies_.clear();
    traffic_.clear();
}

void SimPhone::clearLogs() {
    requests_.clear();
    replies_.clear();
    traffic_.clear();
    malformed_.clear();
    refusals_.clear();
}

void SimPhone::malformed(const QString& reason, const QByteArray& bytes) {
    malformed_ << (bytes.isEmpty() ? reason : reason + QStringLiteral(": ") + toHex(bytes));
}

Emissions SimPhone::receive(const QByteArray& bytes, qint32 toolBaud) {
    Emissions out;
    if (bytes.isEmpty()) return out;
    // A frame (or boot transfer) the tool stopped sending half-way is dropped, so that the next
    // request starts clean instead of being read as its tail.
    if (!pending_.isEmpty() && lastByte_.elapsed() > config_.partialFrameTimeout.count()) {
        if (state_ == SimState::Service) requests_ << pending_;
        malformed(QStringLiteral("unfinished frame dropped"), pending_);
        pending_.clear();
        if (state_ == SimState::AwaitBoot) state_ = SimState::AwaitScan;
    }
    lastByte_.restart();

    // Bytes sent at another speed arrive as garbage; the phone cannot make sense of them.
    if (toolBaud != speed_) {
        if (state_ == SimState::Service) requests_ << bytes;
        traffic_ << TrafficEntry{true, bytes};
        malformed(QStringLiteral("bytes sent at %1 baud while the phone listens at %2")
                      .arg(toolBaud)
                      .arg(speed_),
                  bytes);
        pending_.clear();
        return out;
    }

    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<quint8>(bytes.at(i));
        switch (state_) {
        case SimState::AwaitScan:
            feedScan(byte, toolBaud, out);
            break;
        case SimState::AwaitBoot:
            feedBoot(byte, toolBaud, out);
            break;
        case SimState::Service:
            pending_.append(static_cast<char>(byte));
            if (pending_.size() == 3 &&
                byteAt(pending_, 2) != (byteAt(pending_, 0) ^ byteAt(pending_, 1))) {
                // Without a valid header the phone cannot tell where the frame ends: drop the lot.
                QByteArray junk = pending_ + bytes.mid(i + 1);
                requests_ << junk;
                traffic_ << TrafficEntry{true, junk};
                malformed(QStringLiteral("header check wrong"), junk);
                pending_.clear();
                return out;
            }
            if (pending_.size() >= 3 && pending_.size() == byteAt(pending_, 1) + 3) {
                const QByteArray frame = pending_;
                pending_.clear();
                handleFrame(frame, toolBaud, out);
            }
            break;
        }
    }
    return out;
}

void SimPhone::feedScan(quint8 byte, qint32 toolBaud, Emissions& out) {
    Q_UNUSED(toolBaud);
    if (byte != ScanByte) {
        traffic_ << TrafficEntry{true, QByteArray(1, static_cast<char>(byte))};
        malformed(QStringLiteral("byte %1 while awaiting the scan byte").arg(hexByte(byte)), {});
        return;
    }
    const QByteArray answer = faults_.scanNoise() + QByteArray(1, static_cast<char>(ScanAnswer));
    traffic_ << TrafficEntry{true, QByteArray(1, static_cast<char>(byte))}
             << TrafficEntry{false, answer};
    out.push_back({answer, config_.latency});
    state_ = SimState::AwaitBoot;
}

void SimPhone::feedBoot(quint8 byte, qint32 toolBaud, Emissions& out) {
    if (pending_.isEmpty()) {
        if (byte == ScanByte) { // a scan that crossed our answer: answer it again
            state_ = SimState::AwaitScan;
            feedScan(byte, toolBaud, out);
            return;
        }
        if (byte != BootLength) {
            traffic_ << TrafficEntry{true, QByteArray(1, static_cast<char>(byte))};
            malformed(QStringLiteral("boot must start with 68, came %1").arg(hexByte(byte)), {});
            return;
        }
    }
    pending_.append(static_cast<char>(byte));
    const qsizetype whole = 1 + bootImage_.size() + 1;
    if (pending_.size() < whole) return;
    const QByteArray boot = pending_;
    pending_.clear();
    traffic_ << TrafficEntry{true, boot};
    const QByteArray expected = QByteArray(1, static_cast<char>(BootLength)) + bootImage_ +
                                QByteArray(1, static_cast<char>(BootCheck));
    if (bootImage_.size() != BootLength || boot != expected) {
        qsizetype at = 0;
        while (at < boot.size() && at < expected.size() && boot[at] == expected[at])
            ++at;
        malformed(QStringLiteral("service boot differs from the image at byte %1").arg(at), boot);
        state_ = SimState::AwaitScan;
        return;
    }
    const QByteArray ack(1, static_cast<char>(BootAck));
    traffic_ << TrafficEntry{false, ack};
    out.push_back({ack, config_.latency});
    state_ = SimState::Service;
    speed_ = BootSpeed;
    lastRequest_.clear();
    lastReply_.clear();
    write_.reset();
    ++sessions_;
}

void SimPhone::handleFrame(const QByteArray& frame, qint32 toolBaud, Emissions& out) {
    Q_UNUSED(toolBaud);
    requests_ << frame;
    traffic_ << TrafficEntry{true, frame};
    const int cmd = byteAt(frame, 0);
    const int sub = frame.size() > 3 ? byteAt(frame, 3) : -1;

    // A resend of the request just answered: its reply was lost, so answer it the same way.
    if (frame == lastRequest_ && !lastReply_.isEmpty()) {
        emitReply(cmd, sub, lastReply_, out);
        return;
    }
    const int malformedBefore = malformedCount();
    std::optional<QByteArray> reply = cmd == BlockCmd ? blockReply(frame) : sessionReply(frame);
    if (!reply) {
        lastRequest_.clear();
        lastReply_.clear();
        return;
    }
    if (malformedCount() != malformedBefore) return;
    const bool switchSpeed = frame == BaudQuery;
    const bool sent = emitReply(cmd, sub, *reply, out);
    // Queries that change nothing (space, highest number) leave the memory of the last request
    // alone: a request resent after one of them is still recognised as a resend.
    const int base = sub & ~EEfullBit;
    if (cmd == BlockCmd && (base == EEPSpaceQuery || base == MaxBlockQuery)) return;
    lastRequest_ = frame;
    lastReply_ = *reply;
    // The phone changes speed only once its reply is out.
    if (switchSpeed && sent) speed_ = FastSpeed;
}

bool SimPhone::emitReply(int cmd, int sub, const QByteArray& reply, Emissions& out) {
    replies_ << reply;
    traffic_ << TrafficEntry{false, reply};
    Emissions line;
    const int base = sub & ~EEfullBit;
    if (cmd == BlockCmd && (base == WBlockInfoQuery || base == WBlockDataQuery)) {
        for (int i = 0; i < config_.interim; ++i)
            line.push_back({x45::Link::blockFrame(Interim, {}),
                            i == 0 ? std::chrono::milliseconds(0) : config_.interimGap});
    }
    const size_t firstReal = line.size();
    const bool sent = faults_.apply(cmd, sub, reply, line);
    if (firstReal < line.size() && firstReal > 0) line[firstReal].delay += config_.interimGap;
    if (!line.empty()) line.front().delay += config_.latency;
    out.insert(out.end(), line.begin(), line.end());
    return sent;
}

std::optional<QByteArray> SimPhone::sessionReply(const QByteArray& frame) {
    if (frame == PingQuery)
        return QByteArray::fromHex("02030114"
                                   "55AA");
    if (frame == BaudQuery) {
        if (!config_.acceptSpeedSwitch) return std::nullopt;
        return x45::Link::frame(BaudCmd, BaudReplyTail);
    }
    if (frame == ChipsetQuery)
        return x45::Link::frame(ChipsetCmd, QByteArray(1, static_cast<char>(ChipsetSub)) +
                                                x45::wordToStr(config_.hwid));
    if (frame == ExitQuery) {
        reset();
        return std::nullopt;
    }
    const auto text = [](quint8 sub, const QByteArray& value) {
        // A frame carries at most 255 payload bytes: SubCmd, text, end marker.
        return x45::Link::frame(InfoCmd,
                                QByteArray(1, static_cast<char>(sub)) + value.left(253) + '\0');
    };
    if (frame == ModelQuery) return text(ModelSub, config_.model);
    if (frame == LangGroupQuery) return text(LangGroupSub, config_.langGroup);
    if (frame == SWQuery)
        return x45::Link::frame(InfoCmd, QByteArray::fromHex("03") + char(config_.sw));
    if (frame == IMEIQuery) {
        // Two status bytes (never a blank), a blank, the digits, one closing byte.
        return x45::Link::frame(InfoCmd, QByteArray::fromHex("0A0108") + ' ' +
                                             config_.imei.left(250) + QByteArray(1, '\0'));
    }
    malformed(QStringLiteral("unknown session message"), frame);
    return std::nullopt;
}

} // namespace x45sim
