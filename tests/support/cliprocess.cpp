#include "cliprocess.h"

#include "files/eepfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>
#include <random>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace x45::test {

CliRun runCli(const QStringList& args, int timeoutMs) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(X45CLI_PATH), args);
    CliRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out\n") + QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }
    r.ms = t.elapsed();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

SimProgram::SimProgram(const QStringList& args) {
    proc_.start(QStringLiteral(X45SIM_PATH), args);
    if (proc_.waitForStarted(5000))
        while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
        }
    path_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
}

SimProgram::~SimProgram() {
    if (proc_.state() != QProcess::NotRunning) {
        proc_.terminate();
        if (!proc_.waitForFinished(3000)) proc_.kill();
        proc_.waitForFinished();
    }
}

int SimProgram::finish(QString* err) {
    proc_.terminate();
    proc_.waitForFinished(10000);
    if (err) *err = QString::fromLocal8Bit(proc_.readAllStandardError());
    return proc_.exitCode();
}

void SimProgram::kill() {
    proc_.kill();
    proc_.waitForFinished();
}

#ifdef Q_OS_UNIX
SilentLine::SilentLine() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
        path_ = QString::fromLocal8Bit(::ptsname(master_));
}

SilentLine::~SilentLine() {
    if (master_ >= 0) ::close(master_);
}
#endif

QJsonObject json(const QString& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
    return doc.object();
}

bool writeEep(const QString& path, const BlockList& blocks, quint16 hwid) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    const QByteArray bytes = serializeEep(blocks, hwid);
    return f.write(bytes) == bytes.size();
}

BlockList readEep(const QString& path, quint16* hwid) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const Result<EepContents> c = parseEep(f.readAll(), path);
    if (!c) return {};
    if (hwid) *hwid = c->hwid;
    return c->blocks;
}

BlockList inventedBlocks(int count, int maxLength, quint32 seed) {
    std::mt19937 rng(seed);
    BlockList out;
    QList<int> used;
    while (out.size() < count) {
        const bool full = rng() % 3 != 0;
        const int id = full ? 5000 + int(rng() % 400) : int(rng() % 150);
        if (used.contains(id)) continue;
        used << id;
        QByteArray data;
        const int length = 1 + int(rng() % quint32(maxLength));
        for (int i = 0; i < length; ++i)
            data.append(char(rng() & 0xFF));
        out.append({qint16(id), data, quint8(rng() & 0xFF)});
    }
    std::sort(out.begin(), out.end(),
              [](const EEPBlock& a, const EEPBlock& b) { return a.BlockId < b.BlockId; });
    return out;
}

} // namespace x45::test
