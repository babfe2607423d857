#pragma once
// Subcommands of x45eep-cli. Each returns the process exit code: 0 done, 1 failed, aborted or
// stopped, 2 usage error. args holds the subcommand's own arguments (argv[0] is the subcommand).

#include <QStringList>

namespace x45::cli {

int runInfo(const QStringList& args);    // cli_info.cpp
int runList(const QStringList& args);    // cli_files.cpp
int runConvert(const QStringList& args); // cli_files.cpp
int runCompare(const QStringList& args); // cli_files.cpp
int runRead(const QStringList& args);    // cli_transfer.cpp
int runWrite(const QStringList& args);   // cli_transfer.cpp
int runDelete(const QStringList& args);  // cli_transfer.cpp
int runPorts(const QStringList& args);   // cli_ports.cpp

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

} // namespace x45::cli
