#include "simeeprom.h"

#include <link/protocol.h>

#include <algorithm>
#include <limits>

namespace x45sim {

namespace {
bool eefullId(int id) {
    return x45::isEEfullBlock(id);
}

qint32 clampCounter(qint64 v) {
    return static_cast<qint32>(std::clamp<qint64>(v, 0, std::numeric_limits<qint32>::max()));
}
} // namespace

void SimEeprom::setBlocks(const x45::BlockList& blocks) {
    blocks_.clear();
    lite_.used = lite_.deleted = full_.used = full_.deleted = 0;
    for (const x45::EEPBlock& b : blocks) {
        if (const Stored* old = find(b.BlockId)) area(eefullId(b.BlockId)).used -= old->data.size();
        blocks_.insert(b.BlockId, Stored{b.Data, b.BlockVer});
        area(eefullId(b.BlockId)).used += b.Data.size();
    }
}

x45::BlockList SimEeprom::blocks() const {
    x45::BlockList out;
    out.reserve(blocks_.size());
    for (auto it = blocks_.cbegin(); it != blocks_.cend(); ++it)
        out.append(x45::EEPBlock{static_cast<qint16>(it.key()), it->data, it->version});
    return out;
}

const SimEeprom::Stored* SimEeprom::find(int id) const {
    const auto it = blocks_.constFind(id);
    return it == blocks_.cend() ? nullptr : &it.value();
}

bool SimEeprom::hasRoom(int id, qint64 length) const {
    const bool full = eefullId(id);
    const Area& a = area(full);
    qint64 reusable = 0;
    // A replaced EElite block gives its bytes back at once; an EEfull one only after collection.
    if (const Stored* old = find(id); old && !full) reusable = old->data.size();
    return a.used + a.deleted - reusable + length <= a.capacity;
}

void SimEeprom::release(int id, qint64 bytes) {
    Area& a = area(eefullId(id));
    a.used -= bytes;
    if (eefullId(id)) a.deleted += bytes;
}

bool SimEeprom::put(int id, const QByteArray& data, quint8 version) {
    if (!hasRoom(id, data.size())) return false;
    if (const Stored* old = find(id)) release(id, old->data.size());
    blocks_.insert(id, Stored{data, version});
    area(eefullId(id)).used += data.size();
    return true;
}

bool SimEeprom::remove(int id) {
    const Stored* old = find(id);
    if (!old) return false;
    release(id, old->data.size());
    blocks_.remove(id);
    return true;
}

void SimEeprom::eraseArea(bool eefull) {
    for (auto it = blocks_.begin(); it != blocks_.end();) {
        if (eefullId(it.key()) == eefull) {
            release(it.key(), it->data.size());
            it = blocks_.erase(it);
        } else {
            ++it;
        }
    }
}

AreaSpace SimEeprom::space(bool eefull) const {
    const Area& a = area(eefull);
    return AreaSpace{clampCounter(a.capacity - a.used - a.deleted),
                     clampCounter(a.capacity - a.used), clampCounter(a.deleted)};
}

int SimEeprom::highest(bool eefull) const {
    int best = 0;
    for (auto it = blocks_.cbegin(); it != blocks_.cend(); ++it)
        if (eefullId(it.key()) == eefull) best = std::max(best, it.key());
    return best;
}

} // namespace x45sim
