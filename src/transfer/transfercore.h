#pragma once
// What every phone operation shares: the link, the person (behind the pace's pausing), the stop
// request, the request pattern (up to five attempts, then the person decides), the pace shown
// beside the progress bar, and the link's counts for the run's result. Internal to src/transfer.

#include "base/outcome.h"
#include "base/stoprequest.h"
#include "blocks/eepblock.h"
#include "link/link.h"
#include "link/protocol.h"
#include "pausinginteraction.h"
#include "person/interaction.h"
#include "progressrate.h"

#include <QString>
#include <QVector>
#include <functional>
#include <optional>

namespace x45 {

struct RunResult {
    Outcome end = Outcome::Done; // Done, Stopped, Cancelled, PortLost, Failed or Unverified
    int done = 0;                // blocks read, written or deleted
    QVector<qint32> skipped;     // blocks passed over after "Ignore", or refused before sending
    int notFound = 0;            // "Load custom...": numbers reported as not found
    int retried = 0;             // failed attempts that were sent again
    int resyncs = 0;             // queries sent to bring the link back into step
    int verified = 0;   // blocks confirmed by two agreeing reads, or read back as written
    QVector<qint16> unverified; // written blocks whose read-back differed

    [[nodiscard]] bool completed() const { return end == Outcome::Done; }
    // Completed with nothing skipped and nothing missing.
    [[nodiscard]] bool clean() const { return completed() && skipped.isEmpty() && notFound == 0; }
    [[nodiscard]] int skippedCount() const { return int(skipped.size()); }
};

// One block-protocol request as the operations send it.
struct Request : BlockRequest {
    QString failText; // the failure box
    Buttons buttons = Buttons::AbortRetryIgnore;
    bool askOnFailure = true; // false: the fifth failure ends with Failed, no box
    bool stoppable = false;   // a stop ends the request before its next exchange (reads only:
                              // a write in progress is always finished)
};

// Block numbers in messages: one blank in place of the plus sign.
[[nodiscard]] inline QString signedNumber(qint32 n) {
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

// 16-bit fields of a request.
[[nodiscard]] inline ByteStr word(qint32 value) {
    return wordToStr(static_cast<quint16>(value));
}

class TransferCore {
public:
    TransferCore(Link& link, Interaction& person, std::function<void()> refreshSpace)
        : link(link), person(person), refreshSpace(std::move(refreshSpace)) {}

    // Sends the request with its attempts; after five failures the person decides (Retry sends
    // it again). Done with the accepted reply in *reply; NoSuchBlock; Skipped (Ignore); Aborted;
    // Stopped; PortLost (the person told); Failed when askOnFailure is off.
    Outcome request(const Request& req, ByteStr* reply = nullptr);
    // The failure box of a request whose attempts all failed: Retry, Skipped, Aborted (or
    // Stopped when a stop came meanwhile).
    Outcome askAfterFailure(const Request& req);
    // A box with only "OK".
    void tell(const QString& text, const QString& title = {});
    void reportLost();

    // The beginning of a run: the counts start from here, the stop request is cleared.
    void startRun(const QString& status);
    // The link's counts since startRun.
    void countLink(RunResult& result) const;
    // The end of every run that did not complete: "Stopped.", the bar back to 0, the counts.
    RunResult endStopped(RunResult result, Outcome end);
    // A run ended early: PortLost when the port went away (the person told once), Failed as it
    // is, anything else (a stop, an Abort) as Stopped.
    RunResult endBy(RunResult result, Outcome end);
    RunResult endReady(RunResult result);
    void refresh() {
        if (refreshSpace) refreshSpace();
    }

    // The pace shown beside the progress bar: a run of `steps` blocks begins, `done` of them are
    // finished, an exchange went by, the run is over. Updates reach the person at most every
    // PaceIntervalMs, the first and the last at once.
    void beginPace(int steps);
    void stepPace(int done);
    void tickPace();
    void endPace();
    // The block being read or written, and the numbers being re-checked (none: over).
    void paceBlock(qint32 n);
    void paceRecheck(std::optional<std::pair<qint32, qint32>> range);
    // Ends the pace however the run ends.
    struct PaceEnd {
        TransferCore& core;
        ~PaceEnd() { core.endPace(); }
    };

    Link& link;
    Interaction& person;
    std::function<void()> refreshSpace;
    StopRequest stop;
    bool verify = false;

private:
    void showPace(bool now);

    bool lostReported_ = false;
    LinkCounters runStart_;
    ProgressRate pace_;
    int paceDone_ = 0;
    qint64 paceShownAt_ = 0;
    std::optional<qint32> paceBlock_;
    std::optional<std::pair<qint32, qint32>> recheckRange_;
    static constexpr qint64 PaceIntervalMs = 200;

public:
    // Every question and report goes through here; the pace stands still while one is asked.
    PausingInteraction ui{person, pace_};
};

} // namespace x45
