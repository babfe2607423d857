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
#include "precheck.h"
#include "progressrate.h"

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
    enum class Try { Accepted, NoSuchBlock, Ignore, Abort, Unanswered, Lost };
    struct Request;
    Try request(const Request& req);
    // One block as a run concluded it, and whether the link was disturbed while it was read.
    struct BlockRead {
        ReadOutcome outcome = ReadOutcome::NoSuchBlock;
        ByteStr data;
        quint8 version = 0;
        bool disturbed = false;      // a failed attempt, a sync or a stale reply during the read
        [[nodiscard]] bool sameAs(const BlockRead& o) const {
            return outcome == o.outcome && data == o.data && version == o.version;
        }
        [[nodiscard]] bool decided() const; // Skipped, Aborted or PortLost: no read to compare
    };
    // What a run changes when a block's conclusion is replaced by a confirmed one.
    using Amend =
        std::function<void(qint32 n, const BlockRead& before, const BlockRead& after)>;
    BlockRead readOnce(qint32 n);
    // ReadBlock's info and data phases once; nullopt when the data phase was denied with "no
    // such block" and restartOnDenial allows starting again.
    std::optional<ReadOutcome> readBlockOnce(qint32 n, ByteStr& data, quint8& version,
                                             bool restartOnDenial);
    // Reads n again until two reads agree; then the failure dialog of the phase that differed.
    BlockRead confirmRead(qint32 n, BlockRead first);
    // One block of a read run: read, confirmed when verify is on. When the link was disturbed,
    // the block and the run's conclusions still in doubt (see inDoubt_) are read again until two
    // reads agree, and amended when they change.
    BlockRead readForRun(qint32 n, const Amend& amend);
    // The end of a read run: stray bytes after the last reply put the conclusions in doubt to
    // the test.
    void finishReads(const Amend& amend);
    // Confirms and amends every conclusion in doubt (the last one, when lastIsCurrent, is the
    // block being read: confirmed but not amended); the run's end when the person aborted or the
    // port went away meanwhile.
    std::optional<ReadOutcome> settleDoubts(const Amend& amend, bool lastIsCurrent);
    // Records a conclusion: a held block starts the conclusions in doubt afresh.
    void keepInDoubt(qint32 n, const BlockRead& r);
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
    Interaction& ui_;
    std::function<void()> refreshSpace_;
    bool lostReported_ = false;
    StopRequest stop_;
    bool verify_ = false;
    BlockList written_; // blocks the running write run wrote, in order
    struct Concluded {
        qint32 n = 0;
        BlockRead read;
    };
    // The read run's conclusions a shift of replies could still have made wrong: the last held
    // block and the absent numbers after it.
    QVector<Concluded> inDoubt_;
    int confirmed_ = 0;        // blocks of this read run confirmed by two agreeing reads
    LinkCounters runStart_; // the link's counters when the run began
    ProgressRate pace_;
    int paceDone_ = 0;
    qint64 paceShownAt_ = 0;
    static constexpr qint64 PaceIntervalMs = 200;
};

} // namespace x45
