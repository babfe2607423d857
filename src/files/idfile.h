#pragma once
// The id file of a single-block file (.bid beside .bin, .tid beside .txt): the block number, its
// version and the list's hardware id, as lines of text; and the names of the files of a save.

#include "base/result.h"
#include "files/loadcontext.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

namespace x45 {

// The id file's name: the data file's name without its last two characters, plus "id".
[[nodiscard]] QString idFileNameOf(const QString& dataPath);
// The data file name of one of several saved blocks: "_" + number before the last four characters.
[[nodiscard]] QString numberedFileName(const QString& path, qint16 blockId);

struct BlockIdInfo {
    qint16 blockId = 0;
    quint8 version = 0;
    quint16 hwid = 0; // 0 when the file has no hardware id lines
};

// Reads the lines of an id file: its values; nullopt when a line lacks EEPROM, BLOCKID or
// BLOCKVER (the file is no id file: the load then ends); a failure (kind BadInput) when the file
// ends early or holds a number out of range. `name` is used in the message and in `problems`,
// which gets every number line that holds no number or more than one (the value is read
// leniently all the same).
[[nodiscard]] Result<std::optional<BlockIdInfo>>
parseIdFile(const QByteArray& bytes, const QString& name, QVector<LoadProblem>* problems = nullptr);
// The text of an id file, lines ended by CR LF.
[[nodiscard]] QByteArray idFileText(const BlockIdInfo& info);

} // namespace x45
