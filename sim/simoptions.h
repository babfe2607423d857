#pragma once
// Command line of the x45sim program.

#include "base/result.h"
#include "faults.h"
#include "simphone.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace x45sim {

struct SimOptions {
    SimConfig config;
    bool hwidGiven = false; // otherwise the hardware id of --eeprom's file is used
    std::vector<Fault> faults;
    quint32 seed = 1;
    QString link;   // symlink to the pseudo-terminal
    QString log;    // every frame both ways
    QString eeprom; // .eep loaded at start
    QString dump;   // .eep written at the end
    QString stats;  // line figures written at the end
    QString gaps;   // the idle gaps' times written at the end
    bool strict = false;
    bool pace = false;
    bool help = false;
};

[[nodiscard]] QString simUsage();

// Parses the arguments (without the program name); a failure names the bad option.
[[nodiscard]] x45::Result<SimOptions> parseSimOptions(const QStringList& args);

} // namespace x45sim
