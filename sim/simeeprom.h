#pragma once
// The simulated phone's EEPROM: numbered blocks in two areas with byte budgets. EElite space of a
// removed block is free again at once; EEfull space is only marked deleted until the garbage
// collection reclaims it, as the flash file system of the real area does.

#include <blocks/eepblock.h>

#include <QMap>
#include <QtGlobal>

namespace x45sim {

struct AreaSpace {
    qint32 freeInBuffer = 0;   // usable right now
    qint32 freeAtAll = 0;      // usable once deleted space is reclaimed
    qint32 freeForDeleted = 0; // held by deleted blocks
};

class SimEeprom {
public:
    struct Stored {
        QByteArray data;
        quint8 version = 0;
    };

    void setCapacity(bool eefull, qint64 bytes) { area(eefull).capacity = bytes; }
    [[nodiscard]] qint64 capacity(bool eefull) const { return area(eefull).capacity; }

    // Replaces everything held; deleted space is forgotten.
    void setBlocks(const x45::BlockList& blocks);
    // Ascending block number, EElite first.
    [[nodiscard]] x45::BlockList blocks() const;
    [[nodiscard]] const Stored* find(int id) const;
    [[nodiscard]] qsizetype count() const { return blocks_.size(); }

    // Whether a block of this length can be stored under this number now.
    [[nodiscard]] bool hasRoom(int id, qint64 length) const;
    // Stores (or replaces) a block; false when there is no room.
    bool put(int id, const QByteArray& data, quint8 version);
    // False when no such block.
    bool remove(int id);
    // Removes every block of one area.
    void eraseArea(bool eefull);
    // Reclaims the space of deleted EEfull blocks.
    void collectGarbage() { full_.deleted = 0; }

    [[nodiscard]] AreaSpace space(bool eefull) const;
    // Highest number held in the area, 0 when it holds none.
    [[nodiscard]] int highest(bool eefull) const;

private:
    struct Area {
        qint64 capacity = 0;
        qint64 used = 0;
        qint64 deleted = 0;
    };
    Area& area(bool eefull) { return eefull ? full_ : lite_; }
    [[nodiscard]] const Area& area(bool eefull) const { return eefull ? full_ : lite_; }
    void release(int id, qint64 bytes);

    QMap<int, Stored> blocks_;
    Area lite_{16 * 1024, 0, 0};
    Area full_{64 * 1024, 0, 0};
};

} // namespace x45sim
