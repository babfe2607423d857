#pragma once
// The EEPROM file (.eep): counts A (BlockId <= 5000) and B (> 5000), the entries, then the
// hardware id. All integers little-endian.

#include "blocks/eepblock.h"
#include "base/result.h"

#include <QByteArray>

namespace x45 {

struct EepContents {
    BlockList blocks;    // in file order; a repeated number replaces the earlier entry in place
    quint16 hwid = 0;    // 0 when the file ends right after its last entry
};

// Parses a whole file's bytes. Rejects (kind BadInput) what breaks the format's limits (counts
// beyond MaxBlocks, a block number outside 16 bits, a version above 255, a length beyond the
// file, a file that ends inside an entry) with a message naming the fault; `name` is used in that
// message.
[[nodiscard]] Result<EepContents> parseEep(const QByteArray& bytes, const QString& name);

// The bytes of a file holding these blocks in this order and the hardware id.
[[nodiscard]] QByteArray serializeEep(const BlockList& blocks, quint16 hwid);

} // namespace x45
