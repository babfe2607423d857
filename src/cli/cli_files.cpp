#include "commands.h"
#include <cstdio>
namespace x45::cli {
int runList(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
int runConvert(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
int runCompare(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
}
