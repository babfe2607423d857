#pragma once
// The --json output of x45eep-cli: one JSON document on stdout per command. Keys are stable and
// listed in x45eep-cli(1); numbers are JSON numbers. Errors still go to stderr as text.

#include "blocks/compare.h"
#include "blocks/eepblock.h"
#include "transfer/transfer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSerialPortInfo>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

namespace x45 {
class Session;
}

namespace x45::cli {

class CommandLine;

// Adds --json to a command.
void addJsonOption(CommandLine& cmd);
[[nodiscard]] bool jsonWanted(const CommandLine& cmd);

// Writes the document to stdout, indented, and flushes.
void printJson(const QJsonObject& object);

// "info": identity, the six space counters and whether the port runs with low latency
// (nullopt: the port does not support the setting).
[[nodiscard]] QJsonObject infoJson(const Session& session, std::optional<bool> lowLatency);

// "list": the list's hardware id and one object per row.
[[nodiscard]] QJsonObject listJson(const BlockList& blocks, quint16 hwid,
                                   const std::function<QString(const EEPBlock&)>& describe);

// "compare": the three lists of block numbers.
[[nodiscard]] QJsonObject compareJson(const CompareResult& result);
// "compare --bytes": for each different block its two versions' version and length and the
// ranges where their bytes differ, with both sides' bytes in hex.
[[nodiscard]] QJsonArray byteDiffJson(const BlockList& a, const BlockList& b,
                                      const QList<int>& different);

// "ports": one object per serial port the system reports.
[[nodiscard]] QJsonObject portsJson(const QList<QSerialPortInfo>& ports);

// The end of a read, write or delete run, filled by the command from what it knows.
struct RunSummary {
    QString command;  // "read", "write", "delete"
    QString result;   // "completed", "stopped", "cancelled", "portLost", "failed", "unverified"
    int done = 0;     // blocks read, written or deleted
    int skipped = 0;  // passed over after a failure ("ignore") or refused
    int notFound = 0; // listed numbers the phone does not hold
    std::optional<QVector<qint32>> notDone; // listed numbers not done, when the run tells
    QString file; // the file written (read) or the backup (delete); empty if none
    int retried = 0;        // failed attempts that were tried again
    int resynchronised = 0; // times the link was brought back into step
    int verified = 0;       // blocks confirmed by a second read
    QVector<qint32> unverified; // written blocks whose read-back differed
};
// The summary's fields a run result gives.
[[nodiscard]] RunSummary summaryOf(const QString& command, const RunResult& r);
[[nodiscard]] QJsonObject summaryJson(const RunSummary& summary);
// The "result" text of a run's end.
[[nodiscard]] QString runEndName(Outcome end);

} // namespace x45::cli
