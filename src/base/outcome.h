#pragma once
// The one outcome type: how a request, a step (one block, an erase) or a whole run ended. Every
// layer passes these values on as they are; a failure that carries words travels as a Status.

namespace x45 {

enum class Outcome : unsigned char {
    Done,        // did what was asked (a run: every step ran, "Ready")
    NoSuchBlock, // the phone answered that the block does not exist
    Retry,       // the person asked for the failed request again
    Skipped,     // "Ignore": the block was passed over (or refused before sending)
    Aborted,     // "Abort" in a failure box
    Stopped,     // "Stop", a stop signal, or Cancel in a question
    Cancelled,   // nothing was done: empty list, "No" to a confirmation, a check refused it
    PortLost,    // the serial port went away; the person was told
    Failed,      // the phone could not be asked at all; the person was told why
    Unverified,  // every step ran, but what the phone holds differs from what was written
};

// The run cannot go on after this step.
[[nodiscard]] constexpr bool endsRun(Outcome o) {
    return o == Outcome::Aborted || o == Outcome::Stopped || o == Outcome::PortLost ||
           o == Outcome::Failed;
}

} // namespace x45
