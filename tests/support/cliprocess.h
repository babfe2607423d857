#pragma once
// End-to-end helpers: the x45sim program behind its pseudo-terminal, and runs of x45eep-cli.

#include "blocks/eepblock.h"

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace x45::test {

struct CliRun {
    int exitCode = -1; // -2: crashed; -1: did not finish in time (killed)
    QString out;
    QString err;
    qint64 ms = 0;
};

[[nodiscard]] CliRun runCli(const QStringList& args, int timeoutMs = 60000);

// The simulated phone program; its first output line is the terminal to open.
class SimProgram {
public:
    explicit SimProgram(const QStringList& args);
    ~SimProgram();
    SimProgram(const SimProgram&) = delete;
    SimProgram& operator=(const SimProgram&) = delete;

    [[nodiscard]] const QString& path() const { return path_; }
    [[nodiscard]] QProcess& process() { return proc_; }
    // Ends it (SIGTERM, so --dump and --stats are written); returns its exit code.
    int finish(QString* err = nullptr);
    // Ends it at once, as a pulled cable would.
    void kill();

private:
    QProcess proc_;
    QString path_;
};

#ifdef Q_OS_UNIX
// A pseudo-terminal with nobody behind it: the scan is never answered.
class SilentLine {
public:
    SilentLine();
    ~SilentLine();
    SilentLine(const SilentLine&) = delete;
    SilentLine& operator=(const SilentLine&) = delete;
    [[nodiscard]] const QString& path() const { return path_; }

private:
    int master_ = -1;
    QString path_;
};
#endif

// The JSON object a command printed (empty, and a failure, when it is none).
[[nodiscard]] QJsonObject json(const QString& text);

// Writes an .eep file; false on failure.
bool writeEep(const QString& path, const BlockList& blocks, quint16 hwid);
// Reads an .eep file (empty list when unreadable); hwid set when given.
[[nodiscard]] BlockList readEep(const QString& path, quint16* hwid = nullptr);

// A phone's worth of invented blocks: count blocks spread over both areas, lengths 1..maxLength.
[[nodiscard]] BlockList inventedBlocks(int count, int maxLength, quint32 seed);

} // namespace x45::test
