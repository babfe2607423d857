#pragma once
// What an operation shows while it runs: the status text, the progress bar, the busy pointer.

#include <QString>

namespace x45 {

class Progress {
public:
    virtual ~Progress() = default;

    virtual void setStatus(const QString& text) = 0;
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    // Hourglass while files are read or written.
    virtual void setBusy(bool busy) = 0;
    // A long file is being read: `done` of `total` lines. A window keeps repainting here.
    virtual void readProgress(qsizetype done, qsizetype total) {
        (void)done;
        (void)total;
    }
};

} // namespace x45
