// x45eep-cli info: starts a session, prints the phone's identity and EEPROM space, ends it.

#include "cli_json.h"
#include "commands.h"
#include "options.h"

#include <cstdio>

namespace x45::cli {

namespace {

QString numberOrEmpty(quint16 value) {
    return value != 0 ? QString::number(value) : QString();
}

// Five identity values, then the six space counters (EEFULL first, as the window shows them),
// each as "Caption: value".
QStringList infoLines(const Session& session) {
    const PhoneIdentity& id = session.identity;
    QStringList out;
    out << QStringLiteral("Phone model: ") + id.PhoneModel
        << QStringLiteral("Mobile SW ver: ") + numberOrEmpty(id.PhoneSWVer)
        << QStringLiteral("Hardware ver: ") + numberOrEmpty(id.PhoneHWid)
        << QStringLiteral("Lang Group: ") + id.PhoneLangGroup
        << QStringLiteral("IMEI: ") + id.PhoneIMEI;
    const auto space = [&out](const char* area, const EEPSpace& s) {
        out << QStringLiteral("%1 free in buffer.: %2").arg(QLatin1String(area)).arg(s.FreeInBuffer)
            << QStringLiteral("%1 free at all.: %2").arg(QLatin1String(area)).arg(s.FreeAtAll)
            << QStringLiteral("%1 free for deleted.: %2")
                   .arg(QLatin1String(area))
                   .arg(s.FreeForDeleted);
    };
    space("EEFULL", session.EEfullSpace);
    space("EELITE", session.EEliteSpace);
    return out;
}

} // namespace

int runInfo(const CommandLine& cmd) {
    TerminalInteraction ui;
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd.port(), cmd.waitSeconds()); code != ExitOk) return code;
    ui.endLine();
    std::optional<bool> lowLatency;
    if (const auto* serial = qobject_cast<const QtSerialPort*>(&phone.port());
        serial && serial->lowLatency() != QtSerialPort::LowLatency::Unsupported)
        lowLatency = serial->lowLatency() == QtSerialPort::LowLatency::On;
    if (jsonWanted(cmd)) {
        printJson(infoJson(phone.session(), lowLatency));
    } else {
        QStringList lines = infoLines(phone.session());
        lines << QStringLiteral("Low latency: ") +
                     (!lowLatency   ? QStringLiteral("not supported by the port")
                      : *lowLatency ? QStringLiteral("on")
                                    : QStringLiteral("off"));
        for (const QString& line : std::as_const(lines))
            std::printf("%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
    }
    phone.end();
    return ExitOk;
}

} // namespace x45::cli
