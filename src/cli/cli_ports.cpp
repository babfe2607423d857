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

int runPorts(const CommandLine& cmd) {
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
