#include "terminal.h"

#include "transfer/progressrate.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#else
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#endif

namespace x45::cli {

namespace {

const char* buttonName(Button b) {
    switch (b) {
    case Button::Ok:
        return "OK";
    case Button::Cancel:
        return "Cancel";
    case Button::Abort:
        return "Abort";
    case Button::Retry:
        return "Retry";
    case Button::Ignore:
        return "Ignore";
    case Button::Yes:
        return "Yes";
    case Button::No:
        return "No";
    }
    return "?";
}

const char* rewriteName(RewriteAnswer code) {
    switch (code) {
    case RewriteAnswer::Yes:
        return "Yes";
    case RewriteAnswer::No:
        return "No";
    case RewriteAnswer::YesAll:
        return "Yes for all";
    case RewriteAnswer::NoAll:
        return "No for all";
    case RewriteAnswer::Cancel:
        break;
    }
    return "Cancel";
}

} // namespace

TerminalInteraction::TerminalInteraction() : interactive_(isatty(fileno(stderr)) != 0) {}

TerminalInteraction::~TerminalInteraction() {
    endLine();
}

void TerminalInteraction::endLine() {
    if (lineOpen_) {
        std::fputs("\n", stderr);
        lineOpen_ = false;
    }
}

void TerminalInteraction::print(const QString& text) {
    if (muted_) return;
    endLine();
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

Button TerminalInteraction::message(const QString& text, const QString& title, Buttons buttons,
                                    Icon, Button) {
    const bool ownTitle = !title.isEmpty() && title != AppTitle;
    print(ownTitle ? QStringLiteral("%1: %2").arg(title, text) : text);
    Button answer = Button::Ok;
    switch (buttons) {
    case Buttons::Ok:
        return Button::Ok;
    case Buttons::YesNo:
        answer = Button::No; // a question no flag answers: the harmless choice
        break;
    case Buttons::AbortRetryIgnore:
        answer = onError;
        if (answer == Button::Retry && retriesGiven_ >= maxRetries) answer = Button::Abort;
        break;
    case Buttons::RetryCancel:
        answer = (onError == Button::Retry && retriesGiven_ < maxRetries) ? Button::Retry
                                                                          : Button::Cancel;
        break;
    }
    if (answer == Button::Retry) ++retriesGiven_;
    print(QStringLiteral("  -> %1").arg(QLatin1String(buttonName(answer))));
    return answer;
}

bool TerminalInteraction::askYesNo(YesNoQuestion question, const QString& text,
                                  const QString& title, Icon) {
    print(title.isEmpty() ? text : QStringLiteral("%1: %2").arg(title, text));
    const bool answer = question == YesNoQuestion::IncludeSkipped ? includeSkipped : yes;
    print(QStringLiteral("  -> %1").arg(answer ? QStringLiteral("Yes") : QStringLiteral("No")));
    return answer;
}

RewriteAnswer TerminalInteraction::askRewrite(const QString& question) {
    const RewriteAnswer answer = overwrite.value_or(RewriteAnswer::Cancel);
    print(QStringLiteral("%1\n  -> %2").arg(question, QLatin1String(rewriteName(answer))));
    return answer;
}

BlockInfoTexts TerminalInteraction::askBlockInfo(const QString& message) {
    print(message);
    if (blockNumber.trimmed().isEmpty())
        print(QStringLiteral("  -> Cancel (give the block with --block N [--version V])"));
    return {blockNumber.trimmed(), blockVersion.trimmed()};
}

void TerminalInteraction::setStatus(const QString& text) {
    status_ = text;
    drawLine();
}

void TerminalInteraction::setProgressRange(int minimum, int maximum) {
    progressMin_ = minimum;
    progressMax_ = maximum;
    progressValue_ = minimum;
}

void TerminalInteraction::setProgressValue(int value) {
    progressValue_ = value;
    drawLine();
}

void TerminalInteraction::setProgressDetail(const ProgressDetail& detail) {
    detail_ = detail;
    drawLine();
}

QString paceText(const ProgressDetail& d) {
    const QStringList parts = paceParts(d);
    return parts.isEmpty() ? QString() : QLatin1Char(' ') + parts.join(QStringLiteral(", "));
}

void TerminalInteraction::drawLine() {
    if (!interactive_ || statusHeld_ || muted_) return;
    QString line = status_;
    const int span = progressMax_ - progressMin_;
    if (!detail_.empty()) {
        line += paceText(detail_);
    } else if (span > 0 && progressValue_ > progressMin_) {
        const int done = qBound(0, progressValue_ - progressMin_, span);
        line += QStringLiteral(" %1/%2 (%3%)").arg(done).arg(span).arg(done * 100 / span);
    }
    // \r plus clear-to-end keeps one line that is redrawn in place.
    std::fprintf(stderr, "\r%s\033[K", line.toLocal8Bit().constData());
    std::fflush(stderr);
    lineOpen_ = true;
}

// ---- Ctrl-C, SIGTERM, SIGHUP ----

namespace {

// The handler sets the running operation's stop request itself (a lock-free atomic store, safe
// in a signal handler): the operation sees it when its wait on the port ends, as it sees a press
// of "Stop".
std::atomic<StopRequest*> stopTarget{nullptr};
std::atomic<int> interrupts{0};     // Ctrl-C presses
std::atomic<bool> signalled{false}; // any stop signal
static_assert(std::atomic<StopRequest*>::is_always_lock_free);

// Writes a fixed text on stderr with write(2), the one way to print from a signal handler.
template <std::size_t N> void say(const char (&text)[N]) {
#ifdef Q_OS_UNIX
    [[maybe_unused]] auto n = ::write(STDERR_FILENO, text, N - 1);
#else
    // The handler runs on a thread of its own here.
    std::fputs(text, stderr);
    std::fflush(stderr);
#endif
}

extern "C" void onStopSignal(int sig) {
    signalled.store(true);
    // Only a person presses Ctrl-C twice; a hang-up or a terminate signal may come more than once
    // and must not cut the run short in the middle of a block.
    if (sig == SIGINT && interrupts.fetch_add(1) >= 1) {
#ifdef Q_OS_UNIX
        say("\ninterrupted\n");
        ::_exit(130);
#else
        std::_Exit(130);
#endif
    }
    StopRequest* target = stopTarget.load();
    if (target && !target->requested()) {
        target->request();
        if (sig == SIGINT)
            say("\nStopping... (Ctrl-C again to quit at once)\n");
        else
            say("\nSignal to end received; stopping at the next safe point...\n");
    }
#ifndef Q_OS_UNIX
    std::signal(sig, onStopSignal);
#endif
}

} // namespace

void keepStandardStreamsHarmless() {
#ifdef Q_OS_UNIX
    ::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open() takes the lowest free descriptor: this one.
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) ::close(null);
        }
#endif
}

bool stopSignalled() {
    return signalled.load();
}

StopOnInterrupt::StopOnInterrupt(StopRequest& stop) : previous_(stopTarget.load()) {
    installStopOnInterrupt(stop);
}

StopOnInterrupt::~StopOnInterrupt() {
    stopTarget.store(previous_);
}

void installStopOnInterrupt(StopRequest& stop) {
    stopTarget.store(&stop);
    static bool installed = false;
    if (installed) return;
    installed = true;
#ifdef Q_OS_UNIX
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
    for (const int sig : stopSignals) // one handler at a time: they never interleave their lines
        sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESTART;
    for (const int sig : stopSignals)
        ::sigaction(sig, &sa, nullptr);
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#endif
}

} // namespace x45::cli
