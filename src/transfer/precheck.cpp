#include "precheck.h"

#include "transfer/parseblocklist.h"

#include <QStringList>

#include <algorithm>

namespace x45 {

namespace {

// Lengths and offsets travel as 16 bits (block numbers do too, and a list holds no other).
constexpr qsizetype LongestBlock = 0xFFFF;

QString blocksWord(qsizetype count) {
    return count == 1 ? QStringLiteral("Block") : QStringLiteral("Blocks");
}

} // namespace

Status checkCarriable(const BlockList& blocks) {
    QStringList lines;
    for (const EEPBlock& block : blocks) {
        if (block.Data.size() > LongestBlock)
            lines << QStringLiteral("Block %1 is %2 bytes long; a block on the phone holds at "
                                    "most %3 bytes.")
                         .arg(block.BlockId)
                         .arg(block.Data.size())
                         .arg(LongestBlock);
    }
    if (lines.isEmpty()) return Status::ok();
    return Status::fail(ErrorKind::Refused, lines.join(QLatin1Char('\n')));
}

QVector<OtherHWid> otherHWids(const HWidRule& rule, const BlockList& blocks) {
    QVector<OtherHWid> other;
    for (const EEPBlock& block : blocks) {
        const BlockOrigin origin = rule.origins.value(block.BlockId);
        if (origin.hwid != 0 && origin.hwid == rule.phoneHWid) continue;
        auto it = std::find_if(other.begin(), other.end(), [&](const OtherHWid& o) {
            return o.origin.name == origin.name && o.origin.hwid == origin.hwid;
        });
        if (it == other.end()) it = other.insert(other.end(), OtherHWid{origin, {}});
        it->blocks.append(block.BlockId);
    }
    return other;
}

QString otherHWidQuestion(const QVector<OtherHWid>& other, quint16 phoneHWid) {
    QStringList lines;
    lines << (phoneHWid != 0
                  ? QStringLiteral("The phone has hardware id %1; these blocks belong to "
                                   "another or to no known hardware id:")
                        .arg(phoneHWid)
                  : QStringLiteral("The phone reported no hardware id; these blocks cannot be "
                                   "matched to it:"));
    for (const OtherHWid& o : other) {
        const QString from = o.origin.name.isEmpty() ? QStringLiteral("of unknown origin")
                                                     : QStringLiteral("from %1").arg(o.origin.name);
        const QString id = o.origin.hwid != 0 ? QStringLiteral("hardware id %1").arg(o.origin.hwid)
                                              : QStringLiteral("no hardware id");
        lines << QStringLiteral("  %1 %2 %3, %4")
                     .arg(blocksWord(o.blocks.size()), blockNamesText(o.blocks), from, id);
    }
    lines << QStringLiteral("Another phone's blocks (its calibration above all) can leave this "
                            "phone unusable. Write them all the same?");
    return lines.join(QLatin1Char('\n'));
}

} // namespace x45
