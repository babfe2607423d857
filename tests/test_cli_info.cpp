// x45eep-cli info end to end: the program against the x45sim program over a pseudo-terminal, and
// against a line where no phone answers (time bound, Ctrl-C).

#include <QtGlobal>

// Pseudo-terminals and signals: POSIX systems only.
#ifdef Q_OS_UNIX

#include "cliprocess.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace x45::test;

TEST(CliInfo, IdentifiesTheSimulatedPhoneOverAPseudoTerminal) {
    SimProgram sim({"--strict", "--hwid", "0x8001", "--model", "C45", "--sw", "0x25", "--lang",
                    "lg3", "--imei", "350000111122223", "--eelite-size", "4096"});
    ASSERT_FALSE(sim.path().isEmpty());
    const CliRun r = runCli({"info", "--port", sim.path(), "--wait", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 12) << r.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Phone model: C45"));
    EXPECT_EQ(lines[1], QStringLiteral("Mobile SW ver: 25"));
    EXPECT_EQ(lines[2], QStringLiteral("Hardware ver: 32769"));
    EXPECT_EQ(lines[3], QStringLiteral("Lang Group: lg3"));
    EXPECT_EQ(lines[4], QStringLiteral("IMEI: 350000111122223"));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("EEFULL free in buffer.: ")));
    EXPECT_EQ(lines[9], QStringLiteral("EELITE free at all.: 4096"));
    // A pseudo-terminal refuses the low-latency request; the run goes on without a word.
    EXPECT_EQ(lines[11], QStringLiteral("Low latency: not supported by the port"));
    EXPECT_TRUE(r.err.trimmed().isEmpty()) << r.err.toStdString();

    // The session was ended on the phone: a second run boots it again from the scan; with
    // --json it gives the same values under the documented keys.
    const CliRun again = runCli({"info", "--port", sim.path(), "--wait", "10", "--json"});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(again.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << again.out.toStdString();
    EXPECT_EQ(o.value("model").toString(), QStringLiteral("C45"));
    EXPECT_EQ(o.value("swVersion").toInt(), 25);
    EXPECT_EQ(o.value("hardwareId").toInt(), 32769);
    EXPECT_EQ(o.value("langGroup").toString(), QStringLiteral("lg3"));
    EXPECT_EQ(o.value("imei").toString(), QStringLiteral("350000111122223"));
    EXPECT_EQ(o.value("eelite").toObject().value("freeAtAll").toInt(), 4096);
    for (const char* area : {"eefull", "eelite"})
        for (const char* key : {"freeInBuffer", "freeAtAll", "freeForDeleted"})
            EXPECT_TRUE(o.value(area).toObject().value(key).isDouble()) << area << "." << key;
    EXPECT_TRUE(o.value("lowLatency").isNull());
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0)
        << "the phone saw malformed requests: " << simErr.toStdString();
}

TEST(CliInfo, NoPhoneWithinTheWaitOrCtrlCStopsWithStatusOne) {
    SilentLine line;
    ASSERT_FALSE(line.path().isEmpty());
    QElapsedTimer t;
    t.start();
    const CliRun r = runCli({"info", "--port", line.path(), "--wait", "0.5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Stopped."))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    // Without --wait only Ctrl-C stops the scan.
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
    sim.kill();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_LT(t.elapsed(), 1500) << "the lost line ends the wait at once";
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("was lost"))) << err.toStdString();
    EXPECT_TRUE(err.contains(sim.path())) << err.toStdString();
}

#endif // Q_OS_UNIX
