#pragma once
// Moving blocks between the phone's EEPROM and the Phone's list: read all, read chosen, write all,
// write selected, delete. One implementation for the window, the command line and the tests; every
// question and every report goes through Interaction.
//
// The caller (window or command line) disables its buttons and sets the "Stop" caption around a
// call, and refills the Phone's list view afterwards. The operations clear their stop request when
// they start and test it between blocks; the person's "Stop" only sets it.

#include "base/stoprequest.h"
#include "blocks/eepblock.h"
#include "person/interaction.h"
#include "link/link.h"
#include "link/session.h"
#include "pausinginteraction.h"
#include "precheck.h"
#include "progressrate.h"
#include "readhistory.h"

#include <QHash>
#include <QVector>
#include <functional>
#include <optional>

namespace x45 {

// How a run ended.
enum class RunEnd {
    Completed, // every step ran ("Ready")
    Stopped,   // "Stop", Abort in a failure dialog, Cancel in a question ("Stopped.")
    Cancelled, // nothing was done: empty list, empty typed list, "No" to a confirmation
    PortLost,  // the port went away; the person was told which port and why
    Failed,    // the phone could not be asked at all (e.g. no highest block number); told why
    Unverified, // every step ran, but what the phone holds differs from what was written; told
};

struct RunResult {
    RunEnd end = RunEnd::Completed;
    int done = 0;     // blocks read, written or deleted
    QVector<qint32> skipped; // blocks passed over after "Ignore", or refused before sending
    int notFound = 0; // "Load custom...": numbers reported as not found
    int retried = 0;  // failed attempts that were sent again
    int resyncs = 0;  // queries sent to bring the link back into step
    int verified = 0; // blocks confirmed by two agreeing reads, or read back as written
    QVector<qint16> unverified; // written blocks whose read-back differed

    [[nodiscard]] bool completed() const { return end == RunEnd::Completed; }
    // Completed with nothing skipped and nothing missing.
    [[nodiscard]] bool clean() const { return completed() && skipped.isEmpty() && notFound == 0; }
    [[nodiscard]] int skippedCount() const { return int(skipped.size()); }
};

// What ReadBlock found for one number.
enum class ReadOutcome {
    Read,        // data (possibly empty for a block the phone announced with length 0) and version
    NoSuchBlock, // the phone answered with the 0x32 marker to the info request
    Skipped,     // "Ignore" in a failure dialog
    Aborted,     // "Abort" in a failure dialog
    Stopped,     // "Stop" (or Ctrl-C) before the read was done
    PortLost,    // the port went away
};

// How one write step (a block, an erase, a garbage collection) ended. Done also when the port
// went away: the run looks at that first.
enum class StepOutcome {
    Done,
    Skipped, // "Ignore" in a failure dialog, or refused before sending
    Aborted, // "Abort" in a failure dialog
};

class PhoneTransfer {
public:
    // refreshSpace queries and shows the free space of both areas (Session::RefreshEEPSpace); an
    // empty function skips the refreshes.
    PhoneTransfer(Link& link, Interaction& ui, std::function<void()> refreshSpace = {});
    explicit PhoneTransfer(Session& session)
        : PhoneTransfer(session.link(), session.ui(), [&session] { session.RefreshEEPSpace(); }) {}

    // "Load all": empties PhoneBlocks, then reads every number of both areas in ascending order.
    // A run that does not complete leaves PhoneBlocks empty.
    RunResult LoadAll(BlockList& PhoneBlocks);
    // "Load custom...": asks ui.askBlockList() for the numbers and merges the blocks read into
    // PhoneBlocks (a block already there is replaced in place after ui.askRewrite agrees).
    RunResult LoadCustom(BlockList& PhoneBlocks);
    // The same with the typed list given (the command line's --blocks).
    RunResult LoadCustom(BlockList& PhoneBlocks, const QString& typedList);
    // "Save all": garbage collection of EEfull, erase of EElite, then every block in list order.
    // PhoneBlocks is read, never changed. Before anything is sent every block is checked (see
    // precheck.h), and with a hardware-id rule, blocks of another or no known hardware id are
    // written only when the person says Yes; otherwise the run ends Cancelled, nothing sent.
    RunResult SaveAll(const BlockList& PhoneBlocks,
                      const std::optional<HWidRule>& hwidRule = std::nullopt);
    // "Save selected": writes block i only when selected(i) (0-based row) is true at the moment the
    // run reaches it. The rows selected when the run starts are checked as "Save all" checks its
    // blocks; a row selected later is written only when it passes the checks without a question.
    // toWrite, when the caller knows it, is the number of rows to be written, for the pace (block
    // n of toWrite); otherwise the pace counts rows.
    RunResult SaveSelected(const BlockList& PhoneBlocks,
                           const std::function<bool(int row)>& selected, int toWrite = -1,
                           const std::optional<HWidRule>& hwidRule = std::nullopt);
    // "Delete directly": asks "Confirm delete from phone", deletes the blocks of selectedRows
    // (0-based rows) on the phone, and when every one of them was deleted calls removeDeleted with
    // their numbers so the caller removes exactly those blocks from the Phone's list and refills
    // its view (row positions can change during the run, block numbers cannot). Then refreshes
    // space. A stop request ends it after the block in hand. Blocks are deleted in ascending row
    // order, so a run that ends early has deleted the first `done` of them.
    RunResult
    DeleteDirectly(const BlockList& PhoneBlocks, const QVector<int>& selectedRows,
                   const std::function<void(const QVector<qint16>& deletedIds)>& removeDeleted);

    // One block: info request, then the data in chunks of at most 30 bytes. data is emptied first;
    // version is written only from an accepted info reply (0 again after Ignore/Abort in the data
    // phase).
    ReadOutcome ReadBlock(qint32 n, ByteStr& data, quint8& version);
    // Highest block number of an area (false EElite, true EEfull), clamped to 0..32767; nullopt
    // when five attempts brought no acceptable reply (or the port went away).
    [[nodiscard]] std::optional<qint32> MaxBlockQuery(bool eefull);

    // One block in three phases: announce, data in chunks of at most 20 bytes, close. Skipped or
    // Aborted only when the person settles a failing request that way (or the block is too long).
    StepOutcome WriteBlock(const EEPBlock& block);
    // EraseEEPQuery: selector 0 erases the EElite area (0x09), anything else 0x19.
    StepOutcome EraseEEP(int selector);
    StepOutcome CollectEEFULLGarbage();
    // BlockDeleteQuery with Retry/Cancel; true when the phone confirmed.
    [[nodiscard]] bool DeleteBlock(qint32 n);

    // Every block read twice and kept when two reads agree; every written block read back.
    void setVerify(bool on) { verify_ = on; }
    [[nodiscard]] bool verify() const { return verify_; }

    // The running operation's stop request; set by the person's "Stop" and by the operation itself
    // on Abort or Cancel.
    [[nodiscard]] StopRequest& stopRequest() { return stop_; }

    // True once the port went away in this object's lifetime; the person has been told.
    [[nodiscard]] bool portLost() const { return link_.portLost(); }

private:
    // How one request with its attempts ended; Unanswered only when no dialog was to be shown.
    enum class Try { Accepted, NoSuchBlock, Retry, Ignore, Abort, Stopped, Unanswered, Lost };
    struct Request;
    Try request(const Request& req);
    // The failure dialog of a request whose attempts all failed: Retry, Ignore, Abort (or Stopped
    // when a stop came meanwhile).
    Try askAfterFailure(const Request& req);
    // What one read of a block found.
    struct BlockRead {
        ReadOutcome outcome = ReadOutcome::NoSuchBlock;
        ByteStr data;
        quint8 version = 0;
        [[nodiscard]] bool sameAs(const BlockRead& o) const {
            return outcome == o.outcome && data == o.data && version == o.version;
        }
        [[nodiscard]] bool held() const { return outcome == ReadOutcome::Read; }
        // Not a finding about the block (skipped, aborted, stopped, port lost): nothing to compare.
        [[nodiscard]] bool decided() const;
        [[nodiscard]] bool endsRun() const; // Aborted, Stopped or PortLost
    };
    // How a read run takes a conclusion: the first one for a number (before == nullptr), or a
    // re-check's confirmed read that replaces `before`.
    using Conclude =
        std::function<void(qint32 n, const BlockRead* before, const BlockRead& after)>;
    BlockRead readOnce(qint32 n);
    // ReadBlock's info and data phases once; nullopt when the data phase was denied with "no
    // such block" and restartOnDenial allows starting again.
    std::optional<ReadOutcome> readBlockOnce(qint32 n, ByteStr& data, quint8& version,
                                             bool restartOnDenial);
    // Reads n again until two of its reads (those given included) agree; then the failure
    // dialog of the phase that differed.
    BlockRead confirmRead(qint32 n, QVector<BlockRead> reads);
    // One number of a read run: read (twice when verifying), concluded, then recovered: a lag the
    // read revealed puts the conclusions in doubt to the test, and a run that has seen faults
    // checks the link at checkpoints. The run's end (Aborted, Stopped, PortLost), if any.
    std::optional<ReadOutcome> readForRun(qint32 n, const Conclude& conclude);
    std::optional<ReadOutcome> recover(const LinkCounters& before, const Conclude& conclude);
    // Reads the numbers in doubt under a lag of `lag` replies again, now that the link is in
    // step, and concludes again every one whose confirmed read differs.
    std::optional<ReadOutcome> recheck(int lag, const Conclude& conclude);
    // The end of a read run: stray bytes after the last reply show a lag.
    std::optional<ReadOutcome> finishReads(const Conclude& conclude);
    void beginReads();
    // Reads back every written block; the ones that differ from what was written.
    QVector<qint16> verifyWritten(const BlockList& written, RunResult& result);
    void countLink(RunResult& result) const;
    // Start shared by "Save all" and "Save selected".
    void beginWriting(qsizetype count, int toWrite);
    // The end of every run that did not complete: "Stopped.", the bar back to 0, the link's
    // counts.
    RunResult endStopped(RunResult result, RunEnd end);
    // Refreshes space, reads back what was written when verifying, and ends the run.
    RunResult finishWriting(RunResult result);
    // EraseEEPQuery or CollectEEFULLGarbageQuery: one whole-area request that has no block.
    StepOutcome areaRequest(quint8 sub, const QString& failText);
    // The checks before the first frame of a write (precheck.h); false when the run must not
    // begin, the person having been told or asked.
    bool clearedForWriting(const BlockList& toWrite, const std::optional<HWidRule>& hwidRule);
    // paceRows: the pace counts every row reached, not only the blocks written. refusal, when
    // given, says why a row may not be written (empty when it may).
    void writeRun(const BlockList& blocks, const std::function<bool(int)>& selected,
                  RunResult& result, bool paceRows = false,
                  const std::function<QString(int row)>& refusal = {});
    void reportLost();
    // The pace shown beside the progress bar (ui.setProgressDetail): a run of `steps` blocks
    // begins, `done` of them are finished, an exchange went by, the run is over. Updates reach
    // the person at most every PaceIntervalMs, the first and the last at once.
    void beginPace(int steps);
    void stepPace(int done);
    void tickPace();
    void endPace();
    void showPace(bool now);
    // The block being read or written, and the numbers being re-checked (none: the re-check
    // is over).
    void paceBlock(qint32 n);
    void paceRecheck(std::optional<std::pair<qint32, qint32>> range);
    // Ends the pace however the run ends.
    struct PaceEnd {
        PhoneTransfer& transfer;
        ~PaceEnd() { transfer.endPace(); }
    };
    void startRun() {
        lostReported_ = false;
        runStart_ = link_.counters();
    }
    RunResult customRun(BlockList& PhoneBlocks, const QString& typedList);

    Link& link_;
    Interaction& person_;
    std::function<void()> refreshSpace_;
    bool lostReported_ = false;
    StopRequest stop_;
    bool verify_ = false;
    BlockList written_; // blocks the running write run wrote, in order
    // The read run's recovery: its conclusions in order, the latest one of each number still
    // comparable, how often each was re-checked, and the checkpoint syncs a fault has left.
    ReadHistory history_;
    QHash<qint32, BlockRead> concluded_;
    QHash<qint32, int> rechecks_;
    int checkpointsLeft_ = 0;
    // Absent numbers in a row between checkpoint syncs, and how many a fault brings.
    static constexpr int CheckpointEvery = 32;
    static constexpr int CheckpointsPerFault = 8;
    int confirmed_ = 0;     // blocks of this read run confirmed by two agreeing reads
    LinkCounters runStart_; // the link's counters when the run began
    ProgressRate pace_;
    int paceDone_ = 0;
    qint64 paceShownAt_ = 0;
    std::optional<qint32> paceBlock_;
    std::optional<std::pair<qint32, qint32>> recheckRange_;
    // Every question and report goes through here; the pace stands still while one is asked.
    PausingInteraction ui_{person_, pace_};
    static constexpr qint64 PaceIntervalMs = 200;
};

} // namespace x45
