#pragma once
// InitMap mapping files (.map), read only: sections "[n]" name blocks; DATA, VERSION, OFFSET,
// SERVICE and PRODUCT lines give their contents, versions and the list's hardware id.

#include "files/loadcontext.h"

#include <QByteArray>
#include <QString>

namespace x45 {

// Loads the blocks of one mapping file into ctx.blocks and its PRODUCT into ctx.hwid.
// EndLoad: the file is missing or empty (an empty one is deleted), or it ends inside a data
// block ("Possible corrupted mapping file!" is shown and the list is emptied). Reject: a version,
// section number or PRODUCT out of range, or an unreadable file; ctx is then left untouched.
[[nodiscard]] FileStep loadMapFile(const QString& path, LoadContext& ctx);

// The same on the file's bytes; `path` names the file in the question and in messages.
[[nodiscard]] FileStep readMapText(const QByteArray& bytes, const QString& path, LoadContext& ctx);

} // namespace x45
