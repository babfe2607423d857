#pragma once
// One block-protocol request as the transfer routines send it, and the texts they show.
// Internal to src/transfer.

#include "transfer.h"

#include "link/protocol.h"

#include <QString>
#include <chrono>

namespace x45 {

struct PhoneTransfer::Request {
    ByteStr frame;
    quint8 sub = 0; // SubCmd an accepted reply repeats
    std::chrono::milliseconds timeout = proto::ReadTimeout;
    int hold = 1;
    bool interim = false;     // 0x50 means "still working": wait again without resending
    bool noSuchBlock = false; // a well-formed 0x32 reply ends the request
    int minLength = 2;        // smallest Length holding the fields read (SubCmd .. trailer)
    bool needData = false;    // a data reply must carry at least one data byte
    QString failText;         // the failure dialog
    Buttons buttons = Buttons::AbortRetryIgnore;
    bool askOnFailure = true; // false: the fifth failure ends with Unanswered, no dialog
};

// A phone that keeps answering "still working" is given up on after this many interim replies in a
// row; the attempt then counts as failed (each one already took up to the write time-out).
constexpr int MaxInterimReplies = 50;

// Block numbers in messages: one blank in place of the plus sign.
[[nodiscard]] inline QString signedNumber(qint32 n) {
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

// 16-bit fields of a request.
[[nodiscard]] inline ByteStr word(qint32 value) {
    return WordToStr(static_cast<quint16>(value));
}

} // namespace x45
