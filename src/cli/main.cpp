// x45eep-cli: the command line over the same operations as the window.

#include "commands.h"
#include "options.h"
#include "terminal.h"

#include "files/syspath.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace x45::cli;
    // Before anything opens a file or a port: a closed output must not take one's place.
    keepStandardStreamsHarmless();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("x45eep-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(X45_VERSION));
    // File names as the system gives them, so that no two names become one.
    QStringList args = x45::argumentsAsGiven(argc, argv);
    args.removeFirst();
    const QByteArray usage = usageText().toUtf8();
    if (args.isEmpty()) {
        std::fputs(usage.constData(), stderr);
        return ExitUsage;
    }
    const QString name = args.first();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        std::fputs(usage.constData(), stdout);
        return ExitOk;
    }
    if (name == QLatin1String("--version")) {
        std::printf("x45eep-cli %s\n", X45_VERSION);
        return ExitOk;
    }
    // A phone command's --trace that could not be written completely fails the command.
    if (const Command* command = findCommand(name))
        return withTraceOutcome(runCommand(*command, args));
    std::fprintf(stderr, "x45eep-cli: unknown command \"%s\"\n%s", qPrintable(name),
                 usage.constData());
    return ExitUsage;
}
