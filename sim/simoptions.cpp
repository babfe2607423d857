#include "simoptions.h"

#include "blocks/eepblock.h"

#include <algorithm>
#include <optional>
#include <utility>

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

using x45::ErrorKind;
using x45::Status;

constexpr int MaxText = 200;

Status badOption(const QString& message) {
    return Status::fail(ErrorKind::BadInput, message);
}

// The options that take a number, with its range and what the number sets.
struct NumberOption {
    const char* name;
    qint64 lo, hi;
    const char* range; // the words of the message for a value outside lo..hi
    void (*set)(SimOptions& out, qint64 n);
};

const NumberOption NumberOptions[] = {
    {"--hwid", -32768, 65535, "give a number from -32768 to 65535.",
     [](SimOptions& o, qint64 n) {
         o.config.hwid = static_cast<quint16>(n);
         o.hwidGiven = true;
     }},
    {"--sw", 0, 255, "give a byte value from 0 to 255.",
     [](SimOptions& o, qint64 n) { o.config.sw = static_cast<quint8>(n); }},
    {"--eelite-size", 0, 0x7FFFFFFF, "give a byte count from 0 to 2147483647.",
     [](SimOptions& o, qint64 n) { o.config.eeliteCapacity = n; }},
    {"--eefull-size", 0, 0x7FFFFFFF, "give a byte count from 0 to 2147483647.",
     [](SimOptions& o, qint64 n) { o.config.eefullCapacity = n; }},
    {"--max-eelite", x45::LowestBlockNumber, x45::HighestBlockNumber,
     "give a block number from -32768 to 32767.",
     [](SimOptions& o, qint64 n) { o.config.maxEElite = static_cast<qint16>(n); }},
    {"--max-eefull", x45::LowestBlockNumber, x45::HighestBlockNumber,
     "give a block number from -32768 to 32767.",
     [](SimOptions& o, qint64 n) { o.config.maxEEfull = static_cast<qint16>(n); }},
    {"--latency", 0, 600000, "give milliseconds from 0 to 600000.",
     [](SimOptions& o, qint64 n) { o.config.latency = std::chrono::milliseconds(n); }},
    {"--interim", 0, 1000, "give a count from 0 to 1000.",
     [](SimOptions& o, qint64 n) { o.config.interim = static_cast<int>(n); }},
    {"--seed", 0, 0xFFFFFFFFLL, "give a number from 0 to 4294967295.",
     [](SimOptions& o, qint64 n) { o.seed = static_cast<quint32>(n); }},
};

// The options that take a file name, and where it goes.
const std::pair<const char*, QString SimOptions::*> PathOptions[] = {
    {"--link", &SimOptions::link},   {"--log", &SimOptions::log},
    {"--eeprom", &SimOptions::eeprom}, {"--dump", &SimOptions::dump},
    {"--stats", &SimOptions::stats}, {"--gaps", &SimOptions::gaps},
};

// A whole number within lo..hi (0x... or decimal); nullopt for anything else.
std::optional<qint64> number(const QString& text, qint64 lo, qint64 hi) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok, 0);
    if (!ok || v < lo || v > hi) return std::nullopt;
    return v;
}

bool takesValue(const QString& name) {
    static const QStringList others = {QStringLiteral("--model"), QStringLiteral("--lang"),
                                       QStringLiteral("--imei"), QStringLiteral("--fault")};
    if (others.contains(name)) return true;
    for (const auto& [option, field] : PathOptions)
        if (name == QLatin1String(option)) return true;
    for (const NumberOption& option : NumberOptions)
        if (name == QLatin1String(option.name)) return true;
    return false;
}

// A flag; false when `name` is none.
bool takeFlag(const QString& name, SimOptions& out) {
    if (name == QLatin1String("--help") || name == QLatin1String("-h"))
        out.help = true;
    else if (name == QLatin1String("--strict"))
        out.strict = true;
    else if (name == QLatin1String("--pace"))
        out.pace = true;
    else if (name == QLatin1String("--no-speed-switch"))
        out.config.acceptSpeedSwitch = false;
    else
        return false;
    return true;
}

// An option that takes a value; a failure names it (an unknown one too).
Status takeValue(const QString& name, const QString& value, SimOptions& out) {
    const auto bad = [&](const QString& what) {
        return badOption(QStringLiteral("%1 %2: %3").arg(name, value, what));
    };
    for (const auto& [option, field] : PathOptions)
        if (name == QLatin1String(option)) {
            out.*field = value;
            return Status::ok();
        }
    for (const NumberOption& option : NumberOptions) {
        if (name != QLatin1String(option.name)) continue;
        const std::optional<qint64> n = number(value, option.lo, option.hi);
        if (!n) return bad(QLatin1String(option.range));
        option.set(out, *n);
        return Status::ok();
    }
    if (name == QLatin1String("--model") || name == QLatin1String("--lang")) {
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
    } else { // --fault
        const x45::Result<Fault> f = parseFault(value);
        if (!f) return f.status();
        out.faults.push_back(f.value());
    }
    return Status::ok();
}

} // namespace

x45::Result<SimOptions> parseSimOptions(const QStringList& args) {
    SimOptions out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        const bool joined = eq > 0 && name.startsWith(QLatin1String("--"));
        if (joined) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        if (takeFlag(name, out)) continue;
        if (!takesValue(name))
            return badOption(QStringLiteral("Unknown option %1; see --help.").arg(args[i]));
        if (!joined) {
            if (i + 1 >= args.size()) return badOption(QStringLiteral("%1 needs a value.").arg(name));
            value = args[++i];
        }
        if (Status taken = takeValue(name, value, out); !taken) return taken;
    }
    return out;
}

} // namespace x45sim
