#pragma once
// What "x45eep-cli info" prints.

#include <QStringList>

namespace x45 {
class Session;
}

namespace x45::cli {

// The lines for a session: five identity values, then the six space counters (EEFULL first, as
// the window shows them), each as "Caption: value".
[[nodiscard]] QStringList infoLines(const Session& session);

} // namespace x45::cli
