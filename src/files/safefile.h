#pragma once
// Writing a file so that the old contents survive any failure: the new bytes go to a temporary
// file beside it, which replaces the old file only once it is complete.

#include "link/status.h"

#include <QByteArray>
#include <QString>

namespace x45 {

// Replaces (or creates) `path` with `bytes`. On failure (no permission, no space, a folder of
// that name) the old file is left exactly as it was and the message names the file and why.
[[nodiscard]] Status writeFileSafely(const QString& path, const QByteArray& bytes);

} // namespace x45
