#pragma once
// What a format's reader gets when "Load" hands it one file of the selection, and what it tells
// the load to do next.

#include "base/result.h"
#include "blocks/eepblock.h"
#include "person/interaction.h"

#include <QString>
#include <QVector>

namespace x45 {

enum class FileStep {
    Continue, // go on with the next file
    EndLoad,  // end the load early; what is in the list so far is kept, sorted and shown
};

// A reader's verdict on one file: the step the load takes next, or why the file is unusable (the
// User's list then stays exactly as before the load).
using StepResult = Result<FileStep>;

// A line of an input file that does not read as its format wants; the load goes on as before
// (the line gives what the lenient reading makes of it) and the line is reported afterwards.
struct LoadProblem {
    QString file; // the path as shown to the person
    int line = 0; // 1-based
    QString text; // the line as it is in the file
    QString what; // what is wrong with it
};

struct LoadContext {
    BlockList& blocks; // the User's list being built (a working copy)
    quint16& hwid;     // the User's list's hardware id being built
    int number;        // 1-based position of the file in the selection
    Interaction& ui;
    QString endReason; // EndLoad: why the load ended (empty when it needs no words)
    QVector<LoadProblem>* problems = nullptr; // lines that do not read are added here

    // The list a file's blocks are merged into: the first file of a selection starts afresh.
    [[nodiscard]] BlockList startingList() const { return number == 1 ? BlockList() : blocks; }
};

} // namespace x45
