// x45eep: the window.

#include "mainform.h"

#include "link/qtserialport.h"

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
    parser.addOption(portOption);
    parser.addOption(descriptionsOption);
    parser.addOption(screenshotOption);
    parser.addOption(screenshotDelayOption);
    parser.process(app);

    x45::QtSerialPort port;
    x45::ui::MainForm form(port);
    if (parser.isSet(portOption)) form.addPortChoice(parser.value(portOption), true);
    form.loadDescriptions(parser.value(descriptionsOption));
    form.show();

    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        bool ok = false;
        const int delay = parser.value(screenshotDelayOption).toInt(&ok);
        QTimer::singleShot(ok ? delay : 1500, &form, [&form, file] {
            if (!form.grab().save(file))
                qWarning("cannot save the screenshot to %s", qPrintable(file));
            QApplication::quit();
        });
    }
    return app.exec();
}
