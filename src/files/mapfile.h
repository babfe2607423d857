#pragma once
// InitMap mapping files (.map), read only: sections "[n]" name blocks; DATA, VERSION, OFFSET,
// SERVICE and PRODUCT lines give their contents, versions and the list's hardware id.

#include "files/loadcontext.h"

#include <QByteArray>
#include <QString>

namespace x45 {

// Loads the blocks of one mapping file into ctx.blocks and its PRODUCT into ctx.hwid.
// Lines that do not read (a data line that is not pairs of hex digits, a VERSION or PRODUCT
// without one clean number) go to ctx.problems.
// The load ends (saying why): the file is missing or empty (it stays on the disk), or it ends
// inside a data block ("Possible corrupted mapping file!" is shown and the list is emptied). A
// failure: a version, section number or PRODUCT out of range (kind BadInput), a full list, or an
// unreadable file; ctx is then left untouched.
[[nodiscard]] StepResult loadMapFile(const QString& path, LoadContext& ctx);

// The same on the file's bytes; `path` names the file in the question and in messages.
[[nodiscard]] StepResult readMapText(const QByteArray& bytes, const QString& path, LoadContext& ctx);

} // namespace x45
