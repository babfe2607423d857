// x45eep-cli info and ports end to end: the program against the x45sim program over a
// pseudo-terminal, against a line where no phone answers (time bound, Ctrl-C), a phone that goes
// away, and ports that cannot be opened.

#include <QtGlobal>

// Pseudo-terminals and signals: POSIX systems only.
#ifdef Q_OS_UNIX

#include "cliprocess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace x45::test;

namespace {

// Starts `args`, lets it run `ms` milliseconds (it must still be running), and returns it.
void startAndWait(QProcess& p, const QStringList& args, int ms) {
    p.start(QStringLiteral(X45CLI_PATH), args);
    ASSERT_TRUE(p.waitForStarted());
    p.waitForFinished(ms);
    ASSERT_EQ(p.state(), QProcess::Running);
}

} // namespace

TEST(CliInfo, IdentifiesTheSimulatedPhoneAsTextAndAsJson) {
    SimProgram sim({"--strict", "--hwid", "0x8001", "--model", "C45", "--sw", "0x25", "--lang",
                    "lg3", "--imei", "350000111122223", "--eelite-size", "4096"});
    ASSERT_FALSE(sim.path().isEmpty());
    const CliRun r = runCli({"info", "--port", sim.path(), "--wait", "10"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // A pseudo-terminal refuses the low-latency request; the run goes on without a word.
    EXPECT_EQ(r.out, "Phone model: C45\nMobile SW ver: 25\nHardware ver: 32769\nLang Group: lg3\n"
                     "IMEI: 350000111122223\nEEFULL free in buffer.: 65536\nEEFULL free at all.: "
                     "65536\nEEFULL free for deleted.: 0\nEELITE free in buffer.: 4096\nEELITE "
                     "free at all.: 4096\nEELITE free for deleted.: 0\nLow latency: not "
                     "supported by the port\n");
    EXPECT_TRUE(r.err.trimmed().isEmpty()) << r.err.toStdString();
    // The session was ended on the phone: a second run boots it again from the scan.
    const CliRun again = runCli({"info", "--port", sim.path(), "--wait", "10", "--json"});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(json(again.out), json(R"({"model": "C45", "swVersion": 25, "hardwareId": 32769,
        "langGroup": "lg3", "imei": "350000111122223", "lowLatency": null,
        "eefull": {"freeInBuffer": 65536, "freeAtAll": 65536, "freeForDeleted": 0},
        "eelite": {"freeInBuffer": 4096, "freeAtAll": 4096, "freeForDeleted": 0}})"));
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0) << "the phone saw malformed requests: " << simErr.toStdString();
}

TEST(CliInfo, NoPhoneWithinTheWaitOrCtrlCStopsWithStatusOne) {
    SilentLine line;
    ASSERT_FALSE(line.path().isEmpty());
    QElapsedTimer t;
    t.start();
    const CliRun r = runCli({"info", "--port", line.path(), "--wait", "0.5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(r.err.contains("No phone answered")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    // Without --wait only Ctrl-C stops the scan.
    QProcess p;
    ASSERT_NO_FATAL_FAILURE(startAndWait(p, {"info", "--port", line.path()}, 600));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains("Stopped."));
}

TEST(CliInfo, CablePulledDuringTheStartEndsWithAMessage) {
    SimProgram sim({"--fault", "noreply:cmd=0x02"}); // the readiness check goes unanswered
    ASSERT_FALSE(sim.path().isEmpty());
    QProcess p;
    ASSERT_NO_FATAL_FAILURE(startAndWait(p, {"info", "--port", sim.path(), "--wait", "10"}, 800));
    QElapsedTimer t;
    t.start();
    sim.kill();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_LT(t.elapsed(), 1500) << "the lost line ends the wait at once";
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains("was lost") && err.contains(sim.path())) << err.toStdString();
}

// A port that cannot be opened is named with the system's reason, before anything is sent; the
// reasons themselves (a port in use, a name of no device) are the serial port's tests'.
TEST(CliInfo, PortsThatCannotBeOpenedAreNamed) {
    QTemporaryDir dir;
    const CliRun r = runCli({"info", "--port", dir.filePath("ttyNOPE")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(dir.filePath("ttyNOPE")) && r.err.contains("cannot open"))
        << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

// Runs on any machine, also on one with no serial port at all.
TEST(CliPorts, ListsWhatTheSystemReportsAsTextAndAsJson) {
    const CliRun text = runCli({"ports"});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const CliRun listed = runCli({"ports", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err.toStdString();
    const QJsonArray ports = json(listed.out).value("ports").toArray();
    const QStringList lines = text.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), ports.size());
    EXPECT_EQ(ports.isEmpty(), text.err.contains("No serial port found."));
    for (int i = 0; i < ports.size(); ++i) {
        const QJsonObject p = ports.at(i).toObject();
        for (const char* key : {"device", "name", "description", "manufacturer", "serialNumber"})
            EXPECT_TRUE(p.value(key).isString()) << key;
        for (const char* key : {"vendorId", "productId"})
            EXPECT_TRUE(p.value(key).isDouble() || p.value(key).isNull()) << key;
        EXPECT_EQ(lines[i].split(QLatin1Char('\t')).first(), p.value("device").toString());
    }
}

#endif // Q_OS_UNIX
