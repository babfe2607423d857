#pragma once
// Reading blocks from the phone: one block, the highest block numbers, and the read run that
// "Load all", "Load custom..." and a write's verification share, with its recovery from a link
// that fell out of step. Internal to src/transfer.

#include "readhistory.h"
#include "transfercore.h"

#include <QHash>

namespace x45 {

// What one read of a block found.
struct BlockRead {
    Outcome outcome = Outcome::NoSuchBlock; // Done (data, possibly empty), NoSuchBlock, Skipped,
                                            // Aborted, Stopped, PortLost
    ByteStr data;
    quint8 version = 0;

    [[nodiscard]] bool sameAs(const BlockRead& o) const {
        return outcome == o.outcome && data == o.data && version == o.version;
    }
    [[nodiscard]] bool held() const { return outcome == Outcome::Done; }
    // A finding about the block (held or absent), not a decision of the person or the run.
    [[nodiscard]] bool decided() const {
        return outcome != Outcome::Done && outcome != Outcome::NoSuchBlock;
    }
};

// How a read run takes a conclusion: the first one for a number (before == nullptr), or a
// re-check's confirmed read that replaces `before`.
using Conclude = std::function<void(qint32 n, const BlockRead* before, const BlockRead& after)>;

class BlockReader {
public:
    explicit BlockReader(TransferCore& core) : core_(core) {}

    // One block: info request, then the data in chunks of at most 30 bytes.
    BlockRead readBlock(qint32 n);
    // Highest block number of an area, clamped to 0..HighestBlockNumber; nullopt when five attempts
    // brought no acceptable reply (or the port went away).
    [[nodiscard]] std::optional<qint32> maxBlockQuery(bool eefull);

    // A read run: begin() first; then each number through readForRun (read, twice when
    // verifying, concluded, then recovered: a lag the read revealed puts the conclusions in
    // doubt to the test, and a run that has seen faults checks the link at checkpoints); then
    // finish(). Each returns the run's end (Aborted, Stopped, PortLost), if any.
    void begin();
    std::optional<Outcome> readForRun(qint32 n, const Conclude& conclude);
    std::optional<Outcome> finish(const Conclude& conclude);
    // Reads n again until two of its reads (those given included) agree; then the failure box
    // of the phase that differed.
    BlockRead confirmRead(qint32 n, QVector<BlockRead> reads);
    // The latest comparable conclusion for n, if the run holds one.
    [[nodiscard]] std::optional<BlockRead> concluded(qint32 n) const;
    // Blocks of this run confirmed by two agreeing reads.
    [[nodiscard]] int confirmed() const { return confirmed_; }

private:
    // The info and data phases once; nullopt when the data phase was denied with "no such
    // block" and restartOnDenial allows starting again.
    std::optional<BlockRead> readBlockOnce(qint32 n, bool restartOnDenial);
    // The data phase of a block the phone announced with `length` bytes.
    std::optional<BlockRead> readData(qint32 n, const Request& info, const ByteStr& announcement,
                                      bool restartOnDenial);
    std::optional<Outcome> recover(const LinkCounters& before, const Conclude& conclude);
    // Reads the numbers in doubt under a lag of `lag` replies again, now that the link is in
    // step, and concludes again every one whose confirmed read differs.
    std::optional<Outcome> recheck(int lag, const Conclude& conclude);
    // One number of a re-check; false when nothing disturbed it.
    std::optional<Outcome> recheckOne(qint32 m, QVector<qint32>& queue, bool& undisturbed,
                                      const Conclude& conclude);

    TransferCore& core_;
    // The read run's recovery: its conclusions in order, the latest one of each number still
    // comparable, how often each was re-checked, and the checkpoint syncs a fault has left.
    ReadHistory history_;
    QHash<qint32, BlockRead> concluded_;
    QHash<qint32, int> rechecks_;
    int checkpointsLeft_ = 0;
    int confirmed_ = 0;
    // Absent numbers in a row between checkpoint syncs, and how many a fault brings.
    static constexpr int CheckpointEvery = 32;
    static constexpr int CheckpointsPerFault = 8;
};

// "Load all": empties blocks, then reads every number of both areas in ascending order. A run
// that does not complete leaves blocks empty.
RunResult loadAll(TransferCore& core, BlockReader& reader, BlockList& blocks);
// "Load custom..." with the typed list: merges the blocks read into blocks (a block already
// there is replaced in place after the person agrees).
RunResult loadCustom(TransferCore& core, BlockReader& reader, BlockList& blocks,
                     const QString& typedList);

} // namespace x45
