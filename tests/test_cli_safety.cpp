// x45eep-cli against x45sim where a typo or a fault must not destroy: strict block lists for
// write and delete, input that does not read, a backup that cannot be written, and port messages
// that name the real cause.

#include "cliprocess.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>

using namespace x45;
using namespace x45::test;

namespace {

BlockList sorted(BlockList list) {
    std::sort(list.begin(), list.end(),
              [](const EEPBlock& a, const EEPBlock& b) { return a.BlockId < b.BlockId; });
    return list;
}

const BlockList Phone{{0, "zero", 1}, {1, "one", 1}, {2, "two", 1}, {10, "ten", 1}};

class CliSafety : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QStringList port(const SimProgram& sim) const {
        return {"--port", sim.path(), "--wait", "10"};
    }
    // The phone's blocks when the simulator ends.
    BlockList phoneAtEnd(SimProgram& sim) {
        QString err;
        EXPECT_EQ(sim.finish(&err), 0) << err.toStdString();
        return sorted(readEep(file("dump.eep")));
    }
};

} // namespace

TEST_F(CliSafety, TyposAndInputThatDoesNotReadLeaveThePhoneAsItWas) {
    ASSERT_TRUE(writeEep(file("phone.eep"), Phone, 0));
    SimProgram sim({"--eeprom", file("phone.eep"), "--dump", file("dump.eep")});
    ASSERT_FALSE(sim.path().isEmpty());
    for (const char* typo : {"abc", ",,,", "-", "0x10", "1.5", "1e1"}) {
        SCOPED_TRACE(typo);
        const CliRun r = runCli(QStringList{"delete", "--blocks", typo, "--yes"} + port(sim));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains("nothing was sent")) << r.err.toStdString();
    }
    // Typed numbers read strictly, an option given twice, a block too long for the protocol,
    // blocks of another phone or of no known one in any file: each is refused before anything
    // changes the phone, naming the token, block or file.
    ASSERT_TRUE(writeEep(file("big.eep"), {{1, "one", 1}, {2, QByteArray(70000, 'x'), 1}}, 1105));
    ASSERT_TRUE(writeEep(file("other.eep"), {{1, "ONE", 2}}, 2222));
    ASSERT_TRUE(writeEep(file("mine.eep"), {{2, "TWO", 2}}, 1105));
    ASSERT_TRUE(writeEep(file("noid.eep"), {{10, "TEN", 2}}, 0));
    QFile bin(file("x.bin"));
    ASSERT_TRUE(bin.open(QIODevice::WriteOnly) && bin.write("data") == 4);
    bin.close();
    const struct {
        QStringList args;
        int code;
        QStringList named;
    } refused[] = {
        {{"write", "--blocks", "0", file("x.bin"), "--block", "abc"}, 2, {"\"abc\""}},
        {{"write", "--blocks", "0", file("x.bin"), "--block", "0", "--version", "1.5"}, 2, {"1.5"}},
        {{"delete", "--blocks", "1", "--blocks", "2", "--yes"}, 2, {"--blocks"}},
        {{"write", "--all", file("big.eep")}, 1, {"Block 2 ", "70000"}},
        {{"write", "--blocks", "1,2", file("other.eep"), file("mine.eep")},
         1,
         {"other.eep", "2222", "1105"}},
        {{"write", "--all", file("mine.eep"), file("noid.eep")}, 1, {"noid.eep", "no hardware id"}},
    };
    for (const auto& t : refused) {
        SCOPED_TRACE(t.args.join(' ').toStdString());
        const CliRun r = runCli(t.args + port(sim));
        EXPECT_EQ(r.exitCode, t.code);
        for (const QString& word : t.named)
            EXPECT_TRUE(r.err.contains(word)) << word.toStdString() << "\n" << r.err.toStdString();
    }
    // A hex line that does not read gives no write; the confirmation names what it deletes.
    QFile txt(file("t.txt")), tid(file("t.tid"));
    ASSERT_TRUE(txt.open(QIODevice::WriteOnly) && tid.open(QIODevice::WriteOnly));
    txt.write("8A 16 ZZ 5A\r\n");
    tid.write("EEPROM block additional file.\r\nEEPROM BlockId:\r\n 2 \r\nEEPROM BlockVer:\r\n"
              " 0 \r\n");
    txt.close();
    tid.close();
    CliRun r = runCli(QStringList{"write", "--blocks", "2", file("t.txt")} + port(sim));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("nothing was written")) << r.err.toStdString();
    r = runCli(QStringList{"delete", "--blocks", "1 10"} + port(sim));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("delete 2 blocks from the phone?\nBlocks: 1, 10"))
        << r.err.toStdString();
    EXPECT_EQ(phoneAtEnd(sim), Phone);
}

#ifdef Q_OS_UNIX
TEST_F(CliSafety, BackupThatCannotBeWrittenDeletesNothing) {
    ASSERT_TRUE(writeEep(file("phone.eep"), Phone, 0));
    SimProgram sim({"--eeprom", file("phone.eep"), "--dump", file("dump.eep")});
    ASSERT_FALSE(sim.path().isEmpty());
    // The backup goes to a full tmpfs of our own (skipped where none can be mounted).
    QDir(dir.path()).mkdir("full");
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=16k none \"$1\" || { echo nomount; exit 0; }\n"
        "head -c 16384 /dev/zero > \"$1/fill\" 2>/dev/null\n"
        "\"$2\" delete --port \"$3\" --wait 10 --blocks 1,2 --yes --backup \"$1/bk.eep\"\n"
        "echo \"code=$?\"; ls \"$1\" | tr '\\n' ' '\n");
    QProcess p;
    p.start("unshare", {"-rm", "sh", "-c", script, "sh", file("full"),
                        QStringLiteral(X45CLI_PATH), sim.path()});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        GTEST_SKIP() << "no user and mount namespace here";
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (out.contains("nomount")) GTEST_SKIP() << "no tmpfs can be mounted here";
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(out.contains("code=1")) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(out.endsWith("fill ")) << out.toStdString(); // no backup, no temporary
    EXPECT_TRUE(err.contains("Nothing was deleted.")) << err.toStdString();
    EXPECT_EQ(phoneAtEnd(sim), Phone);
}

TEST_F(CliSafety, PortMessagesNameTheRealCause) {
    const SilentLine line;
    QProcess holder;
    holder.start(QStringLiteral(X45CLI_PATH), {"info", "--port", line.path(), "--wait", "20"});
    ASSERT_TRUE(holder.waitForStarted());
    CliRun r;
    // The second program comes by another name, as /dev/serial/by-id/... names a device.
    ASSERT_TRUE(QFile::link(line.path(), file("by-id-link")));
    // The holder opens the port while it scans; the second run only looks once it has.
    for (int i = 0; i < 20 && holder.state() == QProcess::Running; ++i) {
        QThread::msleep(300);
        r = runCli({"info", "--port", file("by-id-link"), "--wait", "0.2"});
        if (r.err.contains("in use by another program")) break;
    }
    EXPECT_TRUE(r.err.contains("in use by another program (x45eep-cli, process " +
                               QString::number(holder.processId())))
        << r.err.toStdString() << holder.readAllStandardError().toStdString();
    EXPECT_FALSE(r.err.contains("dialout"));
    holder.kill();
    holder.waitForFinished();

    r = runCli({"info", "--port", "no/such/tty", "--wait", "1"});
    EXPECT_TRUE(r.err.contains("\"/dev/no/such/tty\"")) << r.err.toStdString();
    QProcess here;
    here.setWorkingDirectory(dir.path());
    here.start(QStringLiteral(X45CLI_PATH), {"info", "--port", "./tty9", "--wait", "1"});
    ASSERT_TRUE(here.waitForFinished(10000));
    EXPECT_TRUE(QString::fromLocal8Bit(here.readAllStandardError())
                    .contains(QStringLiteral("in the folder \"%1\"").arg(dir.path())));
}
#endif
