#pragma once
// What the benchmarks share: x45sim on a pseudo-terminal with its statistics, x45eep-cli run
// against it, and the figures of one run.

#include <QFile>
#include <QProcess>
#include <QElapsedTimer>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <vector>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>
#else
// CPU figures are taken with getrusage; elsewhere they read 0.
struct rusage {
    struct {
        long tv_sec = 0, tv_usec = 0;
    } ru_utime, ru_stime;
};
constexpr int RUSAGE_SELF = 0, RUSAGE_CHILDREN = -1;
inline int getrusage(int, rusage*) {
    return 0;
}
inline int getloadavg(double*, int) {
    return -1;
}
#endif

namespace bench {

inline double cpuSeconds(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

inline double statValue(const QByteArray& stats, const char* key) {
    for (const QByteArray& line : stats.split('\n'))
        if (line.startsWith(key)) return line.mid(qstrlen(key)).trimmed().toDouble();
    return -1;
}

struct Run {
    bool ok = false;
    double runMs = 0;     // wall time of the tool's run
    double sessionMs = 0; // the service session as the simulator saw it: first to last reply
    double idleMs = 0;    // idle gaps as the simulator saw them
    double medianMs = 0;
    double p99Ms = 0;
    double cpuMs = 0;
    double simLagMs = 0; // how late the simulator itself put replies out (not idle)
    qint64 requests = 0;
    int faults = 0; // faults the simulator committed
    // In-process only: the gaps up to the tool's write, and the tool's turnaround.
    std::vector<qint64> toolGapNs;
    std::vector<qint64> turnaroundNs;

    [[nodiscard]] double idleShare() const { return 100.0 * idleMs / sessionMs; }
    [[nodiscard]] double cpuShare() const { return 100.0 * cpuMs / runMs; }
};

// Starts x45sim and returns its terminal's path (empty when it did not start).
// Faults and other options for the simulator of the next runs.
inline QStringList extraSimArgs;

inline QString startSim(QProcess& sim, const QString& eeprom, const QString& dir, bool pace) {
    QStringList args = {"--stats", dir + "/run.stats", "--gaps",  dir + "/run.gaps", "--eeprom",
                        eeprom,    "--eelite-size",    "2000000", "--eefull-size",   "2000000"};
    if (pace) args.prepend(QStringLiteral("--pace"));
    args << extraSimArgs;
    // A run whose simulator fails must not be read with the figures of the run before.
    QFile::remove(dir + "/run.stats");
    QFile::remove(dir + "/run.gaps");
    sim.start(QStringLiteral(X45SIM_PATH), args);
    if (!sim.waitForStarted(5000)) return {};
    while (!sim.canReadLine() && sim.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

// Ends x45sim and reads its figures into r.
inline bool finishSim(QProcess& sim, const QString& dir, Run& r) {
    sim.terminate();
    sim.waitForFinished(10000);
    QFile s(dir + "/run.stats");
    if (!s.open(QIODevice::ReadOnly)) return false;
    const QByteArray stats = s.readAll();
    r.sessionMs = statValue(stats, "session ms:");
    r.idleMs = statValue(stats, "idle ms total:");
    r.medianMs = statValue(stats, "idle ms median:");
    r.p99Ms = statValue(stats, "idle ms p99:");
    r.requests = qint64(statValue(stats, "requests:"));
    r.faults = std::max(0, int(statValue(stats, "faults struck:")));
    r.simLagMs = std::max(0.0, statValue(stats, "simulator lag ms total:"));
    return r.idleMs >= 0 && r.sessionMs > 0;
}

inline Run runCli(const QString& eeprom, const QString& dir, const QStringList& cliArgs, bool pace) {
    Run r;
    QProcess sim;
    const QString pty = startSim(sim, eeprom, dir, pace);
    if (pty.isEmpty()) return r;
    QStringList args = cliArgs;
    args.replaceInStrings(QStringLiteral("@PTY"), pty);
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer wall;
    wall.start();
    QProcess cli;
    cli.start(QStringLiteral(X45CLI_PATH), args);
    const bool finished = cli.waitForFinished(15 * 60 * 1000);
    r.runMs = double(wall.nsecsElapsed()) / 1e6;
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after); // only the tool was reaped in between
    r.cpuMs = (cpuSeconds(after) - cpuSeconds(before)) * 1000;
    const bool good = finished && cli.exitCode() == 0;
    if (!good) {
        std::fprintf(stderr, "x45eep-cli failed:\n%s\n", cli.readAllStandardError().constData());
        cli.kill();
    }
    r.ok = finishSim(sim, dir, r) && good;
    return r;
}

} // namespace bench
