#include "faults.h"

#include "base/bytes.h"
#include <link/link.h>
#include <link/protocol.h>

namespace x45sim {

namespace {

using namespace std::chrono_literals;
// Between interim replies and before the real one: long enough for the tool to take each
// interim reply on its own before the next bytes arrive.
constexpr std::chrono::milliseconds InterimGap = 20ms;

struct KindName {
    FaultKind kind;
    const char* name;
    int defaultParam;
};

constexpr KindName Kinds[] = {
    {FaultKind::NoReply, "noreply", 0},
    {FaultKind::BadHeader, "badheader", 0},
    {FaultKind::BadTrailer, "badtrailer", 0},
    {FaultKind::WrongSub, "wrongsub", 0},
    {FaultKind::Cut, "cut", 3},
    {FaultKind::Extra, "extra", 3},
    {FaultKind::Trickle, "trickle", 2},
    {FaultKind::Delay, "delay", 200},
    {FaultKind::ScanNoise, "scannoise", 3},
    {FaultKind::Interim, "interim", 1},
    {FaultKind::Late, "late", 1300},
    {FaultKind::Dup, "dup", 20},
    {FaultKind::Marker, "marker", 0},
    {FaultKind::Bitrot, "bitrot", 0},
};

int defaultParam(FaultKind kind) {
    for (const auto& k : Kinds)
        if (k.kind == kind) return k.defaultParam;
    return 0;
}

int paramOf(const Fault& f) {
    return f.param >= 0 ? f.param : defaultParam(f.kind);
}

// Recomputes the block-protocol trailer so that a deliberate change stays the only fault.
void fixTrailer(QByteArray& reply) {
    if (reply.size() >= 5 && x45::byteAt(reply, 0) == x45::proto::BlockCmd)
        reply[reply.size() - 1] = static_cast<char>(x45::xorSum(reply, reply.size() - 1));
}

} // namespace

QString faultKindName(FaultKind kind) {
    for (const auto& k : Kinds)
        if (k.kind == kind) return QString::fromLatin1(k.name);
    return QStringLiteral("?");
}

x45::Result<Fault> parseFault(const QString& text) {
    auto fail = [&](const QString& why) {
        return x45::Result<Fault>::fail(x45::ErrorKind::BadInput,
                                        QStringLiteral("Bad fault \"%1\": %2").arg(text, why));
    };
    const QString kindText = text.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    Fault f;
    bool known = false;
    for (const auto& k : Kinds)
        if (kindText == QLatin1String(k.name)) {
            f.kind = k.kind;
            known = true;
        }
    if (!known) {
        QStringList names;
        for (const auto& k : Kinds)
            names << QString::fromLatin1(k.name);
        return fail(QStringLiteral("unknown kind; use one of ") + names.join(QStringLiteral(", ")));
    }
    const QString rest = text.section(QLatin1Char(':'), 1);
    for (const QString& item : rest.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = item.section(QLatin1Char('='), 1).trimmed();
        bool ok = false;
        if (key == QLatin1String("p")) {
            f.probability = value.toDouble(&ok);
            if (!ok || f.probability < 0 || f.probability > 1)
                return fail(QStringLiteral("p must be a number from 0 to 1"));
            continue;
        }
        const int n = value.toInt(&ok, 0); // accepts 0x.. as well as decimal
        if (!ok || n < 0)
            return fail(QStringLiteral("%1 needs a whole number of 0 or more").arg(key));
        if (key == QLatin1String("cmd") && n <= 0xFF)
            f.cmd = n;
        else if (key == QLatin1String("sub") && n <= 0xFF)
            f.sub = n;
        else if (key == QLatin1String("skip"))
            f.skip = n;
        else if (key == QLatin1String("n"))
            f.count = n;
        else if (key == QLatin1String("k") || key == QLatin1String("ms"))
            f.param = n;
        else
            return fail(QStringLiteral("unknown key or value out of range: %1").arg(item));
    }
    return f;
}

bool FaultPlan::strikes(Fault& f, int cmd, int sub) {
    if ((f.cmd >= 0 && f.cmd != cmd) || (f.sub >= 0 && f.sub != sub)) return false;
    ++f.matched;
    if (f.matched <= f.skip || (f.count > 0 && f.matched > f.skip + f.count)) return false;
    if (f.probability < 1.0) {
        std::uniform_real_distribution<double> dist(0.0, 1.0);
        if (dist(rng_) >= f.probability) return false;
    }
    ++f.hits;
    return true;
}

void FaultPlan::spoil(const Fault& f, Spoiling& s) {
    QByteArray& bytes = s.bytes;
    const int k = paramOf(f);
    switch (f.kind) {
    case FaultKind::NoReply:
        s.lost = true;
        break;
    case FaultKind::BadHeader:
        if (bytes.size() >= 3) bytes[2] = static_cast<char>(bytes[2] ^ 0x01);
        break;
    case FaultKind::BadTrailer:
        if (!bytes.isEmpty())
            bytes[bytes.size() - 1] = static_cast<char>(bytes[bytes.size() - 1] ^ 0x01);
        break;
    case FaultKind::WrongSub:
        if (bytes.size() >= 4) {
            bytes[3] = static_cast<char>(bytes[3] ^ 0x40);
            fixTrailer(bytes);
        }
        break;
    case FaultKind::Cut:
        bytes.truncate(k);
        break;
    case FaultKind::Extra:
        bytes.append(QByteArray(k, '\xEE'));
        break;
    case FaultKind::Trickle:
        s.trickleMs = k;
        break;
    case FaultKind::Delay:
    case FaultKind::Late:
        s.delay += std::chrono::milliseconds(k);
        break;
    case FaultKind::Dup:
        s.dupAfter = k;
        break;
    case FaultKind::Marker:
        bytes = x45::Link::blockFrame(x45::proto::NoSuchBlock, {});
        break;
    case FaultKind::Interim:
        s.interims += k;
        break;
    case FaultKind::ScanNoise:
    case FaultKind::Bitrot:
        break;
    }
}

void FaultPlan::send(const Spoiling& s, Emissions& out) {
    if (s.bytes.isEmpty()) return; // cut to nothing: the phone acted but nothing reached the line
    if (s.trickleMs >= 0) {
        for (qsizetype i = 0; i < s.bytes.size(); ++i)
            out.push_back(
                {s.bytes.mid(i, 1), i == 0 ? s.delay : std::chrono::milliseconds(s.trickleMs)});
    } else {
        out.push_back({s.bytes, s.delay});
    }
    if (s.dupAfter >= 0) out.push_back({s.bytes, std::chrono::milliseconds(s.dupAfter)});
}

bool FaultPlan::apply(int cmd, int sub, const QByteArray& reply, Emissions& out) {
    Spoiling s{reply};
    for (Fault& f : faults_)
        if (f.kind != FaultKind::ScanNoise && f.kind != FaultKind::Bitrot && strikes(f, cmd, sub))
            spoil(f, s);
    if (s.interims > 0) {
        // Each interim reply on its own, as a busy phone sends them, so that the tool takes each
        // one alone and waits again.
        for (int i = 0; i < s.interims; ++i)
            out.push_back(
                {x45::Link::blockFrame(x45::proto::Interim, {}), i == 0 ? s.delay : InterimGap});
        s.delay = InterimGap;
    }
    if (s.lost) return false;
    send(s, out);
    return true;
}

bool FaultPlan::rotsStore(int cmd, int sub) {
    bool rots = false;
    for (Fault& f : faults_)
        if (f.kind == FaultKind::Bitrot && strikes(f, cmd, sub)) rots = true;
    return rots;
}

QByteArray FaultPlan::scanNoise() {
    QByteArray noise;
    for (Fault& f : faults_) {
        if (f.kind != FaultKind::ScanNoise || !strikes(f, x45::proto::ScanByte, -1)) continue;
        for (int i = 0; i < paramOf(f); ++i)
            noise.append(static_cast<char>(i % 2 ? 0xFF : 0x00)); // never the answer byte
    }
    return noise;
}

} // namespace x45sim
