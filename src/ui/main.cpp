// x45eep: the window.

#include "mainform.h"

#include "link/qtserialport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// --help and --version are answered before the window system is contacted, so they work
// without a display.
bool asksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0) break;
        for (const char* o : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(a, o) == 0) return true;
    }
    return false;
}

bool hasVariable(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Where Qt would fail to reach a display and abort, says so in one line. Only X11 and Wayland
// desktops are checked; a platform chosen on purpose (-platform, QT_QPA_PLATFORM) is left to Qt,
// except X11 without DISPLAY.
bool displayMissing(int argc, char** argv) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return false;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return std::strncmp(platform, "xcb", 3) == 0 && !hasVariable("DISPLAY");
    return !hasVariable("DISPLAY") && !hasVariable("WAYLAND_DISPLAY");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return false;
#endif
}

// The window's options besides --help and --version.
struct Options {
    QCommandLineOption port{
        QStringLiteral("port"),
        QStringLiteral("Adds the serial port PATH to the port list and selects it."),
        QStringLiteral("PATH")};
    QCommandLineOption press{
        QStringLiteral("press"),
        QStringLiteral("Presses the button named NAME (e.g. LoadPhonesButton) after the start-up "
                       "actions, in the order given, each once the one before has ended "
                       "(repeatable)."),
        QStringLiteral("NAME")};
    QCommandLineOption load{
        QStringLiteral("load"),
        QStringLiteral("Loads FILE into the User's list at start, as \"Load\" does (repeatable)."),
        QStringLiteral("FILE")};
    QCommandLineOption init{QStringLiteral("init"),
                            QStringLiteral("Presses \"Init\" once the window is shown.")};
    QCommandLineOption descriptions{
        QStringLiteral("descriptions"),
        QStringLiteral("Reads block descriptions from FILE instead of eeprom.dsc."),
        QStringLiteral("FILE")};
    QCommandLineOption screenshot{
        QStringLiteral("screenshot"),
        QStringLiteral("Saves a picture of the window to FILE after DELAY ms (default 1500) and "
                       "quits."),
        QStringLiteral("FILE")};
    QCommandLineOption screenshotDelay{QStringLiteral("screenshot-delay"),
                                       QStringLiteral("Delay before --screenshot, in ms."),
                                       QStringLiteral("DELAY"), QStringLiteral("1500")};

    void addTo(QCommandLineParser& parser) const {
        for (const QCommandLineOption* o :
             {&port, &press, &load, &init, &descriptions, &screenshot, &screenshotDelay})
            parser.addOption(*o);
    }
};

// Presses the named buttons in turn, each once the window is idle again.
class ButtonPresser : public QObject {
public:
    ButtonPresser(x45::ui::MainForm& form, QStringList names)
        : QObject(&form), form_(form), names_(std::move(names)) {
        connect(&form, &x45::ui::MainForm::idle, this, &ButtonPresser::pressNext);
    }
    void pressNext() {
        while (!names_.isEmpty() && !form_.busy()) {
            const QString name = names_.takeFirst();
            auto* button = form_.findChild<QAbstractButton*>(name);
            if (!button)
                qWarning("no button named %s", qPrintable(name));
            else if (button->isEnabled())
                button->click();
        }
    }

private:
    x45::ui::MainForm& form_;
    QStringList names_;
};

// The scripted start: files loaded, "Init", the buttons pressed.
void startScripted(x45::ui::MainForm& form, const QCommandLineParser& parser, const Options& o) {
    QStringList presses = parser.values(o.press);
    if (parser.isSet(o.init)) presses.prepend(QStringLiteral("StartButton"));
    auto* presser = new ButtonPresser(form, presses);
    const QStringList toLoad = parser.values(o.load);
    QTimer::singleShot(0, &form, [&form, toLoad, presser] {
        if (!toLoad.isEmpty()) form.loadUserFiles(toLoad);
        presser->pressNext();
    });
}

// --screenshot: the picture, then a stop of what runs, the session ended and the window closed.
void scheduleScreenshot(x45::ui::MainForm& form, const QString& file, const QString& delayText) {
    bool ok = false;
    const int delay = delayText.toInt(&ok);
    QTimer::singleShot(ok ? delay : 1500, &form, [&form, file] {
        if (!form.grab().save(file)) qWarning("cannot save the screenshot to %s", qPrintable(file));
        form.stopAndClose();
        // A question left open would hold the close: the program ends regardless.
        QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
    });
}

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/x45eep-%1.png").arg(size), QSize(size, size));
    return icon;
}

// The application object: a plain one for --help and --version, which need no display.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool helpOnly) {
    if (helpOnly) return std::make_unique<QCoreApplication>(argc, argv);
    if (displayMissing(argc, argv)) {
        std::fputs("x45eep: no display found (DISPLAY and WAYLAND_DISPLAY are not set); start it "
                   "in a desktop session, or use x45eep-cli on the command line.\n",
                   stderr);
        return nullptr;
    }
    return std::make_unique<QApplication>(argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    const bool helpOnly = asksForHelpOrVersion(argc, argv);
    const std::unique_ptr<QCoreApplication> app = makeApplication(argc, argv, helpOnly);
    if (!app) return 1;
    QCoreApplication::setApplicationName(QStringLiteral("x45eep"));
    QCoreApplication::setApplicationVersion(QStringLiteral(X45_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Manages the EEPROM of x45-generation phones through their Service Mode."));
    parser.addHelpOption();
    parser.addVersionOption();
    const Options options;
    options.addTo(parser);
    parser.process(*app);
    if (helpOnly) return 0; // help and version end the program inside process()

    QApplication::setWindowIcon(programIcon());
    x45::ui::MainForm form([] { return std::make_unique<x45::QtSerialPort>(); });
    if (parser.isSet(options.port)) form.addPortChoice(parser.value(options.port), true);
    form.loadDescriptions(parser.value(options.descriptions));
    form.show();
    startScripted(form, parser, options);
    if (parser.isSet(options.screenshot))
        scheduleScreenshot(form, parser.value(options.screenshot),
                           parser.value(options.screenshotDelay));
    return QCoreApplication::exec();
}
