#pragma once
// The spoiled line of fuzz_link: the person's scripted answers and the line between the simulated
// phone and the tool's port, both driven by the fuzzer's input.

#include "fakeport.h"
#include "fuzz_common.h"

#include "base/stoprequest.h"
#include "link/link.h"
#include "link/protocol.h"
#include "person/interaction.h"
#include "simphone.h"

#include <QByteArray>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>

namespace x45::fuzzlink {

using x45::test::FakePort;

// Time is virtual: the port's waits jump to their next event at once, so a time-out of seconds
// passes in microseconds and runs stay fast and repeatable.
inline x45sim::QueuedPort::VirtualClock virtualTime;
inline qint64 nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(virtualTime.now.time_since_epoch())
        .count();
}
inline bool trace = false; // X45_FUZZ_LINK_TRACE=1: every frame and every chunk with its virtual time

inline void traceLine(const char* what, const QByteArray& bytes, qint64 at) {
    if (trace)
        std::fprintf(stderr, "%8lld ms %s %s\n", static_cast<long long>(at), what,
                     bytes.toHex(' ').constData());
}

// Replies come late from just past the shortest reply time-out to twice past the longest.
constexpr int LateFirstMs = 501;
constexpr int LateMs = 5001;
// The longest one exchange may wait: the write time-out again for every interim reply and after
// every chunk of a reply trickling in, with room to spare. More means a wait without a bound.
constexpr qint64 LongestWaitMs = 20LL * 60 * 1000;
// The person gives up on a phone that does not answer the scan after this many tries.
constexpr int ScanTries = 60;
// Retries the person grants per run; after that a failure box is answered Abort or Cancel.
constexpr int RetryBudget = 3;

// Answers the failure boxes and the confirmation from the input.
class Answers final : public Interaction {
public:
    explicit Answers(FuzzedDataProvider& in) : in_(in) {}
    QString typedList;

    Button message(const QString&, const QString&, Buttons buttons, Icon, Button) override {
        switch (buttons) {
        case Buttons::Ok:
            return Button::Ok;
        case Buttons::YesNo:
            return in_.ConsumeBool() ? Button::No : Button::Yes;
        case Buttons::RetryCancel:
            return in_.ConsumeBool() && retries_++ < RetryBudget ? Button::Retry : Button::Cancel;
        case Buttons::AbortRetryIgnore:
            switch (in_.ConsumeIntegralInRange(0, 2)) {
            case 1:
                return Button::Ignore;
            case 2:
                if (retries_++ < RetryBudget) return Button::Retry;
                return Button::Abort;
            default:
                return Button::Abort;
            }
        }
        return Button::Ok;
    }
    RewriteAnswer askRewrite(const QString&) override { return RewriteAnswer::YesAll; }
    QString askBlockList() override { return typedList; }
    BlockInfoTexts askBlockInfo(const QString&) override { return {}; }
    void setStatus(const QString&) override {}
    void setProgressRange(int, int) override {}
    void setProgressValue(int) override {}
    void setBusy(bool) override {}

private:
    FuzzedDataProvider& in_;
    int retries_ = 0;
};

// The line between the phone and the tool's port: hands each request to the phone and spoils,
// chunks and delays what comes back as the input says.
class Line {
public:
    Line(FuzzedDataProvider& in, FakePort& port, x45sim::SimPhone& phone, bool noise)
        : in_(in), port_(port), phone_(phone), noise_(noise) {
        port_.onWrite = [this](const QByteArray& written) { onWrite(written); };
    }

    // Set once a byte inside a reply without any check (the boot answers, the session messages)
    // was changed or pushed in: no receiver can see that, so the identity is not judged.
    bool blind = false;
    // The start sequence's stop request: pressed when the phone has not answered ScanTries scans.
    x45::StopRequest* scanStop = nullptr;

    // Called at the end of an operation: its last wait counts too.
    void checkLastWait() const {
        fuzz::require(nowMs() - lastWrite_ <= LongestWaitMs,
                      "a wait ended within its bound");
    }

private:
    enum Kind { Pass, Drop, Corrupt, Cut, Extra, Duplicate, Insert, Late, Interim, KindCount };

    void onWrite(const QByteArray& written) {
        checkLastWait();
        lastWrite_ = nowMs();
        traceLine("tool ->", written, lastWrite_);
        if (written.size() == 1 && quint8(written[0]) == proto::ScanByte && ++scans_ > ScanTries)
            if (scanStop) scanStop->request(); // the person presses "Stop"
        if (noise_) {
            const int replies = in_.ConsumeIntegralInRange(0, 2);
            for (int i = 0; i < replies; ++i) {
                const int len = in_.ConsumeIntegralInRange(0, 40);
                const std::string bytes = in_.ConsumeBytesAsString(std::size_t(len));
                chunked(QByteArray(bytes.data(), qsizetype(bytes.size())),
                        in_.ConsumeIntegralInRange(0, 2 * LateMs));
            }
            return;
        }
        int at = 0;
        for (const x45sim::Emission& e : phone_.receive(written, port_.baudRate())) {
            at += int(e.delay.count());
            spoil(e.bytes, at);
        }
    }

    // Block-protocol replies carry a header check and a trailer; the others carry nothing that a
    // changed byte would break.
    static bool checked(const QByteArray& reply) {
        return !reply.isEmpty() && quint8(reply[0]) == proto::BlockCmd;
    }

    // Noise bytes never hold the block protocol's command byte: a forged reply is a lie no
    // protocol can see through, and is not what this target is after.
    QByteArray noiseBytes() {
        const int n = in_.ConsumeIntegralInRange(1, 8);
        QByteArray out;
        for (int i = 0; i < n; ++i) {
            auto b = in_.ConsumeIntegral<quint8>();
            out.append(char(b == proto::BlockCmd ? b + 1 : b));
        }
        return out;
    }

    void spoil(QByteArray bytes, int at) {
        switch (in_.ConsumeIntegralInRange<int>(0, KindCount - 1)) {
        case Drop:
            return;
        case Corrupt: {
            // One byte: the header check or the trailer always shows it.
            const int pos = in_.ConsumeIntegralInRange<int>(0, int(bytes.size()) - 1);
            if (!bytes.isEmpty())
                bytes[pos] = char(bytes[pos] ^ in_.ConsumeIntegralInRange(1, 255));
            blind = blind || !checked(bytes);
            break;
        }
        case Cut:
            bytes.truncate(in_.ConsumeIntegralInRange<int>(0, std::max(0, int(bytes.size()) - 1)));
            break;
        case Extra:
            bytes.append(noiseBytes());
            break;
        case Duplicate:
            chunked(bytes, at);
            at += in_.ConsumeIntegralInRange(0, 2 * LateMs);
            break;
        case Insert:
            blind = blind || !checked(bytes);
            bytes.insert(in_.ConsumeIntegralInRange<int>(0, int(bytes.size())), noiseBytes());
            break;
        case Late:
            at += in_.ConsumeIntegralInRange(LateFirstMs, 2 * LateMs);
            break;
        case Interim: {
            QByteArray interims;
            const int n = in_.ConsumeIntegralInRange(1, 3);
            for (int i = 0; i < n; ++i)
                interims.append(Link::blockFrame(proto::Interim, {}));
            bytes.prepend(interims);
            break;
        }
        default:
            break;
        }
        chunked(bytes, at);
    }

    // Delivers bytes in up to four chunks, each after its own pause (the first one's is the
    // phone's latency).
    void chunked(const QByteArray& bytes, int at) {
        const int chunks = in_.ConsumeIntegralInRange(1, 4);
        qsizetype from = 0;
        for (int i = 0; i < chunks && from < bytes.size(); ++i) {
            const qsizetype n = i == chunks - 1
                                    ? bytes.size() - from
                                    : in_.ConsumeIntegralInRange<qsizetype>(1, bytes.size() - from);
            at += in_.ConsumeIntegralInRange(0, i == 0 ? 300 : 1500);
            traceLine("<- line", bytes.mid(from, n), nowMs() + at);
            port_.deliver(bytes.mid(from, n), at);
            from += n;
        }
    }

    FuzzedDataProvider& in_;
    FakePort& port_;
    x45sim::SimPhone& phone_;
    bool noise_;
    qint64 lastWrite_ = nowMs();
    int scans_ = 0;
};

} // namespace x45::fuzzlink
