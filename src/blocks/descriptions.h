#pragma once
// The description table read from "eeprom.dsc": three-line records (block number, text, hardware
// id) in file order. Each list row shows the text of the first record for its block number, and
// with the hardware check on only records whose hardware id equals the list's.

#include "base/status.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace x45 {

struct DescriptionEntry {
    qint16 blockId = 0;
    quint16 hwid = 0; // the 16-bit pattern (-1 and 65535 are the same id)
    QString text;     // shown unchanged, leading blanks included
};

class Descriptions {
public:
    // The file name looked for.
    static inline const QString FileName = QStringLiteral("eeprom.dsc");

    // Replaces the table with the records of this text. Lines end in LF or CR LF. A last record
    // cut short is ignored; a record whose block number or hardware id does not fit 16 bits is
    // skipped. Text is UTF-8 when the bytes are valid UTF-8, otherwise Latin-1. Returns the
    // number of records skipped (cut short or out of range).
    int parse(const QByteArray& bytes);

    // Reads the file at `path`. A missing or empty file leaves the table empty without a
    // failure; a file that cannot be read (or is too large to be a description file) fails.
    [[nodiscard]] Status loadFile(const QString& path);

    // Where "eeprom.dsc" is looked for, in this order: the current folder, beside the program,
    // then the application's and the generic data folders. Empty when none exists.
    [[nodiscard]] static QString locate();

    // The text of the first matching record, or an empty string: a record matches when its block
    // number equals blockId and, with checkHWid, its hardware id equals hwid.
    [[nodiscard]] QString describe(qint16 blockId, quint16 hwid, bool checkHWid) const;
    [[nodiscard]] const QVector<DescriptionEntry>& entries() const { return entries_; }
    [[nodiscard]] bool isEmpty() const { return entries_.isEmpty(); }
    [[nodiscard]] qsizetype size() const { return entries_.size(); }
    // Messages for records that were skipped while parsing (line numbers and the reason).
    [[nodiscard]] const QStringList& warnings() const { return warnings_; }
    void clear();

private:
    QVector<DescriptionEntry> entries_;
    QHash<qint16, QVector<int>> byBlock_; // positions of each number's records, in file order
    QStringList warnings_;
};

} // namespace x45
