// x45eep-cli ports: the serial ports the system reports, to tell the cables apart.

#include "cli_json.h"
#include "commands.h"
#include "options.h"

#include <QSerialPortInfo>
#include <cstdio>

namespace x45::cli {

namespace {

QString usbId(const QSerialPortInfo& p) {
    if (!p.hasVendorIdentifier() || !p.hasProductIdentifier()) return QString();
    return QStringLiteral("%1:%2")
        .arg(p.vendorIdentifier(), 4, 16, QLatin1Char('0'))
        .arg(p.productIdentifier(), 4, 16, QLatin1Char('0'));
}

// Tabs inside a field would start a column.
QString field(QString text) {
    return text.replace(QLatin1Char('\t'), QLatin1Char(' '));
}

} // namespace

int runPorts(const QStringList& args) {
    CommandLine cmd(QStringLiteral("ports"), QString(),
                    QStringLiteral("Lists the serial ports the system reports, one line per port: "
                                   "device, description, manufacturer, serial number and USB "
                                   "vendor:product, separated by tabs (empty when unknown)."));
    addJsonOption(cmd);
    cmd.setEpilog(QStringLiteral("\"No serial port found.\" goes to stderr when there is none.\n\n"
                                 "Exit status: 0 listed (also when there is none); 2 usage "
                                 "error."));
    if (const auto done = cmd.parse(args)) return *done;
    if (!cmd.positional().isEmpty())
        return cmd.usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(cmd.positional().first()));
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (jsonWanted(cmd)) {
        printJson(portsJson(ports));
        return ExitOk;
    }
    if (ports.isEmpty()) std::fputs("No serial port found.\n", stderr);
    for (const QSerialPortInfo& p : ports) {
        const QStringList cells = {field(p.systemLocation()), field(p.description()),
                                   field(p.manufacturer()), field(p.serialNumber()), usbId(p)};
        std::printf("%s\n", cells.join(QLatin1Char('\t')).toLocal8Bit().constData());
    }
    std::fflush(stdout);
    return ExitOk;
}

} // namespace x45::cli
