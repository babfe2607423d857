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

} // namespace

int main(int argc, char** argv) {
    std::unique_ptr<QCoreApplication> appHolder;
    const bool helpOnly = asksForHelpOrVersion(argc, argv);
    if (helpOnly) {
        appHolder = std::make_unique<QCoreApplication>(argc, argv);
    } else if (displayMissing(argc, argv)) {
        std::fputs("x45eep: no display found (DISPLAY and WAYLAND_DISPLAY are not set); start it "
                   "in a desktop session, or use x45eep-cli on the command line.\n",
                   stderr);
        return 1;
    } else {
        appHolder = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication& app = *appHolder;
    QCoreApplication::setApplicationName(QStringLiteral("x45eep"));
    QCoreApplication::setApplicationVersion(QStringLiteral(X45_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Manages the EEPROM of x45-generation phones through their Service Mode."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Adds the serial port PATH to the port list and selects it."),
        QStringLiteral("PATH"));
    const QCommandLineOption descriptionsOption(
        QStringLiteral("descriptions"),
        QStringLiteral("Reads block descriptions from FILE instead of eeprom.dsc."),
        QStringLiteral("FILE"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        QStringLiteral(
            "Saves a picture of the window to FILE after DELAY ms (default 1500) and quits."),
        QStringLiteral("FILE"));
    const QCommandLineOption screenshotDelayOption(
        QStringLiteral("screenshot-delay"), QStringLiteral("Delay before --screenshot, in ms."),
        QStringLiteral("DELAY"), QStringLiteral("1500"));
    const QCommandLineOption loadOption(
        QStringLiteral("load"),
        QStringLiteral("Loads FILE into the User's list at start, as \"Load\" does (repeatable)."),
        QStringLiteral("FILE"));
    const QCommandLineOption initOption(
        QStringLiteral("init"), QStringLiteral("Presses \"Init\" once the window is shown."));
    const QCommandLineOption pressOption(
        QStringLiteral("press"),
        QStringLiteral("Presses the button named NAME (e.g. LoadPhonesButton) after the start-up "
                       "actions, in the order given (repeatable)."),
        QStringLiteral("NAME"));
    parser.addOption(portOption);
    parser.addOption(pressOption);
    parser.addOption(loadOption);
    parser.addOption(initOption);
    parser.addOption(descriptionsOption);
    parser.addOption(screenshotOption);
    parser.addOption(screenshotDelayOption);
    parser.process(app);
    if (helpOnly) return 0; // help and version end the program inside process()

    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/x45eep-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    x45::QtSerialPort port;
    x45::ui::MainForm form(port);
    if (parser.isSet(portOption)) form.addPortChoice(parser.value(portOption), true);
    form.loadDescriptions(parser.value(descriptionsOption));
    form.show();

    const QStringList toLoad = parser.values(loadOption);
    const bool init = parser.isSet(initOption);
    const QStringList presses = parser.values(pressOption);
    QTimer::singleShot(0, &form, [&form, toLoad, init, presses] {
        if (!toLoad.isEmpty()) {
            form.setOpenChooser([toLoad] { return toLoad; });
            form.LoadUsersButton_Click();
            form.setOpenChooser({});
        }
        if (init) form.StartButton_Click();
        for (const QString& name : presses) {
            auto* button = form.findChild<QAbstractButton*>(name);
            if (!button) {
                qWarning("no button named %s", qPrintable(name));
                continue;
            }
            if (button->isEnabled()) button->click();
        }
    });

    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        bool ok = false;
        const int delay = parser.value(screenshotDelayOption).toInt(&ok);
        QTimer::singleShot(ok ? delay : 1500, &form, [&form, file] {
            if (!form.grab().save(file))
                qWarning("cannot save the screenshot to %s", qPrintable(file));
            // A start or a run still going is stopped first, and the session ended.
            form.closeWhenIdle();
            QApplication::quit();
        });
    }
    return app.exec();
}
