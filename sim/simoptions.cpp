#include "simoptions.h"

namespace x45sim {

QString simUsage() {
    return QStringLiteral(
        "Usage: x45sim [options]\n"
        "A simulated x45 phone in service mode behind a pseudo-terminal. The first line printed\n"
        "is the terminal's device path; point the tool's port at it.\n"
        "\n"
        "  --link PATH          also make PATH a symlink to the terminal\n"
        "  --strict             exit with code 3 if any malformed request came\n"
        "  --log FILE           write every frame both ways, in hex, with a timestamp\n"
        "  --hwid N             hardware id (0x... or decimal, any 16-bit pattern)\n"
        "  --model TEXT         model name          --lang TEXT   language group\n"
        "  --sw N               software byte (0x45 reads as version 45)\n"
        "  --imei DIGITS        IMEI, 15 digits\n"
        "  --eelite-size N      EElite capacity in bytes    --eefull-size N  EEfull capacity\n"
        "  --max-eelite N       answer MaxBlockQuery for EElite with N (--max-eefull likewise)\n"
        "  --no-speed-switch    leave BaudQuery unanswered and stay at 57600 baud\n"
        "  --eeprom FILE.eep    blocks to hold at start\n"
        "  --dump FILE.eep      save the blocks held when the program ends\n"
        "  --pace               every byte takes its wire time (10 bits at the line's speed)\n"
        "  --latency MS         pause before each reply\n"
        "  --interim N          N interim replies before each WBlockInfo/WBlockData reply\n"
        "  --fault KIND[:k=v,...]  repeatable; KIND: noreply badheader badtrailer wrongsub cut\n"
        "                       extra trickle delay scannoise interim late dup marker bitrot; keys: cmd sub skip n p k\n"
        "                       (example: --fault cut:cmd=0x14,sub=0x05,n=2,k=3)\n"
        "  --seed N             seed of the fault probabilities\n"
        "  --stats FILE         with --pace: bytes, wire time, requests and the idle gaps of\n"
        "                       the service session (the boot handshake's waits not counted)\n"
        "  --gaps FILE          with --pace: each idle gap's reply end and request arrival,\n"
        "                       nanoseconds of the system's monotonic clock\n"
        "  --help               this text\n"
        "Ends on SIGTERM or SIGINT after writing --dump, --stats and --gaps.\n");
}

namespace {

constexpr int MaxText = 200;

bool number(const QString& text, qint64 lo, qint64 hi, qint64& out) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok, 0);
    if (!ok || v < lo || v > hi) return false;
    out = v;
    return true;
}

} // namespace

QString parseSimOptions(const QStringList& args, SimOptions& out) {
    static const QStringList valued = {
        QStringLiteral("--link"),        QStringLiteral("--log"),
        QStringLiteral("--hwid"),        QStringLiteral("--model"),
        QStringLiteral("--sw"),          QStringLiteral("--lang"),
        QStringLiteral("--imei"),        QStringLiteral("--eeprom"),
        QStringLiteral("--dump"),        QStringLiteral("--latency"),
        QStringLiteral("--interim"),     QStringLiteral("--fault"),
        QStringLiteral("--seed"),        QStringLiteral("--stats"),
        QStringLiteral("--gaps"),        QStringLiteral("--eelite-size"),
        QStringLiteral("--eefull-size"), QStringLiteral("--max-eelite"),
        QStringLiteral("--max-eefull")};
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('='));
            eq > 0 && name.startsWith(QLatin1String("--"))) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        } else if (valued.contains(name)) {
            if (i + 1 >= args.size()) return QStringLiteral("%1 needs a value.").arg(name);
            value = args[++i];
        }
        const auto bad = [&](const QString& what) {
            return QStringLiteral("%1 %2: %3").arg(name, value, what);
        };
        qint64 n = 0;
        if (name == QLatin1String("--help") || name == QLatin1String("-h"))
            out.help = true;
        else if (name == QLatin1String("--strict"))
            out.strict = true;
        else if (name == QLatin1String("--pace"))
            out.pace = true;
        else if (name == QLatin1String("--no-speed-switch"))
            out.config.acceptSpeedSwitch = false;
        else if (name == QLatin1String("--link"))
            out.link = value;
        else if (name == QLatin1String("--log"))
            out.log = value;
        else if (name == QLatin1String("--eeprom"))
            out.eeprom = value;
        else if (name == QLatin1String("--dump"))
            out.dump = value;
        else if (name == QLatin1String("--stats"))
            out.stats = value;
        else if (name == QLatin1String("--gaps"))
            out.gaps = value;
        else if (name == QLatin1String("--model") || name == QLatin1String("--lang")) {
            // The reply frame holds at most 255 payload bytes.
            if (value.size() > MaxText || value.contains(QChar(0)))
                return bad(QStringLiteral("give at most %1 characters.").arg(MaxText));
            (name == QLatin1String("--model") ? out.config.model : out.config.langGroup) =
                value.toLatin1();
        } else if (name == QLatin1String("--imei")) {
            if (value.size() != 15 ||
                !std::all_of(value.begin(), value.end(), [](QChar c) { return c.isDigit(); }))
                return bad(QStringLiteral("an IMEI has 15 digits."));
            out.config.imei = value.toLatin1();
        } else if (name == QLatin1String("--hwid")) {
            if (!number(value, -32768, 65535, n))
                return bad(QStringLiteral("give a number from -32768 to 65535."));
            out.config.hwid = static_cast<quint16>(n);
            out.hwidGiven = true;
        } else if (name == QLatin1String("--sw")) {
            if (!number(value, 0, 255, n))
                return bad(QStringLiteral("give a byte value from 0 to 255."));
            out.config.sw = static_cast<quint8>(n);
        } else if (name == QLatin1String("--eelite-size") ||
                   name == QLatin1String("--eefull-size")) {
            if (!number(value, 0, 0x7FFFFFFF, n))
                return bad(QStringLiteral("give a byte count from 0 to 2147483647."));
            (name == QLatin1String("--eelite-size") ? out.config.eeliteCapacity
                                                    : out.config.eefullCapacity) = n;
        } else if (name == QLatin1String("--max-eelite") || name == QLatin1String("--max-eefull")) {
            if (!number(value, -32768, 32767, n))
                return bad(QStringLiteral("give a block number from -32768 to 32767."));
            (name == QLatin1String("--max-eelite") ? out.config.maxEElite : out.config.maxEEfull) =
                static_cast<qint16>(n);
        } else if (name == QLatin1String("--latency")) {
            if (!number(value, 0, 600000, n))
                return bad(QStringLiteral("give milliseconds from 0 to 600000."));
            out.config.latency = std::chrono::milliseconds(n);
        } else if (name == QLatin1String("--interim")) {
            if (!number(value, 0, 1000, n))
                return bad(QStringLiteral("give a count from 0 to 1000."));
            out.config.interim = static_cast<int>(n);
        } else if (name == QLatin1String("--seed")) {
            if (!number(value, 0, 0xFFFFFFFFLL, n))
                return bad(QStringLiteral("give a number from 0 to 4294967295."));
            out.seed = static_cast<quint32>(n);
        } else if (name == QLatin1String("--fault")) {
            QString error;
            const std::optional<Fault> f = parseFault(value, &error);
            if (!f) return error;
            out.faults.push_back(*f);
        } else {
            return QStringLiteral("Unknown option %1; see --help.").arg(args[i]);
        }
    }
    return {};
}

} // namespace x45sim
