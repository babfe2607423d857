#include "compare.h"

#include "blocks/blocklist.h"

namespace x45 {

CompareResult compareBlocks(const BlockList& user, const QVector<int>& userSelected,
                            const BlockList& phone, const QVector<int>& phoneSelected) {
    const QVector<int> u = selectedOrAll(user.size(), userSelected);
    const QVector<int> p = selectedOrAll(phone.size(), phoneSelected);

    // First position of each number within each compared set, instead of a scan per block.
    const BlockPositions inP(phone, p);
    const BlockPositions inU(user, u);

    CompareResult result;
    for (const int pos : u) {
        const EEPBlock& ub = user[pos];
        const qsizetype match = inP.find(ub.BlockId);
        if (match < 0)
            result.phoneMissing.append(ub.BlockId);
        else if (phone[match].Data != ub.Data || phone[match].BlockVer != ub.BlockVer)
            result.different.append(ub.BlockId);
    }
    for (const int pos : p)
        if (!inU.contains(phone[pos].BlockId)) result.userMissing.append(phone[pos].BlockId);
    return result;
}

} // namespace x45
