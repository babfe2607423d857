#pragma once
// Faults the simulated phone can be told to commit, aimed at one kind of request.

#include "base/result.h"
#include "emission.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <random>
#include <vector>

namespace x45sim {

enum class FaultKind {
    NoReply,    // the reply is lost on the line; the phone did carry the request out, except
                // the speed switch, which only follows a reply that went out
    BadHeader,  // header check byte of the reply is wrong
    BadTrailer, // last byte of the reply is wrong
    WrongSub,   // SubCmd changed (trailer kept consistent, so only the SubCmd is off)
    Cut,        // only the first `param` bytes of the reply are sent
    Extra,      // `param` bytes follow the reply
    Trickle,    // the reply comes one byte at a time, `param` ms apart
    Delay,      // the reply comes `param` ms late
    ScanNoise,  // `param` noise bytes before the scan answer 0xA0
    Interim,    // `param` interim replies (SubCmd 0x50) before the reply, which follows 20 ms later
    Late,       // the reply comes `param` ms late, past the tool's time-out; the phone is busy
                // until then, so later replies queue behind it
    Dup,        // the same reply again `param` ms after the first
    Marker,     // a well-formed "no such block" reply (SubCmd 0x32) in place of the real one
    Bitrot,     // a block closed by WBlockOKQuery is stored with one byte changed, and the close
                // is acknowledged as usual
};

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int cmd = -1;  // request Cmd to aim at; -1 = any
    int sub = -1;  // request SubCmd (area bit included); -1 = any
    int skip = 0;  // matching requests let through before the fault starts
    int count = 0; // matching requests hit after that; 0 = no limit
    double probability = 1.0;
    int param = -1;  // bytes or milliseconds, see FaultKind; -1 = the kind's default
    int matched = 0; // matching requests seen so far
    int hits = 0;    // times the fault struck
};

[[nodiscard]] QString faultKindName(FaultKind kind);

// "cut:cmd=0x14,sub=0x05,skip=2,n=3,p=0.5,k=4": kind, then optional keys. k (also ms) is the
// parameter. A failure (kind BadInput) says what is wrong with a malformed text.
[[nodiscard]] x45::Result<Fault> parseFault(const QString& text);
// The former form, until the simulator's tests take the Result: nullopt with *error set.
[[nodiscard]] inline std::optional<Fault> parseFault(const QString& text, QString* error) {
    x45::Result<Fault> fault = parseFault(text);
    if (fault) return fault.value();
    if (error) *error = fault.message();
    return std::nullopt;
}

class FaultPlan {
public:
    void add(const Fault& fault) { faults_.push_back(fault); }
    void clear() { faults_.clear(); }
    void setSeed(quint32 seed) { rng_.seed(seed); }
    [[nodiscard]] const std::vector<Fault>& list() const { return faults_; }
    [[nodiscard]] bool empty() const { return faults_.empty(); }

    // Turns a clean reply to the request (cmd, sub) into what goes on the line. Returns false
    // when the reply is lost (nothing of it is sent; interim replies may still have been).
    [[nodiscard]] bool apply(int cmd, int sub, const QByteArray& reply, Emissions& out);
    // True when a Bitrot fault strikes the close (cmd, sub) of a block write.
    [[nodiscard]] bool rotsStore(int cmd, int sub);
    // Noise bytes to send before a scan answer (empty for none).
    [[nodiscard]] QByteArray scanNoise();

private:
    // What the faults that strike one reply do to it.
    struct Spoiling {
        QByteArray bytes;
        std::chrono::milliseconds delay{0};
        int trickleMs = -1;
        int interims = 0;
        int dupAfter = -1;
        bool lost = false;
    };
    [[nodiscard]] bool strikes(Fault& f, int cmd, int sub);
    static void spoil(const Fault& f, Spoiling& s);
    static void send(const Spoiling& s, Emissions& out);

    std::vector<Fault> faults_;
    std::mt19937 rng_{1};
};

} // namespace x45sim
