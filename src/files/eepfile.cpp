#include "eepfile.h"

#include "blocks/blocklist.h"

#include <QtEndian>

namespace x45 {

namespace {

constexpr qsizetype HeaderSize = 8;
constexpr qsizetype EntryHeaderSize = 12;
// Blocks up to this number are counted in the header's first count. The file's own split, one
// above the areas' boundary (EEfullFirst): block 5000 is an EEfull block but counted in A, as
// the files already written count it.
constexpr qint32 LastCountedInA = 5000;

qint32 readInt32(const QByteArray& bytes, qsizetype pos) {
    return qFromLittleEndian<qint32>(bytes.constData() + pos);
}

void appendInt32(QByteArray& out, qint32 value) {
    char raw[4];
    qToLittleEndian<qint32>(value, raw);
    out.append(raw, 4);
}

Status damaged(const QString& name, const QString& what) {
    return Status::fail(
        ErrorKind::BadInput,
        QStringLiteral("The EEPROM file \"%1\" cannot be loaded: %2. The User's list was left "
                       "as it was; load an intact copy of the file.")
            .arg(name, what));
}

// The number of entries the header announces, checked against the limits and the file's size.
Result<qint64> entryCount(const QByteArray& bytes, const QString& name) {
    const qsizetype size = bytes.size();
    if (size == 0) return damaged(name, QStringLiteral("the file is empty"));
    if (size < HeaderSize)
        return damaged(name, QStringLiteral("the file is only %1 bytes long and ends inside its "
                                            "header (8 bytes)")
                                 .arg(size));
    const qint32 countA = readInt32(bytes, 0);
    const qint32 countB = readInt32(bytes, 4);
    if (countA < 0 || countB < 0)
        return damaged(name, QStringLiteral("its header gives a negative number of blocks "
                                            "(%1 and %2)")
                                 .arg(countA)
                                 .arg(countB));
    const qint64 total = qint64(countA) + qint64(countB);
    if (!fitsInList(total))
        return damaged(name, QStringLiteral("its header announces %1 blocks, more than the %2 "
                                            "a list can hold")
                                 .arg(total)
                                 .arg(MaxBlocks));
    // Every entry needs at least its 12-byte header: a count the file cannot hold is caught
    // before anything is reserved for it.
    if (total * EntryHeaderSize > size - HeaderSize)
        return damaged(name, QStringLiteral("its header announces %1 blocks, but the file is "
                                            "too short to hold them (%2 bytes)")
                                 .arg(total)
                                 .arg(size));
    return total;
}

// Entry `entry` of `total`, read at `pos`, which moves past it.
Result<EEPBlock> readEntry(const QByteArray& bytes, const QString& name, qsizetype& pos,
                           qint64 entry, qint64 total) {
    const qsizetype size = bytes.size();
    if (size - pos < EntryHeaderSize)
        return damaged(name,
                       QStringLiteral("the file ends inside entry %1 of %2").arg(entry).arg(total));
    const qint32 id = readInt32(bytes, pos);
    const qint32 length = readInt32(bytes, pos + 4);
    const qint32 version = readInt32(bytes, pos + 8);
    pos += EntryHeaderSize;
    const auto where = [&] {
        return QStringLiteral("block %1 (entry %2 of %3)").arg(id).arg(entry).arg(total);
    };
    if (id < LowestBlockNumber || id > HighestBlockNumber)
        return damaged(name, QStringLiteral("entry %1 of %2 has the block number %3, outside %4")
                                 .arg(entry)
                                 .arg(total)
                                 .arg(id)
                                 .arg(blockNumberRange()));
    if (version < 0 || version > 255)
        return damaged(name, QStringLiteral("%1 has the version %2, outside 0..255")
                                 .arg(where())
                                 .arg(version));
    if (length < 0)
        return damaged(name, QStringLiteral("%1 has the negative length %2").arg(where()).arg(length));
    if (length > size - pos)
        return damaged(name, QStringLiteral("%1 claims %2 bytes of data, but only %3 bytes "
                                            "remain in the file")
                                 .arg(where())
                                 .arg(length)
                                 .arg(size - pos));
    EEPBlock block{static_cast<qint16>(id), bytes.mid(pos, length), static_cast<quint8>(version)};
    pos += length;
    return block;
}

} // namespace

Result<EepContents> parseEep(const QByteArray& bytes, const QString& name) {
    const Result<qint64> total = entryCount(bytes, name);
    if (!total) return total.status();
    EepContents out;
    out.blocks.reserve(total.value());
    // Where each number is in the list, so that a repeated number replaces the earlier entry in
    // place without a scan of the list per entry.
    BlockPositions positions;
    qsizetype pos = HeaderSize;
    for (qint64 i = 0; i < total.value(); ++i) {
        const Result<EEPBlock> block = readEntry(bytes, name, pos, i + 1, total.value());
        if (!block) return block.status();
        // The count was checked against the limit: every entry finds room.
        (void)putBlock(out.blocks, block.value(), &positions);
    }
    out.hwid = bytes.size() - pos >= 2 ? qFromLittleEndian<quint16>(bytes.constData() + pos) : 0;
    return out;
}

QByteArray serializeEep(const BlockList& blocks, quint16 hwid) {
    qsizetype total = HeaderSize + 2;
    qint32 countA = 0;
    for (const EEPBlock& b : blocks) {
        total += EntryHeaderSize + b.Data.size();
        if (b.BlockId <= LastCountedInA) ++countA;
    }
    QByteArray out;
    out.reserve(total);
    appendInt32(out, countA);
    appendInt32(out, static_cast<qint32>(blocks.size()) - countA);
    for (const EEPBlock& b : blocks) {
        appendInt32(out, b.BlockId); // sign-extended
        appendInt32(out, static_cast<qint32>(b.Data.size()));
        appendInt32(out, b.BlockVer);
        out.append(b.Data);
    }
    char raw[2];
    qToLittleEndian<quint16>(hwid, raw);
    out.append(raw, 2);
    return out;
}

} // namespace x45
