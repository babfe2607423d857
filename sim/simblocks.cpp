// The block protocol side of the simulated phone: reading, writing, deleting, erasing, space.

#include "simphone.h"

#include "base/bytes.h"
#include <link/link.h>
#include <link/protocol.h>

#include <QtEndian>

namespace x45sim {

using namespace x45::proto;
using x45::byteAt;
using x45::wordAt;

namespace {

// SubCmd of a refusal: a well-formed request the phone will not carry out (no room, a block
// closed before all its data came). The tool sees a wrong SubCmd and retries or reports.
constexpr quint8 Refused = 0x33;

QByteArray le32(qint32 v) {
    QByteArray out(4, '\0');
    qToLittleEndian<qint32>(v, out.data());
    return out;
}

// Payload length (the Length byte) each request must carry; -1 for a variable one.
int expectedLength(int base) {
    switch (base) {
    case MaxBlockQuery:
    case EEPSpaceQuery:
    case EraseEEPQuery:
    case (CollectEEFULLGarbageQuery & ~EEfullBit):
        return 2;
    case BlockInfoQuery:
    case BlockDeleteQuery:
    case WBlockOKQuery:
        return 4;
    case BlockDataQuery:
        return 8;
    case WBlockInfoQuery:
        return 7;
    case WBlockDataQuery:
        return -1;
    default:
        return 0;
    }
}

} // namespace

QByteArray SimPhone::refuse(quint8 sub, const QString& why) {
    refusals_ << QStringLiteral("%1 (SubCmd %2)").arg(why).arg(sub, 2, 16, QLatin1Char('0'));
    return x45::Link::blockFrame(Refused, {});
}

bool SimPhone::wellFormedBlockRequest(const QByteArray& frame) {
    const int length = byteAt(frame, 1);
    if (length < 2) {
        malformed(QStringLiteral("block request without SubCmd and trailer"), frame);
        return false;
    }
    if (byteAt(frame, frame.size() - 1) != x45::xorSum(frame, frame.size() - 1)) {
        malformed(QStringLiteral("trailer wrong"), frame);
        return false;
    }
    const quint8 sub = byteAt(frame, 3);
    const int base = sub & ~EEfullBit;
    const int expected = expectedLength(base);
    if (expected == 0 || (base == (CollectEEFULLGarbageQuery & ~EEfullBit) && !(sub & EEfullBit))) {
        malformed(QStringLiteral("unknown SubCmd"), frame);
        return false;
    }
    if (expected > 0 && length != expected) {
        malformed(QStringLiteral("Length %1 where %2 belongs").arg(length).arg(expected), frame);
        return false;
    }
    if (expected < 0 && length < 6) { // SubCmd, number, offset, trailer at the least
        malformed(QStringLiteral("data chunk too short for its fields"), frame);
        return false;
    }
    return true;
}

QByteArray SimPhone::areaReply(quint8 sub) {
    const bool full = (sub & EEfullBit) != 0;
    switch (sub & ~EEfullBit) {
    case MaxBlockQuery: {
        const std::optional<qint16> forced = full ? config_.maxEEfull : config_.maxEElite;
        const int highest = forced ? *forced : eeprom_.highest(full);
        return x45::Link::blockFrame(sub, x45::wordToStr(static_cast<quint16>(highest)));
    }
    case EEPSpaceQuery: {
        const AreaSpace s = eeprom_.space(full);
        return x45::Link::blockFrame(sub, le32(s.freeInBuffer) + le32(s.freeAtAll) +
                                              le32(s.freeForDeleted));
    }
    case EraseEEPQuery:
        eeprom_.eraseArea(full);
        write_.reset();
        return x45::Link::blockFrame(sub, {});
    default: // the only other one: garbage collection
        eeprom_.collectGarbage();
        return x45::Link::blockFrame(sub, {});
    }
}

std::optional<QByteArray> SimPhone::blockReply(const QByteArray& frame) {
    if (!wellFormedBlockRequest(frame)) return std::nullopt;
    const quint8 sub = byteAt(frame, 3);
    const int base = sub & ~EEfullBit;
    if (expectedLength(base) == 2) return areaReply(sub);
    const int id = static_cast<qint16>(wordAt(frame, 4));
    if (x45::isEEfullBlock(id) != ((sub & EEfullBit) != 0)) {
        malformed(QStringLiteral("block %1 asked for in the other area").arg(id), frame);
        return std::nullopt;
    }
    const SimEeprom::Stored* held = eeprom_.find(id);
    const QByteArray noSuchBlock = x45::Link::blockFrame(NoSuchBlock, {});
    switch (base) {
    case BlockInfoQuery:
        if (!held) return noSuchBlock;
        return x45::Link::blockFrame(sub, x45::wordToStr(static_cast<quint16>(held->data.size())) +
                                              QByteArray(1, static_cast<char>(held->version)));
    case BlockDataQuery: {
        const int offset = wordAt(frame, 6);
        const int count = wordAt(frame, 8);
        if (count > config_.maxReadChunk) {
            malformed(QStringLiteral("count %1 above %2").arg(count).arg(config_.maxReadChunk),
                      frame);
            return std::nullopt;
        }
        if (!held) return noSuchBlock;
        const QByteArray data =
            offset < held->data.size() ? held->data.mid(offset, count) : QByteArray();
        return x45::Link::blockFrame(sub, data);
    }
    case BlockDeleteQuery:
        if (!eeprom_.remove(id)) return noSuchBlock;
        return x45::Link::blockFrame(sub, {});
    case WBlockInfoQuery:
        return announceWrite(sub, id, frame);
    case WBlockDataQuery:
        return writeChunk(sub, id, frame);
    default: // WBlockOKQuery, the last one the length check lets through
        return closeWrite(sub, id, frame);
    }
}

QByteArray SimPhone::announceWrite(quint8 sub, int id, const QByteArray& frame) {
    const int length = wordAt(frame, 6);
    // A new announcement abandons an unfinished one (the tool skipped that block).
    write_.reset();
    if (!eeprom_.hasRoom(id, length))
        return refuse(sub, QStringLiteral("block %1: no room for %2 bytes").arg(id).arg(length));
    write_ = PendingWrite{id, length, byteAt(frame, 8), {}};
    return x45::Link::blockFrame(sub, {});
}

std::optional<QByteArray> SimPhone::writeChunk(quint8 sub, int id, const QByteArray& frame) {
    const int k = byteAt(frame, 1) - 6;
    if (k < 0 || k > config_.maxWriteChunk) {
        malformed(QStringLiteral("chunk of %1 bytes, 0 to %2 allowed").arg(k).arg(config_.maxWriteChunk),
                  frame);
        return std::nullopt;
    }
    if (!write_ || write_->id != id) {
        malformed(QStringLiteral("data for block %1, which was not announced").arg(id), frame);
        return std::nullopt;
    }
    const int offset = wordAt(frame, 6);
    if (offset != write_->data.size()) {
        malformed(QStringLiteral("offset %1 does not follow on %2 bytes received")
                      .arg(offset)
                      .arg(write_->data.size()),
                  frame);
        return std::nullopt;
    }
    if (offset + k > write_->length) {
        malformed(QStringLiteral("data beyond the announced %1 bytes").arg(write_->length), frame);
        return std::nullopt;
    }
    write_->data.append(frame.mid(8, k));
    return x45::Link::blockFrame(sub, {});
}

std::optional<QByteArray> SimPhone::closeWrite(quint8 sub, int id, const QByteArray& frame) {
    if (!write_ || write_->id != id) {
        malformed(QStringLiteral("block %1 closed but not announced").arg(id), frame);
        return std::nullopt;
    }
    const PendingWrite w = *write_;
    write_.reset();
    // Never store a block that is missing part of its data.
    if (w.data.size() < w.length)
        return refuse(sub, QStringLiteral("block %1 closed after %2 of %3 bytes")
                               .arg(id)
                               .arg(w.data.size())
                               .arg(w.length));
    QByteArray stored = w.data;
    if (!stored.isEmpty() && faults_.rotsStore(byteAt(frame, 0), sub)) {
        const qsizetype at = stored.size() / 2;
        stored[at] = static_cast<char>(stored[at] ^ 0x04);
    }
    if (!eeprom_.put(id, stored, w.version))
        return refuse(sub, QStringLiteral("block %1: no room").arg(id));
    return x45::Link::blockFrame(sub, {});
}

} // namespace x45sim
