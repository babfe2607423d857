#pragma once
// One block-protocol request as the transfer routines send it, and the texts they show.
// Internal to src/transfer.

#include "transfer.h"

#include "link/protocol.h"

#include <QString>
#include <chrono>

namespace x45 {

struct PhoneTransfer::Request : BlockRequest {
    QString failText; // the failure dialog
    Buttons buttons = Buttons::AbortRetryIgnore;
    bool askOnFailure = true; // false: the fifth failure ends with Unanswered, no dialog
    bool stoppable = false;   // a stop ends the request before its next exchange (reads only:
                              // a write in progress is always finished)
};

// Block numbers in messages: one blank in place of the plus sign.
[[nodiscard]] inline QString signedNumber(qint32 n) {
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

// 16-bit fields of a request.
[[nodiscard]] inline ByteStr word(qint32 value) {
    return WordToStr(static_cast<quint16>(value));
}

} // namespace x45
