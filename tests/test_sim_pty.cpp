// The x45sim program over its pseudo-terminal, driven through the real serial port class: the
// device path it prints, the speed check across the speed switch, the dump on SIGTERM, the strict
// exit code, and the frame log and line figures of a paced run.

#include "cliprocess.h"
#include "simphone.h"

#include "base/bytes.h"
#include "files/eepfile.h"
#include "link/link.h"
#include "link/protocol.h"
#include "link/qtserialport.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
namespace proto = x45::proto;

namespace {

// Ends the program with SIGTERM; its exit code, -1 when it did not end or crashed.
int stop(x45::test::SimProgram& sim, QString* err = nullptr) {
    const int code = sim.finish(err);
    const QProcess& p = sim.process();
    return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit ? code : -1;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The port (re)opened at these settings.
void reopen(x45::QtSerialPort& port, const x45::PortSettings& settings) {
    port.close();
    port.setSettings(settings);
    QString error;
    ASSERT_TRUE(port.open(&error)) << error.toStdString();
}

// One exchange; the reply as it came.
// The reply to frame when it is one of the same command (for block requests: a whole frame with
// the same sub-command); empty otherwise.
QByteArray ask(x45::Link& link, const QByteArray& frame, std::chrono::milliseconds timeout) {
    x45::Query q{frame, {}, timeout, 1};
    q.rule.cmd = quint8(frame[0]);
    const bool block = q.rule.cmd == proto::BlockCmd;
    q.rule.sub = block ? quint8(frame[3]) : -1;
    q.rule.wholeFrame = block;
    const x45::Result<x45::ByteStr> reply = link.query(q);
    return reply ? reply.value() : QByteArray();
}

// Scan, boot, readiness check and speed switch through the real port class.
void startSession(x45::QtSerialPort& port, x45::Link& link) {
    reopen(port, proto::SettingsAtStart);
    link.writeRaw(QByteArray(1, char(proto::ScanByte)), {});
    link.pause(300ms);
    ASSERT_EQ(link.readRaw(), QByteArray(1, char(proto::ScanAnswer)));
    link.writeRaw(QByteArray(1, char(proto::BootLength)) + x45sim::serviceBootImage(), {});
    link.writeRaw(QByteArray(1, char(proto::BootCheck)), {});
    link.pause(300ms);
    ASSERT_EQ(link.readRaw(), QByteArray(1, char(proto::BootAck)));
    ASSERT_EQ(x45::byteAt(ask(link, proto::PingQuery, proto::PingTimeout), 3), proto::PingSub);
    ASSERT_EQ(ask(link, proto::BaudQuery, proto::BaudTimeout).right(10), proto::BaudReplyTail);
    reopen(port, proto::SettingsFast);
}

} // namespace

TEST(SimProgram, ServesASessionReportsAFrameAtTheWrongSpeedAndDumpsOnTerminate) {
    QTemporaryDir dir;
    const QString eeprom = dir.filePath("in.eep"), dump = dir.filePath("out.eep");
    ASSERT_TRUE(x45::test::writeEep(eeprom, {x45::EEPBlock{5, QByteArray("five"), 2}}, 0x2345));
    x45::test::SimProgram sim(
        {"--strict", "--eeprom", eeprom, "--dump", dump, "--link", dir.filePath("tty")});
    ASSERT_FALSE(sim.path().isEmpty()) << sim.process().readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo(dir.filePath("tty")).isSymLink());

    x45::QtSerialPort port;
    port.setPortName(dir.filePath("tty"));
    x45::Link link(port);
    startSession(port, link);
    EXPECT_EQ(ask(link, proto::ChipsetQuery, proto::InfoTimeout),
              QByteArray::fromHex("050306214523"))
        << "hardware id from the file";
    // Back at 57600 while the phone now listens at 115200: garbage to the phone, no reply, and
    // reported at the end.
    reopen(port, proto::SettingsAtStart);
    EXPECT_TRUE(ask(link, proto::ChipsetQuery, 300ms).isEmpty());
    reopen(port, proto::SettingsFast);
    EXPECT_FALSE(
        ask(link, x45::Link::blockFrame(0x07, x45::wordToStr(5)), proto::DeleteTimeout).isEmpty());
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
    const x45::Result<x45::EepContents> contents = x45::parseEep(readAll(dump), dump);
    ASSERT_TRUE(contents.isOk()) << contents.message().toStdString();
    EXPECT_TRUE(contents->blocks.isEmpty());
    EXPECT_EQ(contents->hwid, 0x2345);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("tty"))) << "the link goes with the program";
}

