// Line efficiency of "Load all" and "Save all": x45eep-cli against x45sim --pace at 115200 baud
// with a phone of about 400 blocks. Prints, per operation and run, the share of the service
// session in which the line sat idle waiting for the tool, the median idle gap, and the tool's CPU
// use, then the median of the runs. Scheduling noise on a small machine moves single runs by a
// fraction of a percent either way; a quiet machine (load average under 1) is assumed.
//
// The same two operations are then run in-process over a QtSerialPort on the terminal. There the
// tool's writes are timestamped on the simulator's clock, which splits each gap: up to the write
// is the tool's (what a real serial line would show, where the first byte leaves as the driver
// gets it); after it comes the pseudo-terminal's own hand-over to the simulator, a kernel worker
// that a UART does not have. Also printed: the tool's turnaround, from the receive event that
// completed a reply to the write of the next request.
//
// usage: bench_transfer [BLOCKS] [SEED] [RUNS]

#include "files/eepfile.h"
#include "link/qtserialport.h"
#include "link/session.h"
#include "transfer/transfer.h"
#include "simrun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
using namespace bench;

namespace {

x45::BlockList phoneBlocks(int count, quint32 seed) {
    std::mt19937 rng(seed);
    x45::BlockList out;
    QList<int> used;
    // About a third in EElite up to 2000, the rest in EEfull up to 5400.
    while (out.size() < count) {
        const bool full = rng() % 3 != 0;
        const int id = out.isEmpty()     ? 2000
                       : out.size() == 1 ? 5400
                       : full            ? 5000 + int(rng() % 400)
                                         : int(rng() % 2000);
        if (used.contains(id)) continue;
        used << id;
        QByteArray data(1 + int(rng() % 500), Qt::Uninitialized);
        for (char& c : data)
            c = char(rng() & 0xFF);
        out.append({qint16(id), data, quint8(rng() & 0xFF)});
    }
    std::sort(out.begin(), out.end(),
              [](const x45::EEPBlock& a, const x45::EEPBlock& b) { return a.BlockId < b.BlockId; });
    return out;
}

double percentileMs(std::vector<qint64> v, double pct) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank = std::min(v.size() - 1, size_t(std::ceil(pct / 100.0 * double(v.size())) - 1));
    return double(v[rank]) / 1e6;
}

double sumMs(const std::vector<qint64>& v) {
    double sum = 0;
    for (const qint64 x : v)
        sum += double(x);
    return sum / 1e6;
}

// Answers nothing is asked of in a clean run; stops on the first failure dialog.
class BenchUi : public x45::Interaction {
public:
    x45::Button message(const QString& text, const QString&, x45::Buttons, x45::Icon,
                        x45::Button) override {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return x45::Button::Abort;
    }
    x45::RewriteAnswer askRewrite(const QString&) override { return x45::RewriteAnswer::Cancel; }
    QString askBlockList() override { return {}; }
    x45::BlockInfoTexts askBlockInfo(const QString&) override { return {}; }
    void setStatus(const QString&) override {}
    void setProgressRange(int, int) override {}
    void setProgressValue(int) override {}
    void setBusy(bool) override {}
};

qint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Each simulator gap (reply end E, request seen S) ends with the last write the tool made before
// S; the part from E to that write is the tool's. A write before E was on its way already.
std::vector<qint64> toolGaps(const QString& gapsFile, const std::vector<qint64>& writes) {
    std::vector<qint64> out;
    QFile f(gapsFile);
    if (!f.open(QIODevice::ReadOnly)) return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 2) continue;
        const qint64 end = parts[0].toLongLong(), seen = parts[1].toLongLong();
        const auto after = std::upper_bound(writes.begin(), writes.end(), seen);
        if (after == writes.begin()) continue;
        out.push_back(std::max<qint64>(0, *std::prev(after) - end));
    }
    return out;
}

Run runInProcess(const QString& eeprom, const QString& dir, bool write,
                 const x45::BlockList& blocks) {
    Run r;
    QProcess sim;
    const QString pty = startSim(sim, eeprom, dir, true);
    if (pty.isEmpty()) return r;
    std::vector<qint64> writes;
    bool good = false;
    {
        x45::QtSerialPort port;
        x45::Link link(port);
        BenchUi ui;
        x45::Session session(link, ui);
        QObject::connect(&link, &x45::Link::frameSent,
                         [&](const QByteArray&) { writes.push_back(steadyNs()); });
        if (session.start(pty) != x45::Outcome::Done) return r;
        qint64 lastRx = -1;
        QObject::connect(&port, &x45::SerialPort::received, [&] { lastRx = steadyNs(); });
        QObject::connect(&link, &x45::Link::frameSent, [&](const QByteArray&) {
            if (lastRx >= 0) r.turnaroundNs.push_back(writes.back() - lastRx);
            lastRx = -1;
        });
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        QElapsedTimer wall;
        wall.start();
        x45::PhoneTransfer transfer(session);
        x45::BlockList list;
        const x45::RunResult result = write ? transfer.saveAll(blocks) : transfer.loadAll(list);
        r.runMs = double(wall.nsecsElapsed()) / 1e6;
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        r.cpuMs = (cpuSeconds(after) - cpuSeconds(before)) * 1000;
        good = result.clean() && (write || list == blocks);
        session.end();
    }
    r.ok = finishSim(sim, dir, r) && good;
    r.toolGapNs = toolGaps(dir + "/run.gaps", writes);
    return r;
}

// The platform's own floor for one exchange: a bare responder thread, blocked until a byte comes
// over a pseudo-terminal and answering at once, while this end polls for the answer as the
// simulator does. Both of the terminal's hand-overs and one wake-up are in it, as in every gap the
// simulator counts; what the tool's gaps exceed it by is the tool's own.
struct Floor {
    double medianUs = 0, meanUs = 0;
};

constexpr int FloorExchanges = 4000;

Floor platformFloor(int exchanges) {
    Floor f;
#ifdef Q_OS_UNIX
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return f;
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0) return f;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    std::thread responder([slave] {
        char b[64];
        for (;;) {
            pollfd p{slave, POLLIN, 0};
            if (::poll(&p, 1, -1) <= 0) return;
            const ssize_t n = ::read(slave, b, sizeof b);
            if (n <= 0 || b[n - 1] == 'q' || ::write(slave, b, 1) != 1) return;
        }
    });
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::vector<qint64> rtt;
    char b[64];
    for (int i = 0; i < exchanges; ++i) {
        // About a short reply's time on the wire, in which the responder falls asleep.
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
        const qint64 sent = steadyNs();
        if (::write(master, "x", 1) != 1) break;
        pollfd p{master, POLLIN, 0};
        while (::poll(&p, 1, 0) <= 0 && steadyNs() - sent < 1'000'000'000)
            std::this_thread::yield();
        if (::read(master, b, sizeof b) <= 0) break;
        rtt.push_back(steadyNs() - sent);
    }
    [[maybe_unused]] const ssize_t quit = ::write(master, "q", 1);
    responder.join();
    ::close(slave);
    ::close(master);
    if (rtt.empty()) return f;
    f.medianUs = percentileMs(rtt, 50) * 1000;
    f.meanUs = sumMs(rtt) * 1000 / double(rtt.size());
#else
    Q_UNUSED(exchanges);
#endif
    return f;
}

double medianOf(const std::vector<Run>& runs, const std::function<double(const Run&)>& field) {
    std::vector<double> v;
    for (const Run& r : runs)
        v.push_back(field(r));
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void printRun(const char* name, int n, const Run& r) {
    if (!r.ok) {
        std::printf("%-9s  run %d FAILED\n", name, n);
        return;
    }
    std::printf("%-9s  run %d: session %6.0f ms  requests %5lld  idle %6.1f ms = %5.2f%%  median "
                "gap %5.3f ms  p99 %5.3f ms  tool CPU %4.0f ms = %4.2f%%  (simulator late by "
                "%.0f ms, not idle)\n",
                name, n, r.sessionMs, static_cast<long long>(r.requests), r.idleMs, r.idleShare(),
                r.medianMs, r.p99Ms, r.cpuMs, r.cpuShare(), r.simLagMs);
    if (r.toolGapNs.empty()) return;
    std::printf("           up to the tool's write: idle %6.1f ms = %5.2f%%  median gap %5.3f ms  "
                "p99 %5.3f ms;  turnaround median %5.3f ms  p99 %5.3f ms\n",
                sumMs(r.toolGapNs), 100.0 * sumMs(r.toolGapNs) / r.sessionMs,
                percentileMs(r.toolGapNs, 50), percentileMs(r.toolGapNs, 99),
                percentileMs(r.turnaroundNs, 50), percentileMs(r.turnaroundNs, 99));
}

bool printMedian(const char* name, const std::vector<Run>& runs) {
    for (const Run& r : runs)
        if (!r.ok) return false;
    std::printf("%-9s  median of %zu runs: idle %5.2f%% (goal < 3%%)  median gap %5.3f ms (goal "
                "< 1)  tool CPU %4.2f%% (goal < 5%%)\n",
                name, runs.size(), medianOf(runs, [](const Run& r) { return r.idleShare(); }),
                medianOf(runs, [](const Run& r) { return r.medianMs; }),
                medianOf(runs, [](const Run& r) { return r.cpuShare(); }));
    if (!runs.front().toolGapNs.empty())
        std::printf(
            "           up to the tool's write: idle %5.2f%% (goal < 3%%)  median gap "
            "%5.3f ms (goal < 1)\n",
            medianOf(runs, [](const Run& r) { return 100.0 * sumMs(r.toolGapNs) / r.sessionMs; }),
            medianOf(runs, [](const Run& r) { return percentileMs(r.toolGapNs, 50); }));
    return true;
}

} // namespace

// What confirming costs: --verify against plain runs. (What faults cost: bench_recovery.)
bool verifyCosts(const QString& phone, const QString& dir, const QStringList& readArgs,
                 const QStringList& writeArgs) {
    bool ok = true;
    const auto timed = [&](const char* what, QStringList args) {
        const Run r = runCli(phone, dir, args, true);
        std::printf("%-22s run %8.0f ms  requests %6lld  faults %3d\n", what, r.runMs,
                    static_cast<long long>(r.requests), r.faults);
        std::fflush(stdout);
        ok = r.ok && ok;
        return r;
    };
    const Run read = timed("read", readArgs);
    const Run readVerify = timed("read --verify", readArgs + QStringList{"--verify"});
    const Run write = timed("write --all", writeArgs);
    const Run writeVerify = timed("write --all --verify", writeArgs + QStringList{"--verify"});
    std::printf("read --verify / read = %.3f; write --verify - write = %.0f ms (a read of the "
                "written blocks is at most %.0f ms)\n",
                readVerify.runMs / read.runMs, writeVerify.runMs - write.runMs, read.runMs);
    return ok;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 400;
    const quint32 seed = argc > 2 ? quint32(std::atoi(argv[2])) : 1;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    const x45::BlockList blocks = phoneBlocks(count, seed);
    qint64 bytes = 0;
    for (const x45::EEPBlock& b : blocks)
        bytes += b.Data.size();
    const QString phone = dir + "/phone.eep";
    {
        QFile f(phone);
        if (!f.open(QIODevice::WriteOnly) || f.write(x45::serializeEep(blocks, 0x0451)) < 0)
            return 1;
    }
    std::printf("phone: %lld blocks, %lld data bytes, EElite up to 2000, EEfull up to 5400, "
                "115200 baud, paced\n",
                static_cast<long long>(blocks.size()), static_cast<long long>(bytes));
    std::printf("idle = the line waiting for the tool between a reply's end and the next request, "
                "as a share of the service session (the boot handshake's fixed waits not "
                "counted)\n");
    const QStringList readArgs = {"read", "--port", "@PTY", "--wait",
                                  "10",   "--out",  dir + "/out.eep", "--force"};
    const QStringList writeArgs = {"write", "--port", "@PTY", "--wait", "10", "--all", phone};
    bool ok = true;
    if (argc > 4 && std::strcmp(argv[4], "verify") == 0)
        return verifyCosts(phone, dir, readArgs, writeArgs) ? 0 : 1;
    // The machine's own wake-up latency drifts; the floor is taken before and after the runs.
    const Floor floorBefore = platformFloor(FloorExchanges);

    std::printf("x45eep-cli:\n");
    std::vector<Run> cliRead, cliWrite;
    for (const bool write : {false, true}) {
        std::vector<Run>& all = write ? cliWrite : cliRead;
        for (int i = 1; i <= runs; ++i) {
            all.push_back(runCli(phone, dir, write ? writeArgs : readArgs, true));
            printRun(write ? "Save all" : "Load all", i, all.back());
            std::fflush(stdout);
        }
        ok = printMedian(write ? "Save all" : "Load all", all) && ok;
    }

    // Unpaced, the simulator writes each reply at once, as a UART with a FIFO or a USB adapter
    // hands it over: the tool's CPU per exchange without a wake-up per byte.
    std::printf("unpaced (replies delivered whole), tool CPU per exchange:\n");
    for (const bool write : {false, true}) {
        const Run fast = runCli(phone, dir, write ? writeArgs : readArgs, false);
        const double perExchange = fast.requests > 0 ? 1000.0 * fast.cpuMs / fast.requests : 0;
        std::printf("%-9s  run %6.0f ms  requests %6lld  tool CPU %5.0f ms = %.1f us per "
                    "exchange\n",
                    write ? "Save all" : "Load all", fast.runMs,
                    static_cast<long long>(fast.requests), fast.cpuMs, perExchange);
        ok = fast.ok && ok;
    }

    std::printf("in-process, QtSerialPort on the terminal (CPU of the operation alone):\n");
    for (const bool write : {false, true}) {
        std::vector<Run> all;
        for (int i = 1; i <= runs; ++i) {
            all.push_back(runInProcess(phone, dir, write, blocks));
            printRun(write ? "Save all" : "Load all", i, all.back());
            std::fflush(stdout);
        }
        ok = printMedian(write ? "Save all" : "Load all", all) && ok;
    }
    const double session = medianOf(cliRead, [](const Run& r) { return r.sessionMs; });
    const auto requests = static_cast<long long>(cliRead.front().requests);
    const Floor floorAfter = platformFloor(FloorExchanges);
    for (const auto& [when, floor] : {std::pair{"before", floorBefore}, {"after", floorAfter}})
        std::printf("platform floor %-6s the runs: a bare responder, idle 1.5 ms between "
                    "requests, answers over a pseudo-terminal in median %.0f us, mean %.0f us; at "
                    "Load all's %lld requests that alone is %.2f%% of its session\n",
                    when, floor.medianUs, floor.meanUs, requests,
                    100.0 * floor.meanUs / 1000 * double(requests) / std::max(1.0, session));
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) > 0) std::printf("machine load average at the end: %.2f\n", load[0]);
    return ok ? 0 : 1;
}
