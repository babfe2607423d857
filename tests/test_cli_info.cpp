// x45eep-cli info end to end: the program against the x45sim program over a pseudo-terminal, and
// against a line where no phone answers (time bound, Ctrl-C).

#include <QtGlobal>

// Pseudo-terminals and signals: POSIX systems only.
#ifdef Q_OS_UNIX

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun runCli(const QStringList& args, int timeoutMs = 20000) {
    QProcess p;
    p.start(QStringLiteral(X45CLI_PATH), args);
    CliRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// The simulated phone program; its first output line is the terminal to open.
class SimProgram {
public:
    explicit SimProgram(const QStringList& args) {
        proc_.start(QStringLiteral(X45SIM_PATH), args);
        if (proc_.waitForStarted(5000))
            while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
            }
        path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
    }
    ~SimProgram() {
        proc_.terminate();
        if (!proc_.waitForFinished(3000)) proc_.kill();
        proc_.waitForFinished();
    }
    [[nodiscard]] const QString& path() const { return path_; }
    // The phone's end of the line goes away at once, as when the cable is pulled.
    void pullCable() {
        proc_.kill();
        proc_.waitForFinished();
    }
    // Ends the program; returns its exit code and stderr.
    int finish(QString* err) {
        proc_.terminate();
        proc_.waitForFinished(5000);
        *err = QString::fromLocal8Bit(proc_.readAllStandardError());
        return proc_.exitCode();
    }

private:
    QProcess proc_;
    QString path_;
};

// A pseudo-terminal with nobody behind it: the scan is never answered.
class SilentLine {
public:
    SilentLine() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            path_ = QString::fromLocal8Bit(::ptsname(master_));
    }
    ~SilentLine() {
        if (master_ >= 0) ::close(master_);
    }
    [[nodiscard]] const QString& path() const { return path_; }

private:
    int master_ = -1;
    QString path_;
};

} // namespace

TEST(CliInfo, IdentifiesTheSimulatedPhoneOverAPseudoTerminal) {
    SimProgram sim({"--strict", "--hwid", "0x8001", "--model", "C45", "--sw", "0x25", "--lang",
                    "lg3", "--imei", "350000111122223", "--eelite-size", "4096"});
    ASSERT_FALSE(sim.path().isEmpty());
    const CliRun r = runCli({"info", "--port", sim.path(), "--wait", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 11) << r.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Phone model: C45"));
    EXPECT_EQ(lines[1], QStringLiteral("Mobile SW ver: 25"));
    EXPECT_EQ(lines[2], QStringLiteral("Hardware ver: 32769"));
    EXPECT_EQ(lines[3], QStringLiteral("Lang Group: lg3"));
    EXPECT_EQ(lines[4], QStringLiteral("IMEI: 350000111122223"));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("EEFULL free in buffer.: ")));
    EXPECT_EQ(lines[9], QStringLiteral("EELITE free at all.: 4096"));
    EXPECT_TRUE(r.err.trimmed().isEmpty()) << r.err.toStdString();

    // The session was ended on the phone: a second run boots it again from the scan.
    const CliRun again = runCli({"info", "--port", sim.path(), "--wait", "10"});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, r.out);
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0)
        << "the phone saw malformed requests: " << simErr.toStdString();
}

TEST(CliInfo, NoPhoneWithinTheWaitStopsWithStatusOne) {
    SilentLine line;
    ASSERT_FALSE(line.path().isEmpty());
    QElapsedTimer t;
    t.start();
    const CliRun r = runCli({"info", "--port", line.path(), "--wait", "0.5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Stopped."))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

TEST(CliInfo, InterruptStopsTheScan) {
    SilentLine line;
    ASSERT_FALSE(line.path().isEmpty());
    QProcess p;
    p.start(QStringLiteral(X45CLI_PATH), {"info", "--port", line.path()});
    ASSERT_TRUE(p.waitForStarted());
    p.waitForFinished(600); // let it open the port and scan
    ASSERT_EQ(p.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(
        QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("Stopped.")));
}

TEST(CliInfo, UsageAndPortErrors) {
    EXPECT_EQ(runCli({"info"}).exitCode, 2) << "--port is required";
    EXPECT_EQ(runCli({"info", "--port", "/dev/null", "--wait", "-3"}).exitCode, 2);
    EXPECT_EQ(runCli({"info", "--port", "/dev/null", "--bogus"}).exitCode, 2);
    EXPECT_EQ(runCli({"info", "--port", "/dev/null", "extra"}).exitCode, 2);
    EXPECT_EQ(runCli({"nonsense"}).exitCode, 2);
    const CliRun help = runCli({"info", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("EELITE free for deleted.")));

    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("ttyNOPE"));
    const CliRun r = runCli({"info", "--port", missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(missing)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("cannot open"))) << r.err.toStdString();
}

TEST(CliInfo, CablePulledDuringTheStartEndsWithAMessage) {
    SimProgram sim({"--fault", "noreply:cmd=0x02"}); // the readiness check goes unanswered
    ASSERT_FALSE(sim.path().isEmpty());
    QProcess p;
    p.start(QStringLiteral(X45CLI_PATH), {"info", "--port", sim.path(), "--wait", "10"});
    ASSERT_TRUE(p.waitForStarted());
    p.waitForFinished(800); // booted, now asking for readiness
    ASSERT_EQ(p.state(), QProcess::Running);
    QElapsedTimer t;
    t.start();
    sim.pullCable();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_LT(t.elapsed(), 1500) << "the lost line ends the wait at once";
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("was lost"))) << err.toStdString();
    EXPECT_TRUE(err.contains(sim.path())) << err.toStdString();
}

#endif // Q_OS_UNIX
