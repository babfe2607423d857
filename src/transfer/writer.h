#pragma once
// Writing blocks to the phone: one block in three phases, the two whole-area requests, and the
// runs of "Save all" and "Save selected" with their checks before the first frame and the
// read-back when verifying. Internal to src/transfer.

#include "precheck.h"
#include "reader.h"

namespace x45 {

class BlockWriter {
public:
    BlockWriter(TransferCore& core, BlockReader& reader) : core_(core), reader_(reader) {}

    // Announce, data in chunks of at most 20 bytes, close. Skipped or Aborted only when the
    // person settles a failing request that way (or the block is too long); Done otherwise, also
    // when the port went away (the run looks at that first).
    Outcome writeBlock(const EEPBlock& block);
    // EraseEEPQuery of EElite (false) or EEfull (true), and CollectEEFULLGarbageQuery.
    Outcome eraseArea(bool eefull);
    Outcome collectGarbage();

    RunResult saveAll(const BlockList& blocks, const std::optional<HWidRule>& hwidRule);
    RunResult saveSelected(const BlockList& blocks, const std::function<bool(int row)>& selected,
                           int toWrite, const std::optional<HWidRule>& hwidRule);

private:
    Outcome areaRequest(quint8 sub, const QString& failText);
    // The data phase; Done, Skipped or Aborted (PortLost when the port went away).
    Outcome writeData(const EEPBlock& block, Request& req);
    // The checks before the first frame of a write (precheck.h); false when the run must not
    // begin, the person having been told or asked.
    bool clearedForWriting(const BlockList& toWrite, const std::optional<HWidRule>& hwidRule);
    // paceRows: the pace counts every row reached, not only the blocks written. refusal, when
    // given, says why a row may not be written (ok when it may).
    void writeRun(const BlockList& blocks, const std::function<bool(int)>& selected,
                  RunResult& result, bool paceRows = false,
                  const std::function<Status(int row)>& refusal = {});
    // One row of a run; false when the run ends.
    bool writeRow(const EEPBlock& block, const Status& refused, RunResult& result);
    void beginWriting(qsizetype count, int toWrite);
    // Refreshes space, reads back what was written when verifying, and ends the run.
    RunResult finishWriting(RunResult result);
    // Reads back every written block; the ones that differ from what was written.
    QVector<qint16> verifyWritten(RunResult& result);

    TransferCore& core_;
    BlockReader& reader_;
    BlockList written_; // blocks the running write run wrote, in order
};

} // namespace x45
