#include "terminal.h"

#include "transfer/progressrate.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
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

StopRequest* stopTarget = nullptr;
std::atomic<int> interrupts{0};     // Ctrl-C presses
std::atomic<bool> signalled{false}; // any stop signal

#ifdef Q_OS_UNIX
int wakePipe[2] = {-1, -1};

extern "C" void onStopSignal(int sig) {
    signalled.store(true);
    // Only a person presses Ctrl-C twice; a hang-up or a terminate signal may come more than once
    // and must not cut the run short in the middle of a block.
    if (sig == SIGINT && interrupts.fetch_add(1) >= 1) {
        static const char msg[] = "\ninterrupted\n";
        [[maybe_unused]] auto n = ::write(STDERR_FILENO, msg, sizeof msg - 1);
        ::_exit(130);
    }
    const char byte = static_cast<char>(sig);
    [[maybe_unused]] auto n = ::write(wakePipe[1], &byte, 1);
}
#else
extern "C" void onStopSignal(int sig) {
    signalled.store(true);
    if (sig == SIGINT && interrupts.fetch_add(1) >= 1) std::_Exit(130);
    std::signal(sig, onStopSignal);
}
#endif

void requestStop(bool interrupt) {
    if (stopTarget && !stopTarget->requested()) {
        stopTarget->request();
        std::fputs(interrupt ? "\nStopping... (Ctrl-C again to quit at once)\n"
                             : "\nSignal to end received; stopping at the next safe point...\n",
                   stderr);
        std::fflush(stderr);
    }
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

StopOnInterrupt::StopOnInterrupt(StopRequest& stop) : previous_(stopTarget) {
    installStopOnInterrupt(stop);
}

StopOnInterrupt::~StopOnInterrupt() {
    stopTarget = previous_;
}

void installStopOnInterrupt(StopRequest& stop) {
    stopTarget = &stop;
    static bool installed = false;
    if (installed) return;
    installed = true;
#ifdef Q_OS_UNIX
    if (::pipe(wakePipe) != 0) return;
    for (int fd : wakePipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // The notifier wakes a wait that blocks in the event loop.
    auto* notifier =
        new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buf[16];
        bool interrupt = false, any = false;
        for (ssize_t n; (n = ::read(wakePipe[0], buf, sizeof buf)) > 0;)
            for (ssize_t i = 0; i < n; ++i) {
                any = true;
                interrupt = interrupt || buf[i] == SIGINT;
            }
        if (any) requestStop(interrupt);
    });
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    // The handler runs on another thread here; a short poll carries the request over.
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, poll, [] {
        if (signalled.load()) requestStop(interrupts.load() > 0);
    });
    poll->start(100);
#endif
}

} // namespace x45::cli
