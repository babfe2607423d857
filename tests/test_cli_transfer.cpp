// x45eep-cli read, write and delete end to end against the x45sim program over a pseudo-terminal,
// with a clean line, with random faults, and with the phone going away mid-run.

#include "cliprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <QtGlobal>
#include <algorithm>
#include <csignal>
#include <memory>

using namespace x45;
using namespace x45::test;

namespace {

BlockList sorted(BlockList list) {
    std::sort(list.begin(), list.end(),
              [](const EEPBlock& a, const EEPBlock& b) { return a.BlockId < b.BlockId; });
    return list;
}

// About 5% of the replies to block requests go wrong, in every way a line can spoil them.
QStringList randomFaults(int seed) {
    QStringList out;
    for (const char* kind : {"badtrailer", "wrongsub", "badheader", "extra", "noreply", "dup"})
        out << "--fault" << QStringLiteral("%1:cmd=0x14,p=0.01").arg(QLatin1String(kind));
    out << "--seed" << QString::number(seed);
    return out;
}

class CliTransfer : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<SimProgram> sim;
    QProcess cli;
    QString file(const char* name) const { return dir.filePath(QLatin1String(name)); }

    // A long read from a paced phone into out.eep, left running well into its blocks.
    void startLongRead(quint32 seed) {
        ASSERT_TRUE(writeEep(file("phone.eep"), inventedBlocks(150, 400, seed), 0));
        sim = std::make_unique<SimProgram>(
            QStringList{"--pace", "--eeprom", file("phone.eep"), "--eefull-size", "200000"});
        ASSERT_FALSE(sim->path().isEmpty());
        cli.start(QStringLiteral(X45CLI_PATH),
                  {"read", "--port", sim->path(), "--wait", "10", "--out", file("out.eep"),
                   "--force"});
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

TEST_F(CliTransfer, ReadAllGivesThePhonesEeprom) {
    const BlockList held = inventedBlocks(40, 90, 7);
    ASSERT_TRUE(writeEep(file("phone.eep"), held, 0));
    SimProgram sim({"--strict", "--hwid", "0x8001", "--eeprom", file("phone.eep")});
    ASSERT_FALSE(sim.path().isEmpty());
    const CliRun r =
        runCli({"read", "--port", sim.path(), "--wait", "10", "--out", file("out.eep")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Read 40 block(s)")));
    quint16 hwid = 0;
    EXPECT_EQ(sorted(readEep(file("out.eep"), &hwid)), held);
    EXPECT_EQ(hwid, 0x8001);

    // Chosen blocks only; a number the phone does not hold is reported and fails the run, the
    // rest is still saved.
    const QString list = QStringLiteral("%1 %2 4999").arg(held[0].BlockId).arg(held[39].BlockId);
    const CliRun some = runCli({"read", "--port", sim.path(), "--wait", "10", "--blocks", list,
                                "--out", file("some.eep")});
    EXPECT_EQ(some.exitCode, 1);
    EXPECT_TRUE(some.err.contains(QStringLiteral("Block number 4999 not found.")))
        << some.err.toStdString();
    EXPECT_EQ(sorted(readEep(file("some.eep"))), (BlockList{held[0], held[39]}));
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0) << simErr.toStdString();
}

TEST_F(CliTransfer, UsageErrors) {
    const QList<QStringList> usage = {
        {"read", "--port", "/dev/null"}, // no --out
        {"read", "--port", "/dev/null", "--out", file("x.doc")},
        {"read", "--port", "/dev/null", "--blocks", "1 99999", "--out", file("x.eep")},
        {"write", "--port", "/dev/null", file("a.eep")}, // neither --all nor --blocks
        {"write", "--port", "/dev/null", "--all", "--blocks", "1", file("a.eep")},
        {"delete", "--port", "/dev/null"},
    };
    for (const QStringList& args : usage)
        EXPECT_EQ(runCli(args).exitCode, 2) << args.join(' ').toStdString();
    // A file that is not there: nothing is sent, the port is never opened.
    EXPECT_EQ(runCli({"write", "--port", "/dev/null", "--all", file("none.eep")}).exitCode, 1);
}

TEST_F(CliTransfer, WriteAllUnderFaultsThenReadGivesTheWrittenBlocks) {
    const BlockList old = inventedBlocks(20, 60, 5);
    const BlockList written = inventedBlocks(45, 110, 9);
    ASSERT_TRUE(writeEep(file("old.eep"), old, 0x0451));
    ASSERT_TRUE(writeEep(file("new.eep"), written, 0x0451));
    QStringList simArgs = {"--eeprom",       file("old.eep"), "--dump",
                           file("dump.eep"), "--eefull-size", "200000"};
    simArgs << randomFaults(4);
    SimProgram sim(simArgs);
    ASSERT_FALSE(sim.path().isEmpty());
    const CliRun w = runCli({"write", "--port", sim.path(), "--wait", "10", "--on-error", "retry",
                             "--retries", "50", "--all", file("new.eep")},
                            240000);
    ASSERT_EQ(w.exitCode, 0) << w.err.toStdString();
    EXPECT_TRUE(w.out.contains(QStringLiteral("Wrote 45 block(s)."))) << w.out.toStdString();
    const CliRun r = runCli({"read", "--port", sim.path(), "--wait", "10", "--on-error", "retry",
                             "--retries", "50", "--out", file("back.eep")},
                            180000);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The read-back on the same spoiled line must give exactly what the phone holds: EElite was
    // erased; EEfull blocks of the old contents that were not rewritten stay.
    BlockList expected = written;
    for (const EEPBlock& b : old)
        if (b.BlockId >= 5000 && findBlock(written, b.BlockId) < 0) expected.append(b);
    EXPECT_EQ(sorted(readEep(file("back.eep"))), sorted(expected));
}

TEST_F(CliTransfer, LateRepliesAndAVerifiedWrite) {
    // Replies that come after the time-out, when the tool has moved on: the dump is still exact.
    const BlockList held = inventedBlocks(30, 80, 3);
    ASSERT_TRUE(writeEep(file("phone.eep"), held, 0));
    SimProgram sim({"--eeprom", file("phone.eep"), "--fault", "late:cmd=0x14,skip=9,n=40,p=0.1",
                    "--seed", "5"});
    ASSERT_FALSE(sim.path().isEmpty());
    const CliRun r = runCli({"read", "--port", sim.path(), "--wait", "10", "--on-error", "retry",
                             "--out", file("out.eep")},
                            120000);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(sorted(readEep(file("out.eep"))), sorted(held));
    EXPECT_TRUE(r.err.contains(QRegularExpression("Summary: 30 block\\(s\\) read, [1-9]\\d* "
                                                  "retried, [1-9]\\d* resynchronised")))
        << r.err.toStdString();

    // The phone acknowledges a block it stored wrong: only --verify tells.
    SimProgram rot({"--eeprom", file("phone.eep"), "--fault", "bitrot:cmd=0x14,n=1"});
    ASSERT_FALSE(rot.path().isEmpty());
    const QString b = QString::number(held[0].BlockId);
    const CliRun w = runCli({"write", "--port", rot.path(), "--wait", "10", "--verify",
                             "--any-hwid", "--blocks", b, file("phone.eep")});
    EXPECT_EQ(w.exitCode, 1);
    EXPECT_TRUE(w.err.contains("Verification failed for block(s) " + b + ":")) << w.err.toStdString();
    const CliRun again = runCli({"write", "--port", rot.path(), "--wait", "10", "--verify",
                                 "--any-hwid", "--blocks", b, file("phone.eep")});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.err.contains("1 verified")) << again.err.toStdString();
}

TEST_F(CliTransfer, WriteSelectedAndDelete) {
    const BlockList held = {{12, "twelve", 1}, {40, "forty", 2}, {5012, "x", 3}, {5100, "y", 4}};
    ASSERT_TRUE(writeEep(file("phone.eep"), held, 7));
    const BlockList changed = {{12, "TWELVE", 9}, {40, "FORTY", 9}, {5100, "Y", 9}};
    ASSERT_TRUE(writeEep(file("changed.eep"), changed, 7));
    SimProgram sim(
        {"--strict", "--hwid", "7", "--eeprom", file("phone.eep"), "--dump", file("dump.eep")});
    ASSERT_FALSE(sim.path().isEmpty());

    const CliRun w = runCli({"write", "--port", sim.path(), "--wait", "10", "--blocks", "40 5100",
                             file("changed.eep")});
    ASSERT_EQ(w.exitCode, 0) << w.err.toStdString();
    // A listed block that is in no file: refused before anything is sent.
    EXPECT_EQ(runCli({"write", "--port", sim.path(), "--wait", "10", "--blocks", "41",
                      file("changed.eep")})
                  .exitCode,
              1);

    // Without --yes the confirmation says No.
    const CliRun no = runCli({"delete", "--port", sim.path(), "--wait", "10", "--blocks", "12"});
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_TRUE(no.err.contains(QStringLiteral("Are you sure you want to delete 1 blocks")));

    const CliRun del = runCli({"delete", "--port", sim.path(), "--wait", "10", "--blocks",
                               "12,5012", "--yes", "--backup", file("backup.eep")});
    ASSERT_EQ(del.exitCode, 0) << del.err.toStdString();
    EXPECT_EQ(sorted(readEep(file("backup.eep"))), (BlockList{{12, "twelve", 1}, {5012, "x", 3}}));
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0) << simErr.toStdString();
    EXPECT_EQ(sorted(readEep(file("dump.eep"))), (BlockList{{40, "FORTY", 9}, {5100, "Y", 9}}));
}

TEST_F(CliTransfer, PhoneGoingAwayEndsTheRun) {
    ASSERT_NO_FATAL_FAILURE(startLongRead(21));
    sim->kill();
    const QString err = endOfLongRead();
    EXPECT_TRUE(err.contains(sim->path()) || err.contains(QStringLiteral("Stopped.")))
        << err.toStdString();
    EXPECT_FALSE(QFile::exists(file("out.eep")));
}

#ifdef Q_OS_UNIX
TEST_F(CliTransfer, CtrlCStopsAfterTheCurrentBlockAndWritesNoFile) {
    ASSERT_TRUE(writeEep(file("out.eep"), {{1, "previous", 0}}, 0));
    ASSERT_NO_FATAL_FAILURE(startLongRead(22));
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    EXPECT_TRUE(endOfLongRead().contains(QStringLiteral("Stopped.")));
    // The earlier file is untouched.
    EXPECT_EQ(readEep(file("out.eep")), (BlockList{{1, "previous", 0}}));
}
#endif

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
    struct Case {
        QStringList args;
        QString fault;
        QString cue;  // the line on stderr at which the signal is sent
        int signal;   // 0: stdout and stderr go into "head -n 2"
        QString told; // how many blocks the run says it did
    };
    const Case cases[] = {
        {writeAll + QStringList{"--on-error", "retry"}, fault, "Error", SIGTERM,
         "writing (\\d+) of"},
        {writeAll + QStringList{"--on-error", "retry"}, fault, "Error", SIGHUP,
         "writing (\\d+) of"},
        {writeAll + QStringList{"--on-error", "ignore"}, fault, {}, 0, {}},
        {{"delete", "--yes", "--json", "--blocks", listed.join(',')},
         {},
         "-> Yes",
         SIGINT,
         "deleting (\\d+) of"},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.args.first().toStdString() + " " + std::to_string(t.signal));
        QStringList simArgs = {
            "--pace",   "--latency", "8",      "--hwid",        QString::number(hwid),
            "--eeprom", demo,        "--dump", file("dump.eep")};
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
            run.start("bash", QStringList{"-c",
                                          "\"$0\" \"$@\" 2>&1 | head -n 2; exit "
                                          "${PIPESTATUS[0]}",
                                          QStringLiteral(X45CLI_PATH)} +
                                  args);
        }
        ASSERT_TRUE(run.waitForFinished(60000));
        err += QString::fromLocal8Bit(run.readAllStandardError());
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 1) << err.toStdString();
        ASSERT_EQ(phone.finish(), 0);
        const BlockList now = sorted(readEep(file("dump.eep")));

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
        EXPECT_EQ(now, expected) << err.toStdString();
        if (t.args.contains("--json")) {
            const QJsonDocument json = QJsonDocument::fromJson(run.readAllStandardOutput());
            EXPECT_EQ(json[QStringLiteral("done")].toInt(), n) << "JSON counts what stderr says";
        }
    }
}
#endif

TEST_F(CliTransfer, TraceWritesEveryFrameAndRefusesBadFiles) {
    ASSERT_TRUE(writeEep(file("phone.eep"), {{1, "a", 1}, {2, "bb", 2}, {3, "ccc", 3}}, 0));
    SimProgram sim({"--strict", "--eeprom", file("phone.eep"), "--fault",
                    "badtrailer:cmd=0x14,sub=0x05,skip=2,n=1"});
    ASSERT_FALSE(sim.path().isEmpty());
    const QString trace = file("trace.txt");
    const CliRun r = runCli(
        {"read", "--port", sim.path(), "--wait", "10", "--out", file("out.eep"), "--trace", trace});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile f(trace);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    f.close();
    ASSERT_GT(lines.size(), 20);
    EXPECT_TRUE(lines[0].startsWith("# x45eep link trace"));
    const QRegularExpression shape(R"(^ *(\d+)  (->|<-|--|\.\.)  \S)");
    qint64 last = 0;
    for (const QString& line : lines.mid(1)) {
        const QRegularExpressionMatch m = shape.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_GE(m.captured(1).toLongLong(), last) << line.toStdString();
        last = m.captured(1).toLongLong();
    }
    const QString all = lines.join('\n');
    for (const char* seen : {"->  scan", "->  PingQuery", "->  BlockInfoQuery 3", "<-  bad trailer",
                             "->  sync ", "<-  resynchronised", "<-  no such block",
                             "->  ExitQuery"})
        EXPECT_TRUE(all.contains(QLatin1String(seen))) << seen;

    // An earlier trace is written over; any other file is left alone, and so is a file the
    // command reads or writes.
    EXPECT_EQ(runCli({"info", "--port", sim.path(), "--wait", "10", "--trace", trace}).exitCode, 0);
    ASSERT_EQ(readEep(file("out.eep")).size(), 3);
    QFile out(file("out.eep"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray before = out.readAll();
    out.close();
    const CliRun notOurs = runCli({"info", "--port", sim.path(), "--trace", file("out.eep")});
    EXPECT_EQ(notOurs.exitCode, 2);
    EXPECT_TRUE(notOurs.err.contains("is not a trace")) << notOurs.err.toStdString();
    const CliRun same = runCli({"read", "--port", sim.path(), "--out", file("new.eep"), "--trace",
                                file("new.eep")});
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_FALSE(QFile::exists(file("new.eep")));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_EQ(out.readAll(), before);
    out.close();

    // A trace that cannot be opened ends the command before the port is touched.
    const QString unwritable = file("no/such/folder/t.txt");
    const CliRun noFolder = runCli({"info", "--port", file("no-such-port"), "--trace", unwritable});
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_TRUE(noFolder.err.contains(unwritable) && noFolder.err.contains("Nothing was sent"))
        << noFolder.err.toStdString();
    EXPECT_FALSE(noFolder.err.contains("no-such-port")) << noFolder.err.toStdString();
#ifdef Q_OS_UNIX
    // A trace that runs out of room (a file size limit of 512 bytes) fails a run that went well
    // otherwise; a device is no trace file.
    QProcess limited;
    limited.start("sh", {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                         QStringLiteral(X45CLI_PATH), "info", "--port", sim.path(), "--wait", "10",
                         "--trace", file("full.txt")});
    ASSERT_TRUE(limited.waitForFinished(30000));
    EXPECT_EQ(limited.exitCode(), 1);
    const QString fullErr = QString::fromLocal8Bit(limited.readAllStandardError());
    EXPECT_TRUE(fullErr.contains("could not be written completely")) << fullErr.toStdString();
    EXPECT_EQ(runCli({"info", "--port", sim.path(), "--trace", "/dev/full"}).exitCode, 2);
#endif
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0) << simErr.toStdString();
}
