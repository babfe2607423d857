#pragma once
// The commands of x45eep-cli. One table (commands.cpp) gives each command's name, usage line,
// options, help texts and handler; the general usage text, every "COMMAND --help" and the
// dispatch are made from it. Exit codes: 0 done, 1 failed, aborted or stopped, 2 usage error.

#include <QString>
#include <QStringList>
#include <span>

namespace x45::cli {

class CommandLine;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

struct Command {
    const char* name;        // "info", "read"...
    const char* synopsis;    // the arguments after the name, in both usage texts
    const char* summary;     // its line in the general usage text
    const char* description; // the paragraph under the usage line of its --help
    // Adds its options, its arguments (none: any argument is a usage error) and the text after
    // the options in its --help.
    void (*declare)(CommandLine& cmd);
    // Runs it on the parsed command line; returns the exit code.
    int (*run)(const CommandLine& cmd);
};

[[nodiscard]] std::span<const Command> commands();
// The command of that name; nullptr when there is none.
[[nodiscard]] const Command* findCommand(const QString& name);
// The text of "x45eep-cli --help".
[[nodiscard]] QString usageText();
// Parses args (args[0] is the command's name) with the command's options and runs it.
[[nodiscard]] int runCommand(const Command& command, const QStringList& args);

// The handlers of the table.
int runInfo(const CommandLine& cmd);    // cli_info.cpp
int runRead(const CommandLine& cmd);    // cli_transfer.cpp
int runWrite(const CommandLine& cmd);   // cli_transfer.cpp
int runDelete(const CommandLine& cmd);  // cli_transfer.cpp
int runList(const CommandLine& cmd);    // cli_files.cpp
int runConvert(const CommandLine& cmd); // cli_files.cpp
int runCompare(const CommandLine& cmd); // cli_files.cpp
int runShow(const CommandLine& cmd);    // cli_files.cpp
int runPorts(const CommandLine& cmd);   // cli_ports.cpp

} // namespace x45::cli
