// The x45sim program over its pseudo-terminal, driven through the real serial port class: the
// device path it prints, the speed check across the speed switch, the dump on SIGTERM and the
// strict exit code.

#include "cliprocess.h"
#include "simphone.h"

#include <files/eepfile.h>
#include "base/bytes.h"
#include <link/link.h>
#include <link/protocol.h>
#include <link/qtserialport.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

namespace proto = x45::proto;

namespace {

using x45::test::SimProgram;

// Ends the program with SIGTERM; its exit code, -1 when it did not end or crashed.
int stop(SimProgram& sim, QString* err = nullptr) {
    const int code = sim.finish(err);
    const QProcess& p = sim.process();
    return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit ? code : -1;
}

bool waitFor(x45::SerialPort& port, qsizetype count) {
    for (int turn = 0; turn < 300 && port.bytesAvailable() < count; ++turn)
        if (port.waitForReadyRead(std::chrono::milliseconds(10)))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port.bytesAvailable() >= count;
}

// Scan, boot, readiness check and speed switch through the real port class.
void startSession(x45::QtSerialPort& port, x45::Link& link) {
    QString error;
    port.setSettings(proto::SettingsAtStart);
    ASSERT_TRUE(port.open(&error)) << error.toStdString();
    port.write(QByteArray(1, char(proto::ScanByte)));
    ASSERT_TRUE(waitFor(port, 1));
    ASSERT_EQ(port.read(0), QByteArray(1, char(proto::ScanAnswer)));
    port.write(QByteArray(1, char(proto::BootLength)) + x45sim::serviceBootImage());
    port.write(QByteArray(1, char(proto::BootCheck)));
    ASSERT_TRUE(waitFor(port, 1));
    ASSERT_EQ(port.read(0), QByteArray(1, char(proto::BootAck)));
    link.SendFrame(proto::PingQuery);
    link.WaitReply(proto::PingTimeout, proto::PingHold);
    ASSERT_EQ(link.Reply.SubCmd, proto::PingSub);
    link.SendFrame(proto::BaudQuery);
    link.WaitReply(proto::BaudTimeout, 1);
    ASSERT_EQ(link.Reply.Buffer.right(10), proto::BaudReplyTail);
    port.close();
    port.setSettings(proto::SettingsFast);
    ASSERT_TRUE(port.open(&error)) << error.toStdString();
}

} // namespace

TEST(SimProgram, ServesASessionReportsAFrameAtTheWrongSpeedAndDumpsOnTerminate) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString eeprom = dir.filePath("in.eep"), dump = dir.filePath("out.eep");
    ASSERT_TRUE(x45::test::writeEep(eeprom, {x45::EEPBlock{5, QByteArray("five"), 2}}, 0x2345));
    SimProgram sim({"--strict", "--eeprom", eeprom, "--dump", dump, "--link", dir.filePath("tty")});
    ASSERT_FALSE(sim.path().isEmpty()) << sim.process().readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo(dir.filePath("tty")).isSymLink());

    x45::QtSerialPort port;
    port.setPortName(dir.filePath("tty"));
    x45::Link link(port);
    startSession(port, link);
    link.SendFrame(proto::ChipsetQuery);
    link.WaitReply(proto::InfoTimeout, 1);
    EXPECT_EQ(link.Reply.Buffer, QByteArray::fromHex("050306214523"))
        << "hardware id from the file";

    // Back at 57600 while the phone now listens at 115200: garbage to the phone, no reply, and
    // reported at the end.
    port.close();
    port.setSettings(proto::SettingsAtStart);
    QString error;
    ASSERT_TRUE(port.open(&error));
    link.SendFrame(proto::ChipsetQuery);
    link.WaitReply(std::chrono::milliseconds(300), 1);
    EXPECT_TRUE(link.Reply.Buffer.isEmpty());
    port.close();
    port.setSettings(proto::SettingsFast);
    ASSERT_TRUE(port.open(&error));

    link.SendFrame(x45::Link::blockFrame(0x07, x45::WordToStr(5)));
    link.WaitReply(proto::DeleteTimeout, 1);
    EXPECT_TRUE(link.blockReplyAccepted(0x07));
    // The end-of-session message right before the port closes is still judged at the session's
    // speed: only the bytes at 57600 are refused.
    port.write(proto::ExitQuery);
    port.close();

    QString err;
    EXPECT_EQ(stop(sim, &err), 3);
    const QStringList reasons = err.split('\n').filter("malformed:");
    ASSERT_FALSE(reasons.isEmpty()) << err.toStdString();
    for (const QString& reason : reasons)
        EXPECT_TRUE(reason.contains("at 57600 baud")) << reason.toStdString();
    QFile out(dump);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    x45::EepContents contents;
    ASSERT_TRUE(parseEep(out.readAll(), dump, contents));
    EXPECT_TRUE(contents.blocks.isEmpty());
    EXPECT_EQ(contents.hwid, 0x2345);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("tty"))) << "the link goes with the program";
}

TEST(SimProgram, PacedRunLogsEveryFrameAndCountsTheLine) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString log = dir.filePath("frames.log"), stats = dir.filePath("line.txt"),
                  gaps = dir.filePath("gaps.txt");
    SimProgram sim({"--pace", "--log", log, "--stats", stats, "--gaps", gaps, "--fault",
                    "badtrailer:sub=0x08,n=1"});
    ASSERT_FALSE(sim.path().isEmpty());
    x45::QtSerialPort port;
    port.setPortName(sim.path());
    x45::Link link(port);
    startSession(port, link);
    // The first space query gets a spoilt trailer, its resend a good reply.
    const QByteArray space = x45::Link::blockFrame(0x08, {});
    link.SendFrame(space);
    link.WaitReply(proto::SpaceTimeout, 1);
    EXPECT_FALSE(link.blockReplyAccepted(0x08));
    link.SendFrame(space);
    link.WaitReply(proto::SpaceTimeout, 1);
    EXPECT_TRUE(link.blockReplyAccepted(0x08));
    port.close();
    ASSERT_EQ(stop(sim), 0);

    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString frames = QString::fromLatin1(logFile.readAll());
    EXPECT_TRUE(frames.contains("> 02 01 03 14\n"));
    EXPECT_TRUE(frames.contains("< 02 03 01 14 55 AA\n"));
    EXPECT_EQ(frames.count("> 14 02 16 08 08\n"), 2);

    QFile statsFile(stats);
    ASSERT_TRUE(statsFile.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> figures;
    for (const QString& line :
         QString::fromLatin1(statsFile.readAll()).split('\n', Qt::SkipEmptyParts))
        figures[line.section(':', 0, 0)] = line.section(':', 1).trimmed();
    // Scan, boot, ping, speed question, two space queries.
    const int toPhone = 1 + 106 + 4 + 13 + 5 + 5;
    const int fromPhone = 1 + 1 + 6 + 13 + 17 + 17;
    EXPECT_EQ(figures.value("bytes to phone").toInt(), toPhone);
    EXPECT_EQ(figures.value("bytes from phone").toInt(), fromPhone);
    EXPECT_EQ(figures.value("requests").toInt(), 4);
    // Wire time follows the speeds: everything up to the speed answer at 57600, the rest faster.
    const double expectedIn = (1 + 106 + 4 + 13) * 10.0 / 57.6 + 10 * 10.0 / 115.2;
    EXPECT_NEAR(figures.value("wire ms to phone").toDouble(), expectedIn, 0.01);
    // Idle gaps only between service replies and the next request: after the ping, the speed
    // answer and the first space reply. The boot handshake's fixed waits are not the tool's.
    EXPECT_EQ(figures.value("idle gaps").toInt(), 3);
    EXPECT_GT(figures.value("session ms").toDouble(), 0.0);
    QFile gapsFile(gaps);
    ASSERT_TRUE(gapsFile.open(QIODevice::ReadOnly | QIODevice::Text));
    const QList<QByteArray> lines = gapsFile.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3);
    qint64 previous = 0;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> times = line.split(' ');
        ASSERT_EQ(times.size(), 2) << line.constData();
        EXPECT_LE(times[0].toLongLong(), times[1].toLongLong()) << "a gap ends after it starts";
        EXPECT_GT(times[0].toLongLong(), previous) << "gaps follow one another";
        previous = times[1].toLongLong();
    }
}
