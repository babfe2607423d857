#include "copy.h"

#include "blocks/blocklist.h"

namespace x45 {

QString rewriteQuestion(qint16 blockId, CopyDirection direction) {
    return QStringLiteral("Do you want to overwrite block %1 in %2 EEPROM?")
        .arg(blockId)
        .arg(direction == CopyDirection::PhoneToUser ? QStringLiteral("User's")
                                                     : QStringLiteral("Phone's"));
}

CopyResult CopyBlocks(const BlockList& source, const std::function<bool(int)>& isSelected,
                      BlockList& target, Interaction& ui, CopyDirection direction) {
    CopyResult result;
    int standing = 0; // the last answer of this run; "for all" answers settle later questions
    BlockPositions positions(target);
    const qsizetype count = source.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (!isSelected || !isSelected(static_cast<int>(i))) continue;
        const EEPBlock& block = source[i];
        const qsizetype at = positions.find(block.BlockId);
        bool copy = true;
        if (at >= 0) {
            if (standing != RewriteYesAll && standing != RewriteNoAll)
                standing = ui.askRewrite(rewriteQuestion(block.BlockId, direction));
            // Anything but an explicit yes keeps the target's block: an unknown answer (the
            // dialog closed some other way) must never overwrite data.
            copy = standing == RewriteYes || standing == RewriteYesAll;
        }
        if (copy) {
            if (at >= 0) {
                target[at] = block;
                result.rows.append({static_cast<int>(i), static_cast<int>(at), false});
            } else {
                // The target list is limited like every list; what does not fit is not copied.
                if (target.size() >= MaxBlocks) {
                    ++result.notCopiedFull;
                    continue;
                }
                target.append(block);
                positions.noteAppended(block.BlockId, target.size() - 1);
                result.rows.append(
                    {static_cast<int>(i), static_cast<int>(target.size() - 1), true});
            }
        } else if (standing == RewriteCancel) {
            result.cancelled = true;
            break;
        }
    }
    return result;
}

} // namespace x45
