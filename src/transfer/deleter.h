#pragma once
// "Delete directly" and the one request it is made of. Internal to src/transfer.

#include "transfercore.h"

namespace x45 {

// BlockDeleteQuery with Retry/Cancel; true when the phone confirmed.
[[nodiscard]] bool deleteBlock(TransferCore& core, qint32 n);

// Asks "Confirm delete from phone", deletes the blocks of selectedRows (0-based rows) in
// ascending row order, and when every one of them was deleted calls removeDeleted with their
// numbers. A stop request ends it after the block in hand; a run that ends early has deleted
// the first `done` of them.
RunResult deleteDirectly(TransferCore& core, const BlockList& blocks,
                         const QVector<int>& selectedRows,
                         const std::function<void(const QVector<qint16>& deletedIds)>& removeDeleted);

} // namespace x45
