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
// Time is virtual (the in-process port's virtual clock): a run takes microseconds however long
// the time-outs are.
//
// X45_FUZZ_LINK_ORACLE=off only reports broken result properties (once each, on stderr) instead
// of stopping, so crashes and hangs can be hunted while a known false success is open. Inputs of
// mended findings stay in fuzz/seeds/link/ and run first in every session.

#include "fuzz_common.h"
#include "fuzz_link_line.h"

#include "link/link.h"
#include "link/protocol.h"
#include "link/session.h"
#include "simphone.h"
#include "blocks/blocklist.h"
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
using namespace x45::fuzzlink;

namespace {

bool oracleOn = true;

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


// Block numbers the runs use: few and small, so a run reads every number in a handful of requests.
constexpr int LiteNumbers = 7;                // 0..6
constexpr int FullFirst = EEfullFirst; // 5000..5003
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
        (void)putBlock(out, makeBlock(in, pickNumber(in), seed + i));
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
    port.setVirtualClock(&virtualTime);
    Link link(port);
    Answers ui(in);
    Line line(in, port, phone, noise);
    Session session(link, ui);
    line.scanStop = &session.stopRequest();
    PhoneTransfer transfer(link, ui);

    Op op = Op(in.ConsumeIntegralInRange(0, OpCount - 1));
    if (op == StartOp) {
        const Outcome outcome = session.start(port.portName());
        line.checkLastWait();
        if (outcome != Outcome::Done || noise) return;
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
            const RunResult r = transfer.loadAll(list);
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
            const RunResult r = transfer.loadCustom(list);
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
            const RunResult r = transfer.saveAll(asked);
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
                transfer.saveSelected(asked, [&](int row) { return selected.value(row); });
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
                transfer.deleteDirectly(list, rows, [&](const QVector<qint16>& ids) {
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
                         int(shown.end), shown.done, shown.skippedCount(), shown.notFound);
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
    new QCoreApplication(*argc, *argv);
    // The identity a session must find: a start on a clean line.
    const uint8_t none = 0;
    FuzzedDataProvider in(&none, 0);
    x45sim::SimPhone phone;
    FakePort port;
    port.setVirtualClock(&virtualTime);
    Link link(port);
    Answers ui(in);
    Line line(in, port, phone, false);
    Session session(link, ui);
    line.scanStop = &session.stopRequest();
    fuzz::require(session.start(port.portName()) == Outcome::Done,
                  "a clean line opens a session");
    referenceIdentity = session.identity;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    currentData = data;
    currentSize = size;
    FuzzedDataProvider in(data, size);
    runOnce(in);
    return 0;
}
