#include "commands.h"
#include <cstdio>
namespace x45::cli {
int runRead(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
int runWrite(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
int runDelete(const QStringList&) { std::fputs("not built yet\n", stderr); return ExitUsage; }
}
