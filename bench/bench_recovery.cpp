// What faults on the line cost a read of a phone shaped like a real one: x45eep-cli read against
// x45sim --pace at 115200 baud holding resources/demo.eep (220 blocks spread thinly over 0..4999,
// EEfull from 5000; about 6,000 requests). For each fault kind at 1% and at 0.1% of block
// replies, and for lost plus doubled replies together: the run's time, the requests, the faults
// the simulator committed, the time and requests each fault cost beyond the clean run, and
// whether the dump holds exactly the phone's blocks.
//
// usage: bench_recovery [KIND...]   (default: every kind; "clean" alone runs the clean read only)

#include "files/eepfile.h"
#include "simrun.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstring>

using namespace bench;

namespace {

x45::BlockList readEep(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const x45::Result<x45::EepContents> eep = x45::parseEep(file.readAll(), path);
    return eep ? eep->blocks : x45::BlockList();
}

// What "Load all" reads of the phone: the numbers from 0 up, ascending.
x45::BlockList readable(x45::BlockList blocks) {
    blocks.removeIf([](const x45::EEPBlock& b) { return b.BlockId < 0; });
    std::sort(blocks.begin(), blocks.end(), [](const x45::EEPBlock& a, const x45::EEPBlock& b) {
        return a.BlockId < b.BlockId;
    });
    return blocks;
}

struct Case {
    const char* name;
    QStringList faults; // x45sim --fault texts; %1 is the probability
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    const QString phone = QStringLiteral(X45_SOURCE_DIR "/resources/demo.eep");
    const x45::BlockList expected = readable(readEep(phone));
    const QString out = dir + QStringLiteral("/out.eep");
    const QStringList readArgs = {"read",       "--port",  "@PTY", "--wait",    "10", "--out",
                                  out,          "--on-error", "retry", "--retries",
                                  "1000"};
    const QString block = QStringLiteral("cmd=0x14,p=%1");
    const Case cases[] = {
        {"noreply", {"noreply:" + block}},       {"badheader", {"badheader:" + block}},
        {"badtrailer", {"badtrailer:" + block}}, {"wrongsub", {"wrongsub:" + block}},
        {"cut", {"cut:" + block}},               {"extra", {"extra:" + block}},
        {"delay", {"delay:" + block}},           {"late", {"late:" + block}},
        {"dup", {"dup:" + block}},               {"trickle", {"trickle:" + block}},
        // A stray "no such block" only where a block was announced.
        {"marker", {"marker:cmd=0x14,sub=0x04,p=%1", "marker:cmd=0x14,sub=0x14,p=%1"}},
        {"noreply+dup", {"noreply:" + block, "dup:" + block}},
    };
    QStringList wanted;
    for (int i = 1; i < argc; ++i)
        wanted << QString::fromLocal8Bit(argv[i]);

    const auto run = [&](const QStringList& faults, double p) {
        extraSimArgs = {"--seed", "7"};
        for (const QString& f : faults)
            extraSimArgs << "--fault" << f.arg(p);
        QFile::remove(out);
        Run r = runCli(phone, dir, readArgs, true);
        const bool exact = r.ok && readEep(out) == expected;
        return std::pair{r, exact};
    };

    std::printf("demo phone: %lld blocks to read, 115200 baud, paced; --on-error retry\n",
                static_cast<long long>(expected.size()));
    // The clean time is the fastest of three runs: the machine's own hiccups only add.
    auto [clean, cleanExact] = run({}, 0);
    for (int i = 0; i < 2; ++i)
        if (const auto [again, exact] = run({}, 0); again.ok && again.runMs < clean.runMs)
            clean = again;
    std::printf("%-12s %6s %9s %9s %7s %12s %14s  %s\n", "fault", "rate", "time s", "requests",
                "faults", "ms/fault", "requests/fault", "dump");
    std::printf("%-12s %6s %9.1f %9lld %7d %12s %14s  %s\n", "clean", "-", clean.runMs / 1000,
                static_cast<long long>(clean.requests), clean.faults, "-", "-",
                cleanExact ? "exact" : "NOT EXACT");
    std::fflush(stdout);
    bool ok = cleanExact;
    if (wanted == QStringList{QStringLiteral("clean")}) return ok ? 0 : 1;
    for (const Case& c : cases) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(c.name))) continue;
        for (const double p : {0.01, 0.001}) {
            const auto [r, exact] = run(c.faults, p);
            const int faults = std::max(r.faults, 1);
            std::printf("%-12s %5.1f%% %9.1f %9lld %7d %12.0f %14.1f  %s\n", c.name, p * 100,
                        r.runMs / 1000, static_cast<long long>(r.requests), r.faults,
                        (r.runMs - clean.runMs) / faults,
                        double(r.requests - clean.requests) / faults,
                        exact ? "exact" : (r.ok ? "NOT EXACT" : "FAILED"));
            std::fflush(stdout);
            ok = ok && exact;
        }
    }
    return ok ? 0 : 1;
}
