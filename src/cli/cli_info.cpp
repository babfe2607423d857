#include "commands.h"
#include <cstdio>
namespace x45::cli {
int runInfo(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
}
