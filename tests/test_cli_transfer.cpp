// x45eep-cli against the x45sim program over a pseudo-terminal. info and ports: the phone's
// identity, a line where no phone answers (time bound, Ctrl-C), a phone that goes away during the
// start, a port that cannot be opened. read, write and delete: the blocks and the --json
// summaries, the refusals that leave the phone as it was, a block stored wrong, a phone going
// away, signals, a full disk and the trace.

#include "cliprocess.h"
#include "formats_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using namespace x45;
using namespace x45::test;

namespace {

// A --json run summary with the counters of a clean line.
QJsonObject summary(const char* fields) {
    QJsonObject o = json(QStringLiteral(R"({"retried": 0, "resynchronised": 0, "verified": 0,
        "unverified": [], "skipped": 0, "notFound": 0, "file": null, "notDone": null, %1})")
                             .arg(QLatin1String(fields)));
    EXPECT_FALSE(o.isEmpty()) << fields;
    return o;
}

class CliTransfer : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<SimProgram> sim;
    QProcess cli;
    QString file(const char* name) const { return dir.filePath(QLatin1String(name)); }
    // Starts the simulated phone holding `blocks`; its blocks go to dump.eep when it ends.
    void startPhone(const BlockList& blocks, quint16 hwid, QStringList args = {}) {
        ASSERT_TRUE(writeEep(file("phone.eep"), blocks, hwid));
        sim = std::make_unique<SimProgram>(args << "--eeprom" << file("phone.eep") << "--dump"
                                                << file("dump.eep"));
        ASSERT_FALSE(sim->path().isEmpty());
    }
    CliRun run(QStringList args, int timeoutMs = 60000) const {
        return runCli(args << "--port" << sim->path() << "--wait" << "10", timeoutMs);
    }
    // The phone's blocks when the simulator ends.
    BlockList phoneAtEnd() {
        QString err;
        EXPECT_EQ(sim->finish(&err), 0) << err.toStdString();
        return sorted(readEep(file("dump.eep")));
    }
    // A long read from a paced phone into out.eep, left running well into its blocks.
    void startLongRead(quint32 seed) {
        ASSERT_NO_FATAL_FAILURE(startPhone(inventedBlocks(150, 400, seed), 0,
                                           {"--pace", "--eefull-size", "200000"}));
        cli.start(QStringLiteral(X45CLI_PATH), {"read", "--port", sim->path(), "--wait", "10",
                                                "--out", file("out.eep"), "--force"});
        ASSERT_TRUE(cli.waitForStarted());
        QThread::msleep(2500); // booted and reading by now
    }
    // The long read ended with status 1; returns its stderr.
    QString endOfLongRead() {
        EXPECT_TRUE(cli.waitForFinished(30000)) << "the tool hung";
        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(cli.exitCode(), 1);
        return QString::fromLocal8Bit(cli.readAllStandardError());
    }
};

} // namespace

TEST_F(CliTransfer, ReadAllOrTheListedBlocksAsTextAndAsJson) {
    const BlockList held = inventedBlocks(40, 90, 7);
    ASSERT_NO_FATAL_FAILURE(startPhone(held, 0x8001, {"--strict"}));
    CliRun r = run({"read", "--out", file("out.eep")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Read 40 block(s) into " + file("out.eep") + ".\n");
    quint16 hwid = 0;
    EXPECT_EQ(sorted(readEep(file("out.eep"), &hwid)), held);
    EXPECT_EQ(hwid, 0x8001);
    // A listed number the phone does not hold is reported and fails the run; the rest is saved.
    const QString list = QStringLiteral("%1 %2 4999").arg(held[0].BlockId).arg(held[39].BlockId);
    r = run({"read", "--blocks", list, "--out", file("some.eep"), "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Block number 4999 not found.")) << r.err.toStdString();
    EXPECT_EQ(sorted(readEep(file("some.eep"))), (BlockList{held[0], held[39]}));
    EXPECT_EQ(json(r.out), summary(QStringLiteral(R"("command": "read", "result": "completed",
        "done": 2, "notFound": 1, "notDone": [4999], "file": "%1")")
                                       .arg(file("some.eep"))
                                       .toLatin1()));
    EXPECT_EQ(phoneAtEnd(), held);
}

TEST_F(CliTransfer, WriteSelectedAndDeleteWithABackup) {
    const BlockList held = {{12, "twelve", 1}, {40, "forty", 2}, {5012, "x", 3}, {5100, "y", 4}};
    ASSERT_NO_FATAL_FAILURE(startPhone(held, 7, {"--strict", "--hwid", "7"}));
    ASSERT_TRUE(writeEep(file("changed.eep"), {{12, "TWELVE", 9}, {40, "FORTY", 9}, {5100, "Y", 9}}, 7));
    CliRun r = run({"write", "--blocks", "40 5100", file("changed.eep"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(json(r.out), summary(R"("command": "write", "result": "completed", "done": 2)"));
    // Without --yes the confirmation says No, naming what it would delete.
    r = run({"delete", "--blocks", "12 5012"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("delete 2 blocks from the phone?\nBlocks: 12, 5012")) << r.err.toStdString();
    r = run({"delete", "--blocks", "12,5012,777", "--yes", "--backup", file("backup.eep"), "--json"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString(); // 777 is not on the phone
    EXPECT_EQ(sorted(readEep(file("backup.eep"))), (BlockList{{12, "twelve", 1}, {5012, "x", 3}}));
    EXPECT_EQ(json(r.out), summary(QStringLiteral(R"("command": "delete", "result": "completed",
        "done": 2, "notFound": 1, "notDone": [777], "file": "%1")")
                                       .arg(file("backup.eep"))
                                       .toLatin1()));
    EXPECT_EQ(phoneAtEnd(), (BlockList{{40, "FORTY", 9}, {5100, "Y", 9}}));
}

// Typos, input that does not read, a block too long for the protocol, blocks of another phone or
// of none known, a backup that cannot be written: each is refused before anything changes the
// phone, naming the token, block or file.
TEST_F(CliTransfer, RefusalsLeaveThePhoneAsItWas) {
    const BlockList phone{{0, "zero", 1}, {1, "one", 1}, {2, "two", 1}, {10, "ten", 1}};
    ASSERT_NO_FATAL_FAILURE(startPhone(phone, 1105, {"--hwid", "1105"}));
    ASSERT_TRUE(writeEep(file("big.eep"), {{1, "one", 1}, {2, QByteArray(70000, 'x'), 1}}, 1105));
    ASSERT_TRUE(writeEep(file("other.eep"), {{1, "ONE", 2}}, 2222));
    ASSERT_TRUE(writeEep(file("mine.eep"), {{2, "TWO", 2}}, 1105));
    ASSERT_TRUE(writeEep(file("noid.eep"), {{10, "TEN", 2}}, 0));
    writeBytes(file("t.txt"), "8A 16 ZZ 5A\r\n");
    writeBytes(file("t.tid"), "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 2 \r\n"
                              "EEPROM BlockVer:\r\n 0 \r\n");
    const struct {
        QStringList args;
        int code;
        QStringList named;
    } refused[] = {
        {{"delete", "--blocks", "1.5", "--yes"}, 2, {"\"1.5\"", "nothing was sent"}},
        {{"write", "--all", file("big.eep")}, 1, {"Block 2 ", "70000"}},
        {{"write", "--blocks", "1,2", file("other.eep"), file("mine.eep")}, 1,
         {"other.eep", "2222", "1105"}},
        {{"write", "--all", file("mine.eep"), file("noid.eep")}, 1, {"noid.eep", "no hardware id"}},
        {{"write", "--blocks", "2", file("t.txt")}, 1, {"ZZ", "nothing was written"}},
        {{"write", "--blocks", "41", file("mine.eep")}, 1, {"Block 41 is in none of the files"}},
        {{"write", "--all", file("none.eep")}, 1, {"none.eep"}},
    };
    for (const auto& t : refused) {
        SCOPED_TRACE(t.args.join(' ').toStdString());
        const CliRun r = run(t.args);
        EXPECT_EQ(r.exitCode, t.code);
        for (const QString& word : t.named)
            EXPECT_TRUE(r.err.contains(word)) << word.toStdString() << "\n" << r.err.toStdString();
    }
#ifdef Q_OS_UNIX
    // The backup goes to a full tmpfs of our own (skipped where none can be mounted).
    QDir(dir.path()).mkdir("full");
    QProcess p;
    p.start("unshare", {"-rm", "sh", "-c",
                        "mount -t tmpfs -o size=16k none \"$1\" || { echo nomount; exit 0; }\n"
                        "head -c 16384 /dev/zero > \"$1/fill\" 2>/dev/null\n"
                        "\"$2\" delete --port \"$3\" --wait 10 --blocks 1,2 --yes --backup "
                        "\"$1/bk.eep\"\necho \"code=$?\"; ls \"$1\" | tr '\\n' ' '\n",
                        "sh", file("full"), QStringLiteral(X45CLI_PATH), sim->path()});
    const bool ran = p.waitForFinished(60000) && p.exitCode() == 0;
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (ran && !out.contains("nomount")) {
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        EXPECT_TRUE(out.contains("code=1")) << out.toStdString() << err.toStdString();
        EXPECT_TRUE(out.endsWith("fill ")) << out.toStdString(); // no backup, no temporary
        EXPECT_TRUE(err.contains("No space left") && err.contains("Nothing was deleted."))
            << err.toStdString();
    }
#endif
    EXPECT_EQ(phoneAtEnd(), phone);
}

TEST_F(CliTransfer, PhoneGoingAwayOrCtrlCEndsTheReadAndWritesNoFile) {
    ASSERT_NO_FATAL_FAILURE(startLongRead(21));
    sim->kill();
    const QString err = endOfLongRead();
    EXPECT_TRUE(err.contains(sim->path()) || err.contains("Stopped.")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(file("out.eep")));
#ifdef Q_OS_UNIX
    ASSERT_TRUE(writeEep(file("out.eep"), {{1, "previous", 0}}, 0));
    ASSERT_NO_FATAL_FAILURE(startLongRead(22));
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    EXPECT_TRUE(endOfLongRead().contains("Stopped."));
    EXPECT_EQ(readEep(file("out.eep")), (BlockList{{1, "previous", 0}})); // untouched
#endif
}

#ifdef Q_OS_UNIX
// SIGTERM or SIGHUP in the middle of "Save all", its output pipe closed, Ctrl-C in the middle of a
// delete: the run ends at a safe point and says what the phone holds, and the simulated phone's
// EEPROM shows exactly that.
TEST_F(CliTransfer, SignalsAndAClosedPipeEndRunsTruthfully) {
    const QString demo = QStringLiteral(X45_SOURCE_DIR "/resources/demo.eep");
    quint16 hwid = 0;
    const BlockList held = sorted(readEep(demo, &hwid));
    ASSERT_GT(held.size(), 100);
    QStringList listed; // every block the strict list can name, in the order they are deleted
    for (const EEPBlock& b : held)
        if (b.BlockId >= 0) listed << QString::number(b.BlockId);
    // The 11th block's announcement fails five times: a line on stderr after the erase.
    const QString fault = "wrongsub:cmd=0x14,sub=0x01,skip=10,n=5";
    const QStringList writeAll = {"write", "--all", demo};
    const struct {
        QStringList args;
        QString fault;
        QString cue;  // the line on stderr at which the signal is sent
        int signal;   // 0: stdout and stderr go into "head -n 2"
        QString told; // how many blocks the run says it did
    } cases[] = {
        {writeAll + QStringList{"--on-error", "retry"}, fault, "Error", SIGTERM, "writing (\\d+) of"},
        {writeAll + QStringList{"--on-error", "retry"}, fault, "Error", SIGHUP, "writing (\\d+) of"},
        {writeAll + QStringList{"--on-error", "ignore"}, fault, {}, 0, {}},
        {{"delete", "--yes", "--json", "--blocks", listed.join(',')}, {}, "-> Yes", SIGINT,
         "deleting (\\d+) of"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.args.first().toStdString() + " " + std::to_string(t.signal));
        QStringList simArgs = {"--pace", "--latency", "8", "--hwid", QString::number(hwid),
                               "--eeprom", demo, "--dump", file("dump.eep")};
        if (!t.fault.isEmpty()) simArgs << "--fault" << t.fault;
        SimProgram phone(simArgs);
        ASSERT_FALSE(phone.path().isEmpty());
        const QStringList args = t.args + QStringList{"--port", phone.path(), "--wait", "10"};
        QProcess run;
        QString err;
        if (t.signal != 0) {
            run.start(QStringLiteral(X45CLI_PATH), args);
            run.setReadChannel(QProcess::StandardError);
            while (!err.contains(t.cue) && run.waitForReadyRead(20000))
                err += QString::fromLocal8Bit(run.readAllStandardError());
            ASSERT_TRUE(err.contains(t.cue)) << err.toStdString();
            ::kill(static_cast<pid_t>(run.processId()), t.signal);
        } else {
            run.start("bash", QStringList{"-c", "\"$0\" \"$@\" 2>&1 | head -n 2; exit ${PIPESTATUS[0]}",
                                          QStringLiteral(X45CLI_PATH)} + args);
        }
        ASSERT_TRUE(run.waitForFinished(60000));
        err += QString::fromLocal8Bit(run.readAllStandardError());
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 1) << err.toStdString();
        ASSERT_EQ(phone.finish(), 0);
        // What the phone should hold: all of it but the blocks the run took away and did not
        // write back (EElite blocks after the last one written; the one skipped; those deleted).
        const auto done = QRegularExpression(t.told).match(err);
        ASSERT_TRUE(t.told.isEmpty() || done.hasMatch()) << err.toStdString();
        const int n = done.hasMatch() ? done.captured(1).toInt() : 0;
        BlockList expected;
        for (int i = 0; i < held.size(); ++i) {
            const int at = listed.indexOf(QString::number(held[i].BlockId));
            const bool gone = t.args.first() == "delete" ? at >= 0 && at < n
                              : t.signal != 0            ? i >= n && held[i].BlockId < 5000
                                                         : i == 10;
            if (!gone) expected.append(held[i]);
        }
        EXPECT_NE(expected.size(), held.size()) << "the run ended before it changed the phone";
        EXPECT_EQ(sorted(readEep(file("dump.eep"))), expected) << err.toStdString();
        if (t.args.contains("--json")) {
            EXPECT_EQ(json(run.readAllStandardOutput())["done"].toInt(), n) << "JSON counts as stderr";
        }
    }
}
#endif

TEST_F(CliTransfer, TraceWritesEveryFrameAndRefusesFilesThatAreNoTrace) {
    ASSERT_NO_FATAL_FAILURE(startPhone({{1, "a", 1}, {2, "bb", 2}, {3, "ccc", 3}}, 0,
                                       {"--strict", "--fault", "badtrailer:cmd=0x14,sub=0x05,skip=2,n=1"}));
    const QString trace = file("trace.txt");
    const CliRun read = run({"read", "--out", file("out.eep"), "--trace", trace});
    ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.err.contains("Summary: 3 block(s) read, 1 retried, 1 resynchronised, 0 skipped, "
                                  "0 verified.")) << read.err.toStdString();
    const QStringList lines = QString::fromUtf8(readBytes(trace)).split('\n', Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 20);
    EXPECT_TRUE(lines[0].startsWith("# x45eep link trace"));
    for (const char* seen : {"->  scan", "<-  bad trailer", "<-  resynchronised", "->  ExitQuery"})
        EXPECT_TRUE(lines.join('\n').contains(QLatin1String(seen))) << seen;

    // An earlier trace is written over; any other file is left alone, and so is a file the
    // command reads or writes; a trace that cannot be opened ends the command before the port
    // is touched; a device is no trace file.
    const QByteArray out = readBytes(file("out.eep"));
    EXPECT_EQ(run({"info", "--trace", trace}).exitCode, 0);
    const struct {
        QStringList args;
        int code;
        QString said;
    } refused[] = {
        {{"info", "--trace", file("out.eep")}, 2, "is not a trace"},
        {{"read", "--out", file("new.eep"), "--trace", file("new.eep")}, 2, "also reads or writes"},
        {{"info", "--trace", file("no/such/folder/t.txt")}, 1, "Nothing was sent"},
        {{"info", "--trace", "/dev/full"}, 2, "not a regular file"},
    };
    for (const auto& t : refused) {
        const CliRun r = run(t.args);
        EXPECT_EQ(r.exitCode, t.code) << t.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(t.said)) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(file("new.eep")));
    EXPECT_EQ(readBytes(file("out.eep")), out);
#ifdef Q_OS_UNIX
    // A trace that runs out of room (a file size limit of 512 bytes) fails a run that went well.
    QProcess limited;
    limited.start("sh", {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                         QStringLiteral(X45CLI_PATH), "info", "--port", sim->path(), "--wait", "10",
                         "--trace", file("full.txt")});
    ASSERT_TRUE(limited.waitForFinished(30000));
    EXPECT_EQ(limited.exitCode(), 1);
    EXPECT_TRUE(limited.readAllStandardError().contains("could not be written completely"));
#endif
    QString simErr;
    EXPECT_EQ(sim->finish(&simErr), 0) << simErr.toStdString();
}

#ifdef Q_OS_UNIX

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

#endif // Q_OS_UNIX
