#include "copy.h"

#include "blocks/blocklist.h"

namespace x45 {

QString rewriteQuestion(qint16 blockId, CopyDirection direction) {
    return QStringLiteral("Do you want to overwrite block %1 in %2 EEPROM?")
        .arg(blockId)
        .arg(direction == CopyDirection::PhoneToUser ? QStringLiteral("User's")
                                                     : QStringLiteral("Phone's"));
}

OverwriteAnswers::Decision OverwriteAnswers::decide(const QString& question) {
    RewriteAnswer answer = standing_;
    if (!forAll_) answer = ui_.askRewrite(question);
    switch (answer) {
    case RewriteAnswer::YesAll:
    case RewriteAnswer::NoAll:
        forAll_ = true;
        standing_ = answer;
        [[fallthrough]];
    case RewriteAnswer::Yes:
    case RewriteAnswer::No:
        return answer == RewriteAnswer::Yes || answer == RewriteAnswer::YesAll ? Decision::Overwrite
                                                                               : Decision::Keep;
    case RewriteAnswer::Cancel:
        return Decision::Cancel;
    }
    return Decision::Keep;
}

CopyResult copyBlocks(const BlockList& source, const std::function<bool(int)>& isSelected,
                      BlockList& target, Interaction& ui, CopyDirection direction) {
    CopyResult result;
    OverwriteAnswers answers(ui);
    BlockPositions positions(target);
    const qsizetype count = source.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (!isSelected || !isSelected(static_cast<int>(i))) continue;
        const EEPBlock& block = source[i];
        if (positions.contains(block.BlockId)) {
            const auto decision = answers.decide(rewriteQuestion(block.BlockId, direction));
            if (decision == OverwriteAnswers::Decision::Cancel) {
                result.cancelled = true;
                break;
            }
            if (decision == OverwriteAnswers::Decision::Keep) continue;
        }
        // The target list is limited like every list; what does not fit is not copied.
        const Result<PutBlock> put = putBlock(target, block, &positions);
        if (!put) {
            ++result.notCopiedFull;
            continue;
        }
        result.rows.append({static_cast<int>(i), static_cast<int>(put->row), put->appended});
    }
    return result;
}

} // namespace x45
