// The link, the session start and the block transfers against a phone whose replies the input
// spoils. The simulated phone holds known blocks and answers every request correctly; the input
// decides, reply by reply, what the line does to each answer (dropped, one byte corrupted, cut
// short, noise appended or inserted, sent twice, late past every time-out, interim replies in
// front) and how its bytes are chunked. In the noise mode every reply is input bytes instead and
// only crashes and hangs count.
//
// Properties:
//  - no crash and no undefined behaviour (the sanitizers), no wait without a bound;
//  - an operation that ends "Ready" read exactly the phone's blocks, or left the phone exactly as
//    asked; a session that opened knows the phone's identity; a space that was accepted is the
//    phone's.
// Time is virtual (virtualclock.h): a run takes microseconds however long the time-outs are.
//
// X45_FUZZ_LINK_ORACLE=off only reports broken result properties (once each, on stderr) instead
// of stopping, so crashes and hangs can be hunted while a known false success is open. Inputs of
// mended findings stay in fuzz/seeds/link/ and run first in every session.

#include "fakeport.h"
#include "fuzz_common.h"
#include "virtualclock.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/session.h"
#include "simphone.h"
#include "transfer/transfer.h"

#include <QCoreApplication>
#include <QSet>
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

using namespace x45;
using x45::test::FakePort;

namespace {

fuzz::VirtualClock* virtualClock = nullptr;
bool oracleOn = true;
bool trace = false; // X45_FUZZ_LINK_TRACE=1: every frame and every chunk with its virtual time

void traceLine(const char* what, const QByteArray& bytes, qint64 at) {
    if (trace)
        std::fprintf(stderr, "%8lld ms %s %s\n", static_cast<long long>(at), what,
                     bytes.toHex(' ').constData());
}

// The input being run, for keeping the first one that breaks each property.
const uint8_t* currentData = nullptr;
size_t currentSize = 0;

// A result property: stops the run (and so records the input) unless the oracle is switched off.
// Then the first input that breaks it is told on stderr and, with X45_FUZZ_LINK_FINDINGS=DIR,
// kept in DIR under the property's words.
void expect(bool condition, const char* what) {
    if (condition) return;
    if (oracleOn) fuzz::require(false, what);
    static std::set<std::string> told;
    if (!told.insert(what).second) return;
    std::fprintf(stderr, "property violated (not stopping): %s\n", what);
    if (const char* dir = std::getenv("X45_FUZZ_LINK_FINDINGS")) {
        std::string name = std::string(dir) + '/';
        for (const char* c = what; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '-';
        if (FILE* f = std::fopen(name.c_str(), "wb")) {
            std::fwrite(currentData, 1, currentSize, f);
            std::fclose(f);
        }
    }
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
    int askRewrite(const QString&) override { return RewriteYesAll; }
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
    Line(FuzzedDataProvider& in, FakePort& port, x45sim::SimPhone& phone, Answers& ui, bool noise)
        : in_(in), port_(port), phone_(phone), ui_(ui), noise_(noise) {
        port_.onWrite = [this](const QByteArray& written) { onWrite(written); };
    }

    // Set once a byte inside a reply without any check (the boot answers, the session messages)
    // was changed or pushed in: no receiver can see that, so the identity is not judged.
    bool blind = false;

    // Called at the end of an operation: its last wait counts too.
    void checkLastWait() const {
        fuzz::require(virtualClock->nowMs() - lastWrite_ <= LongestWaitMs,
                      "a wait ended within its bound");
    }

private:
    enum Kind { Pass, Drop, Corrupt, Cut, Extra, Duplicate, Insert, Late, Interim, KindCount };

    void onWrite(const QByteArray& written) {
        checkLastWait();
        lastWrite_ = virtualClock->nowMs();
        traceLine("tool ->", written, lastWrite_);
        if (written.size() == 1 && quint8(written[0]) == proto::ScanByte && ++scans_ > ScanTries)
            ui_.StopProcess = true; // the person presses "Stop"
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
            traceLine("<- line", bytes.mid(from, n), virtualClock->nowMs() + at);
            port_.deliver(bytes.mid(from, n), at);
            from += n;
        }
    }

    FuzzedDataProvider& in_;
    FakePort& port_;
    x45sim::SimPhone& phone_;
    Answers& ui_;
    bool noise_;
    qint64 lastWrite_ = virtualClock->nowMs();
    int scans_ = 0;
};

// Block numbers the runs use: few and small, so a run reads every number in a handful of requests.
constexpr int LiteNumbers = 7;                // 0..6
constexpr int FullFirst = proto::EEfullFirst; // 5000..5003
constexpr int FullNumbers = 4;

qint16 pickNumber(FuzzedDataProvider& in) {
    const int k = in.ConsumeIntegralInRange(0, LiteNumbers + FullNumbers - 1);
    return qint16(k < LiteNumbers ? k : FullFirst + k - LiteNumbers);
}

EEPBlock makeBlock(FuzzedDataProvider& in, qint16 id, int seed) {
    // Lengths around the read and write chunk sizes (20, 30) matter most.
    const int length = in.ConsumeIntegralInRange(0, 65);
    QByteArray data;
    for (int i = 0; i < length; ++i)
        data.append(char((i * 13 + seed * 7 + id) & 0xFF));
    return {id, data, quint8(in.ConsumeIntegral<quint8>())};
}

BlockList makeBlocks(FuzzedDataProvider& in, int seed) {
    BlockList out;
    const int n = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < n; ++i)
        putBlock(out, makeBlock(in, pickNumber(in), seed + i));
    return out;
}

const x45sim::SimEeprom::Stored* held(const x45sim::SimPhone& phone, int id) {
    return phone.eeprom().find(id);
}

bool holds(const x45sim::SimPhone& phone, const EEPBlock& b) {
    const auto* s = held(phone, b.BlockId);
    return s && s->data == b.Data && s->version == b.BlockVer;
}

bool sameSpace(const EEPSpace& s, const x45sim::AreaSpace& a) {
    return s.FreeInBuffer == a.freeInBuffer && s.FreeAtAll == a.freeAtAll &&
           s.FreeForDeleted == a.freeForDeleted;
}

// Every block of the phone after a write run is either what it held before or what was asked.
void expectOnlyOldOrAsked(const x45sim::SimPhone& phone, const BlockList& before,
                          const BlockList& asked, const char* what) {
    for (const EEPBlock& b : phone.blocks()) {
        const qsizetype o = findBlock(before, b.BlockId), a = findBlock(asked, b.BlockId);
        expect((o >= 0 && before[o] == b) || (a >= 0 && asked[a] == b), what);
    }
}

enum Op { StartOp, SpaceOp, LoadAllOp, LoadCustomOp, SaveAllOp, SaveSelectedOp, DeleteOp, OpCount };

PhoneIdentity referenceIdentity;

void runOnce(FuzzedDataProvider& in) {
    const bool noise = in.ConsumeIntegralInRange(0, 7) == 0;
    x45sim::SimPhone phone;
    phone.setBlocks(makeBlocks(in, 1));

    FakePort port;
    Link link(port);
    Answers ui(in);
    Line line(in, port, phone, ui, noise);
    Session session(link, ui);
    PhoneTransfer transfer(link, ui);

    Op op = Op(in.ConsumeIntegralInRange(0, OpCount - 1));
    if (op == StartOp) {
        const StartOutcome outcome = session.Start(port.portName());
        line.checkLastWait();
        if (outcome != StartOutcome::Opened || noise) return;
        if (!line.blind) {
            // The hardware id must be known; a name query that went unanswered leaves its field as
            // it was (empty in a new session), which the window shows.
            const PhoneIdentity& id = session.identity;
            const PhoneIdentity& ref = referenceIdentity;
            expect(id.PhoneHWid == ref.PhoneHWid,
                   "an opened session knows the phone's hardware id");
            expect((id.PhoneModel == ref.PhoneModel || id.PhoneModel.isEmpty()) &&
                       (id.PhoneSWVer == ref.PhoneSWVer || id.PhoneSWVer == 0) &&
                       (id.PhoneLangGroup == ref.PhoneLangGroup || id.PhoneLangGroup.isEmpty()) &&
                       (id.PhoneIMEI == ref.PhoneIMEI || id.PhoneIMEI.isEmpty()),
                   "an opened session shows the phone's identity or nothing");
        }
        op = Op(in.ConsumeIntegralInRange(1, OpCount - 1));
    } else {
        // Service mode without the boot: the phone as a started session finds it.
        QString error;
        port.open(&error);
        (void)phone.receive(QByteArray(1, char(proto::ScanByte)), x45sim::SimPhone::BootSpeed);
        QByteArray boot(1, char(proto::BootLength));
        boot.append(x45sim::serviceBootImage());
        boot.append(char(proto::BootCheck));
        (void)phone.receive(boot, x45sim::SimPhone::BootSpeed);
    }

    // Up to three operations on the same line: bytes one leaves behind meet the next.
    for (int step = 0; step < 3; ++step) {
        const BlockList before = phone.blocks();
        RunResult shown;
        switch (op) {
        case StartOp:
        case OpCount:
            break;
        case SpaceOp: {
            const bool eefull = in.ConsumeBool();
            EEPSpace space;
            if (session.EEPSpaceQuery(eefull, space) && !noise)
                expect(sameSpace(space, phone.eeprom().space(eefull)),
                       "an accepted space is the phone's");
            break;
        }
        case LoadAllOp: {
            BlockList list{{4711, "old", 1}};
            const RunResult r = transfer.LoadAll(list);
            shown = r;
            if (noise) break;
            if (!r.completed())
                expect(list.isEmpty(), "a read that did not complete keeps no block");
            for (const EEPBlock& b : list)
                expect(!r.completed() || holds(phone, b),
                       "a completed read holds only the phone's blocks");
            if (r.clean())
                expect(list == phone.blocks(), "a clean read holds every block of the phone");
            break;
        }
        case LoadCustomOp: {
            QSet<int> typed;
            const int n = in.ConsumeIntegralInRange(1, 4);
            for (int i = 0; i < n; ++i) {
                const int number = pickNumber(in);
                ui.typedList += QString::number(number) + QLatin1Char(' ');
                typed.insert(number);
            }
            BlockList list;
            const RunResult r = transfer.LoadCustom(list);
            shown = r;
            ui.typedList.clear();
            if (noise || !r.completed()) break;
            for (const EEPBlock& b : list)
                expect(holds(phone, b), "a completed custom read holds only the phone's blocks");
            if (r.clean()) {
                int present = 0;
                for (const int number : typed)
                    if (held(phone, number)) {
                        ++present;
                        expect(findBlock(list, number) >= 0,
                               "a clean custom read has every block asked");
                    }
                expect(list.size() == present, "a clean custom read has only the blocks asked");
            }
            break;
        }
        case SaveAllOp: {
            const BlockList asked = makeBlocks(in, 50 + step);
            const RunResult r = transfer.SaveAll(asked);
            shown = r;
            if (noise || !r.completed()) break;
            expectOnlyOldOrAsked(phone, before, asked,
                                 "a completed write leaves only old or asked blocks");
            if (!r.clean()) break;
            for (const EEPBlock& b : asked)
                expect(holds(phone, b), "a clean write put every block on the phone");
            for (const EEPBlock& b : phone.blocks())
                expect(isEEfullBlock(b.BlockId) || findBlock(asked, b.BlockId) >= 0,
                       "a clean write of all leaves no other EElite block");
            break;
        }
        case SaveSelectedOp: {
            const BlockList asked = makeBlocks(in, 80 + step);
            QVector<bool> selected;
            for (qsizetype i = 0; i < asked.size(); ++i)
                selected.append(in.ConsumeBool());
            const RunResult r =
                transfer.SaveSelected(asked, [&](int row) { return selected.value(row); });
            shown = r;
            if (noise || !r.completed()) break;
            BlockList chosen;
            for (qsizetype i = 0; i < asked.size(); ++i)
                if (selected[i]) chosen.append(asked[i]);
            expectOnlyOldOrAsked(phone, before, chosen,
                                 "a completed write leaves only old or asked blocks");
            if (!r.clean()) break;
            for (const EEPBlock& b : chosen)
                expect(holds(phone, b), "a clean write put every selected block on the phone");
            for (const EEPBlock& b : before)
                expect(findBlock(chosen, b.BlockId) >= 0 || holds(phone, b),
                       "a clean write leaves the blocks not selected as they were");
            break;
        }
        case DeleteOp: {
            const BlockList list = before;
            QVector<int> rows;
            for (qsizetype i = 0; i < list.size(); ++i)
                if (in.ConsumeBool()) rows.append(int(i));
            QVector<qint16> removed;
            bool told = false;
            const RunResult r =
                transfer.DeleteDirectly(list, rows, [&](const QVector<qint16>& ids) {
                    removed = ids;
                    told = true;
                });
            shown = r;
            if (noise) break;
            for (const qint16 id : removed)
                expect(!held(phone, id), "a block reported deleted is gone from the phone");
            if (!r.clean() || rows.isEmpty()) break;
            expect(told && removed.size() == rows.size(), "a clean delete reports every block");
            for (const EEPBlock& b : before)
                expect(removed.contains(b.BlockId) ? !held(phone, b.BlockId) : holds(phone, b),
                       "a clean delete removes exactly the blocks chosen");
            break;
        }
        }
        if (trace)
            std::fprintf(stderr, "op %d: end %d, %d done, %d skipped, %d not found\n", int(op),
                         int(shown.end), shown.done, shown.skipped, shown.notFound);
        line.checkLastWait();
        if (link.portLost() || in.remaining_bytes() == 0) break;
        op = Op(in.ConsumeIntegralInRange(1, OpCount - 1));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (const char* o = std::getenv("X45_FUZZ_LINK_ORACLE"); o && std::strcmp(o, "off") == 0)
        oracleOn = false;
    trace = std::getenv("X45_FUZZ_LINK_TRACE") != nullptr;
    virtualClock = new fuzz::VirtualClock;
    virtualClock->onStuck = [] {
        fuzz::require(false, "a wait ends: something is left to wake it");
    };
    QCoreApplication::setEventDispatcher(virtualClock);
    new QCoreApplication(*argc, *argv);
    // The identity a session must find: a start on a clean line.
    const uint8_t none = 0;
    FuzzedDataProvider in(&none, 0);
    x45sim::SimPhone phone;
    FakePort port;
    Link link(port);
    Answers ui(in);
    Line line(in, port, phone, ui, false);
    Session session(link, ui);
    fuzz::require(session.Start(port.portName()) == StartOutcome::Opened,
                  "a clean line opens a session");
    referenceIdentity = session.identity;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    currentData = data;
    currentSize = size;
    FuzzedDataProvider in(data, size);
    runOnce(in);
    // Objects that deleted themselves later (the single-shot timers of the port) go now: without
    // a running event loop nothing else would delete them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
