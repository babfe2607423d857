#pragma once
// What a format's reader gets when "Load" hands it one file of the selection, and what it tells
// the load to do next.

#include "base/result.h"
#include "blocks/eepblock.h"
#include "person/interaction.h"

#include <QString>
#include <QVector>

namespace x45 {

// What the load does after a file that could be used.
struct FileStep {
    // False: go on with the next file. True: end the load early; what is in the list so far is
    // kept, sorted and shown.
    bool endsLoad = false;
    QString why; // endsLoad: why, naming the file, for a front end that says it
};
[[nodiscard]] inline FileStep nextFile() {
    return {};
}
[[nodiscard]] inline FileStep endLoad(QString why) {
    return {true, std::move(why)};
}

// A reader's verdict on one file: the step the load takes next, or why the file is unusable (the
// User's list then stays exactly as before the load).
using StepResult = Result<FileStep>;

// A line of an input file that does not read as its format wants; the load goes on as before
// (the line gives what the lenient reading makes of it) and the line is reported afterwards.
struct LoadProblem {
    QString file; // the path as shown to the person
    int line = 0; // 1-based
    QString text; // the line's start as lineExcerpt gives it
    QString what; // what is wrong with it
    int unlisted = 0; // lines of the same file after this one that do not read either
};

// Lines of one file kept in a list of problems; the others are only counted, in the last one
// kept, so that a file of a million bad lines costs no more than one of a few.
constexpr int ProblemsKeptPerFile = 3;

// Adds `problem` to `problems` (nothing when there is no list), or counts it when its file has
// ProblemsKeptPerFile lines there already.
inline void noteProblem(QVector<LoadProblem>* problems, LoadProblem problem) {
    if (!problems) return;
    int kept = 0;
    for (qsizetype i = problems->size() - 1; i >= 0 && (*problems)[i].file == problem.file; --i)
        ++kept;
    if (kept < ProblemsKeptPerFile)
        problems->append(std::move(problem));
    else
        ++problems->last().unlisted;
}

// Every line the list stands for, the counted ones included.
[[nodiscard]] inline qsizetype problemCount(const QVector<LoadProblem>& problems) {
    qsizetype count = 0;
    for (const LoadProblem& p : problems)
        count += 1 + p.unlisted;
    return count;
}

struct LoadContext {
    BlockList& blocks; // the User's list being built (a working copy)
    quint16& hwid;     // the User's list's hardware id being built
    int number;        // 1-based position of the file in the selection
    Interaction& ui;
    QVector<LoadProblem>* problems = nullptr; // lines that do not read are added here

    // The list a file's blocks are merged into: the first file of a selection starts afresh.
    [[nodiscard]] BlockList startingList() const { return number == 1 ? BlockList() : blocks; }
};

} // namespace x45
