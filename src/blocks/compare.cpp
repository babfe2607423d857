#include "compare.h"

#include "blocks/blocklist.h"

namespace x45 {

CompareResult CompareBlocks(const BlockList& user, const QVector<int>& userSelected,
                            const BlockList& phone, const QVector<int>& phoneSelected) {
    const QVector<int> u = selectedOrAll(user.size(), userSelected);
    const QVector<int> p = selectedOrAll(phone.size(), phoneSelected);

    // First position of each number within each compared set, instead of a scan per block.
    QVector<int> firstInP(65536, -1);
    for (qsizetype k = p.size() - 1; k >= 0; --k)
        firstInP[qint32(phone[p[k]].BlockId) + 32768] = p[k];
    QVector<bool> inU(65536, false);
    for (const int pos : u)
        inU[qint32(user[pos].BlockId) + 32768] = true;

    CompareResult result;
    for (const int pos : u) {
        const EEPBlock& ub = user[pos];
        const int match = firstInP[qint32(ub.BlockId) + 32768];
        if (match < 0)
            result.phoneMissing.append(ub.BlockId);
        else if (phone[match].Data != ub.Data || phone[match].BlockVer != ub.BlockVer)
            result.different.append(ub.BlockId);
    }
    for (const int pos : p)
        if (!inU[qint32(phone[pos].BlockId) + 32768]) result.userMissing.append(phone[pos].BlockId);
    return result;
}

} // namespace x45
