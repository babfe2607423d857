#pragma once
// What is checked before the first frame that changes the phone: blocks the protocol can carry,
// and the hardware-id rule for blocks written to a phone. Both front ends get these through the
// operations themselves; the command line also asks them before it opens the port.

#include "base/status.h"
#include "blocks/eepblock.h"

#include <QHash>
#include <QString>
#include <QVector>

namespace x45 {

// Where a block to be written comes from: a file, or a list the person knows by name.
struct BlockOrigin {
    QString name;     // "dump.eep", "the User's list (dump.eep)", ...
    quint16 hwid = 0; // the hardware id it belongs to; 0: unknown
};

// The hardware-id rule of a write: blocks go to a phone only from a file or list of that phone's
// hardware id, unless the person agrees (or the command line says so beforehand).
struct HWidRule {
    quint16 phoneHWid = 0;
    QHash<qint16, BlockOrigin> origins; // by block number; a block not here has no known origin
    bool anyHWid = false;               // write them without asking
};

// Blocks of one origin that the rule does not let through on its own.
struct OtherHWid {
    BlockOrigin origin;
    QVector<qint32> blocks; // in list order
};

// Fails (Refused) with one line per block of `blocks` the protocol cannot carry (more bytes than
// a 16-bit length holds), naming it and why. Block numbers need no check: a list holds 16-bit
// numbers only, as the requests carry them.
[[nodiscard]] Status checkCarriable(const BlockList& blocks);

// The blocks whose origin belongs to another hardware id than the phone's or to none known,
// grouped by origin in the order first met.
[[nodiscard]] QVector<OtherHWid> otherHWids(const HWidRule& rule, const BlockList& blocks);
// The Yes/No question before writing them: the files and both hardware ids.
[[nodiscard]] QString otherHWidQuestion(const QVector<OtherHWid>& other, quint16 phoneHWid);

} // namespace x45
