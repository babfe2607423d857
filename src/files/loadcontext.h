#pragma once
// What a format's reader gets when "Load" hands it one file of the selection, and what it tells
// the load to do next.

#include "blocks/eepblock.h"
#include "link/interaction.h"

#include <QString>

namespace x45 {

enum class FileStep {
    Continue, // go on with the next file
    EndLoad,  // end the load early; what is in the list so far is kept, sorted and shown
    Reject,   // the file is unusable: show `error`, and the User's list stays as before the load
};

struct LoadContext {
    BlockList& blocks; // the User's list being built (a working copy)
    quint16& hwid;     // the User's list's hardware id being built
    int number;        // 1-based position of the file in the selection; file 1 empties the list
    Interaction& ui;
    QString error;     // the message for Reject, naming the file and what is wrong
};

} // namespace x45
