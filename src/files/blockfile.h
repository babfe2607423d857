#pragma once
// Single-block files: the block's contents as raw bytes (.bin) or as hex text (.txt), each with an
// id file (.bid/.tid) carrying the block number, its version and the list's hardware id.

#include "base/status.h"
#include "blocks/eepblock.h"
#include "files/loadcontext.h"
#include "files/safefile.h"
#include "person/interaction.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

namespace x45 {

// Files larger than this are refused instead of being read into memory: no EEPROM block or
// mapping file comes anywhere near it.
constexpr qint64 MaxInputFileSize = 64LL * 1024 * 1024;

// Loads the block of one .bin/.txt data file (with its id file, or with the number and version
// asked through the "Load custom block file" dialog when the id file is absent) into ctx.blocks.
// An empty data file with its id file is a block of no bytes.
// Continue: the block was taken. EndLoad: the dialog was cancelled, the id file lacks its key
// words, or the data file is absent (missing, or empty without an id file); no block is added
// and the list is left as it was. A failure: a number out of range, an id file that ends early,
// or an unreadable file (a folder, pipe or device included); the message says which.
[[nodiscard]] StepResult loadBlockFile(const QString& path, LoadContext& ctx);

// The files that save the blocks at the 0-based positions selectedRows (in that order), with
// their bytes: data file, then its id file. One block is saved as `path` itself; several as
// `path` with "_" and the block number inserted before its last four characters. A failure names
// the file and the reason; writeFilesTogether then replaces them all together or not at all.
[[nodiscard]] Status planBlockFiles(const QString& path, const BlockList& blocks,
                                    const QVector<int>& selectedRows, quint16 hwid,
                                    QVector<PlannedFile>& files);

// --- Pieces of the above, usable on bytes ---

// The id file's name: the data file's name without its last two characters, plus "id".
[[nodiscard]] QString idFileNameOf(const QString& dataPath);
// The data file name of one of several saved blocks: "_" + number before the last four characters.
[[nodiscard]] QString numberedFileName(const QString& path, qint16 blockId);
// True for names whose last three characters are "txt" in any case.
[[nodiscard]] bool isHexTextName(const QString& path);

struct BlockIdInfo {
    qint16 blockId = 0;
    quint8 version = 0;
    quint16 hwid = 0; // 0 when the file has no hardware id lines
};

// Reads the lines of an id file: its values; nullopt when a line lacks EEPROM, BLOCKID or
// BLOCKVER (the load then ends without a message); a failure when the file ends early or holds a
// number out of range. `name` is used in the message and in `problems`, which gets every number
// line that holds no number or more than one (the value is read leniently all the same).
[[nodiscard]] Result<std::optional<BlockIdInfo>>
parseIdFile(const QByteArray& bytes, const QString& name, QVector<LoadProblem>* problems = nullptr);
// The text of an id file, lines ended by CR LF.
[[nodiscard]] QByteArray idFileText(const BlockIdInfo& info);

// The block's bytes from hex text: each line with blanks removed through HexToBytes. A line that
// does not read in full is added to `problems` under `name`.
[[nodiscard]] ByteStr parseHexText(const QByteArray& text, const QString& name = {},
                                   QVector<LoadProblem>* problems = nullptr);
// The hex text of a block: BytesToHexLines, each line ended by CR LF.
[[nodiscard]] QByteArray hexText(const ByteStr& data);

// Reads a whole input file; no bytes when it is missing or empty (`present` tells which). A
// failure when it cannot be read, is too large, or is no regular file (a pipe or device is not
// waited on). Nothing is deleted: an empty file may be the only trace of something the person
// keeps.
[[nodiscard]] Result<QByteArray> readInputFile(const QString& path, bool* present = nullptr);
// readInputFile for a format's reader: nullopt when the file was read into `bytes`, otherwise the
// reader's verdict (EndLoad for an absent file, the failure for an unreadable one).
[[nodiscard]] std::optional<StepResult> readForLoad(const QString& path, QByteArray& bytes,
                                                    LoadContext& ctx);

} // namespace x45
