// x45eep: the window.

#include "mainform.h"

#include "link/qtserialport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("x45eep"));
    QApplication::setApplicationVersion(QStringLiteral(X45_VERSION));

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
            // Closing first stops a start that is still scanning.
            form.close();
            QApplication::quit();
        });
    }
    return app.exec();
}
