// x45eep-cli: the command line over the same operations as the window.

#include "commands.h"
#include "options.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

namespace {

const char* const Usage = R"(usage: x45eep-cli COMMAND [OPTIONS]

Manages the EEPROM of x45-generation phones in Service Mode over a serial cable.

Commands:
  info     --port P [--wait SECONDS]         identify the phone, show its EEPROM space
  read     --port P [--blocks LIST] --out FILE
                                             read all (or the listed) blocks into FILE
  write    --port P (--all | --blocks LIST) FILE...
                                             write blocks from files to the phone
  delete   --port P --blocks LIST            delete blocks on the phone
  list     FILE...                           print the blocks of dump files
  convert  FILE... --out FILE [--blocks LIST]
                                             load files and save them in another format
  compare  FILE_A FILE_B                     compare two dumps
  ports                                      list the serial ports the system reports

P is a serial device (/dev/ttyUSB0) or COM1..COM4. Messages and progress go to stderr, results
to stdout; --json prints the result of info, list, compare, ports, read, write and delete as
JSON (see x45eep-cli(1)). Ctrl-C stops a running phone operation at its next safe point; a second Ctrl-C quits.

Exit status: 0 done, 1 failed, aborted or stopped, 2 usage error.

Run "x45eep-cli COMMAND --help" for the options of a command.
)";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("x45eep-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(X45_VERSION));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        std::fputs(Usage, stderr);
        return x45::cli::ExitUsage;
    }
    const QString command = args.first();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(Usage, stdout);
        return x45::cli::ExitOk;
    }
    if (command == QLatin1String("--version")) {
        std::printf("x45eep-cli %s\n", X45_VERSION);
        return x45::cli::ExitOk;
    }
    using namespace x45::cli;
    // A phone command's trace that could not be written completely fails the command.
    if (command == QLatin1String("info")) return withTraceOutcome(runInfo(args));
    if (command == QLatin1String("list")) return runList(args);
    if (command == QLatin1String("convert")) return runConvert(args);
    if (command == QLatin1String("compare")) return runCompare(args);
    if (command == QLatin1String("read")) return withTraceOutcome(runRead(args));
    if (command == QLatin1String("write")) return withTraceOutcome(runWrite(args));
    if (command == QLatin1String("delete")) return withTraceOutcome(runDelete(args));
    if (command == QLatin1String("ports")) return runPorts(args);
    std::fprintf(stderr, "x45eep-cli: unknown command \"%s\"\n%s", qPrintable(command), Usage);
    return ExitUsage;
}
