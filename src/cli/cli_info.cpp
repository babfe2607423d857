// x45eep-cli info: starts a session, prints the phone's identity and EEPROM space, ends it.

#include "cli_info.h"
#include "cli_json.h"
#include "commands.h"
#include "options.h"

#include <cstdio>

namespace x45::cli {

namespace {

const char* const InfoEpilog = R"(Output, one value per line on stdout, always in this order:
  Phone model: TEXT
  Mobile SW ver: N
  Hardware ver: N
  Lang Group: TEXT
  IMEI: TEXT
  EEFULL free in buffer.: N
  EEFULL free at all.: N
  EEFULL free for deleted.: N
  EELITE free in buffer.: N
  EELITE free at all.: N
  EELITE free for deleted.: N
  Low latency: on|off|not supported by the port
A value the phone did not report is left empty after the colon; the space counters are in bytes
and print 0 when the phone did not answer the space query. "Low latency" tells whether the
port's driver holds short replies back (off) or passes them on at once (on); on Linux the
program asks for it when it opens the port.
With --json one object is printed instead (keys in x45eep-cli(1)).

Exit status: 0 identified; 1 failed or stopped (the reason is on stderr); 2 usage error.)";

QString numberOrEmpty(quint16 value) {
    return value != 0 ? QString::number(value) : QString();
}

} // namespace

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

int runInfo(const QStringList& args) {
    CommandLine cmd(QStringLiteral("info"), QStringLiteral("--port P [--wait SECONDS]"),
                    QStringLiteral("Boots the phone on port P into Service Mode, prints its "
                                   "identity and EEPROM space, and ends the session."));
    cmd.addPortOptions();
    addJsonOption(cmd);
    cmd.setEpilog(QString::fromLatin1(InfoEpilog));
    if (const auto done = cmd.parse(args)) return *done;
    if (!cmd.positional().isEmpty())
        return cmd.usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(cmd.positional().first()));

    TerminalInteraction ui;
    PhoneConnection phone(ui);
    if (const int code = phone.start(cmd); code != ExitOk) return code;
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
