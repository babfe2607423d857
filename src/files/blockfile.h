#pragma once
// Single-block files: the block's contents as raw bytes (.bin) or as hex text (.txt), each with an
// id file (.bid/.tid) carrying the block number, its version and the list's hardware id. Loading
// one is blockfileload.cpp, planning the files of a save blockfilesave.cpp; the id file, the hex
// text and the reading of input files have headers of their own, included here.

#include "base/result.h"
#include "blocks/eepblock.h"
#include "files/hexlines.h"
#include "files/idfile.h"
#include "files/inputfile.h"
#include "files/loadcontext.h"
#include "files/safefile.h"

#include <QString>
#include <QVector>

namespace x45 {

// Loads the block of one .bin/.txt data file (with its id file, or with the number and version
// asked through the "Load custom block file" dialog when the id file is absent) into ctx.blocks.
// An empty data file with its id file is a block of no bytes.
// The load goes on: the block was taken. It ends (saying why): the dialog was cancelled, the id
// file lacks its key words, or the data file is absent (missing, or empty without an id file);
// no block is added and the list is left as it was. A failure: a number out of range, an id file
// that ends early, an unreadable file (a folder, pipe or device included), or a full list; the
// message says which.
[[nodiscard]] StepResult loadBlockFile(const QString& path, LoadContext& ctx);

// The files that save the blocks at the 0-based positions selectedRows (in that order), with
// their bytes: data file, then its id file. One block is saved as `path` itself; several as
// `path` with "_" and the block number inserted before its last four characters. A failure names
// the file and the reason; writeFilesTogether then replaces them all together or not at all.
[[nodiscard]] Result<QVector<PlannedFile>> planBlockFiles(const QString& path,
                                                          const BlockList& blocks,
                                                          const QVector<int>& selectedRows,
                                                          quint16 hwid);

// True for names whose last three characters are "txt" in any case.
[[nodiscard]] bool isHexTextName(const QString& path);

} // namespace x45
