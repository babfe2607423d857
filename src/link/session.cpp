#include "session.h"

#include "protocol.h"

#include <QFile>

// The boot image lives in the core library's resources; a static library needs its resources
// registered by hand, and only once.
static void initCoreResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)done;
}

namespace x45 {

namespace {

const QString StatusScanning = QStringLiteral("Scanning...");
const QString StatusSendingBoot = QStringLiteral("Sending service boot...");
const QString StatusGettingInfo = QStringLiteral("Getting info...");
const QString StatusReady = QStringLiteral("Service mode ready.");
const QString StatusStopped = QStringLiteral("Stopped.");

constexpr qsizetype BootImageSize = 104;

} // namespace

QString comPortDevice(int index) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(index + 1);
#else
    return QStringLiteral("/dev/ttyS%1").arg(index);
#endif
}

QString openFailureAdvice(const QString& reason) {
    const QString r = reason.toLower();
    if (r.contains(QLatin1String("permission")) || r.contains(QLatin1String("access")))
#ifdef Q_OS_WIN
        return QStringLiteral(
            "close the program that uses the port, or run with the rights to use it");
#else
        return QStringLiteral("add yourself to the dialout group (then log in again), or choose "
                              "another port");
#endif
    if (r.contains(QLatin1String("busy")) || r.contains(QLatin1String("in use")) ||
        r.contains(QLatin1String("lock")))
        return QStringLiteral("close the program that uses the port, then try again");
    if (r.contains(QLatin1String("no such")) || r.contains(QLatin1String("not found")) ||
        r.contains(QLatin1String("not exist")))
        return QStringLiteral("check that the cable is plugged in and choose the port it uses");
    return QStringLiteral("check the cable and the port choice, then try again");
}

Session::Session(Link& link, Interaction& ui, QObject* parent)
    : QObject(parent), link_(link), ui_(ui) {
    initCoreResources();
    QFile image(QStringLiteral(":/ServBootBin"));
    if (image.open(QIODevice::ReadOnly)) {
        const QByteArray raw = image.readAll();
        BootImage = bytesToStr(raw.constData(), raw.size());
    }
}

void Session::stopPath() {
    ui_.setStatus(StatusStopped);
    link_.port().close();
    open_ = false;
    emit ended();
}

Outcome Session::fail(const QString& text) {
    ui_.inform(text);
    stopPath();
    return Outcome::Failed;
}

bool Session::openPort(const PortSettings& settings) {
    SerialPort& port = link_.port();
    port.setSettings(settings);
    link_.clearLost();
    QString reason;
    if (!port.open(&reason)) {
        if (reason.isEmpty()) reason = QStringLiteral("unknown reason");
        openError_ = QStringLiteral("cannot open %1: %2; %3.")
                         .arg(port.portName(), reason, openFailureAdvice(reason));
        return false;
    }
    port.discard();
    link_.resetStep();
    return true;
}

Outcome Session::start(const QString& portName) {
    stop_.clear();
    open_ = false;
    SerialPort& port = link_.port();
    port.close();

    if (BootImage.size() != BootImageSize)
        return fail(QStringLiteral("The service boot image is missing from this build of the "
                                   "program (%1 bytes instead of 104); rebuild it with its "
                                   "resources.")
                        .arg(BootImage.size()));

    port.setPortName(portName);
    if (!openPort(proto::SettingsAtStart)) return fail(openError_);

    ui_.setStatus(StatusScanning);
    switch (sendServiceBoot()) {
    case Outcome::Done:
        break;
    case Outcome::Stopped:
        stopPath();
        return Outcome::Stopped;
    case Outcome::PortLost:
        return fail(link_.lostMessage());
    default:
        return fail(QStringLiteral("Error №2 (&HA5)..."));
    }
    if (stop_.requested()) {
        stopPath();
        return Outcome::Stopped;
    }

    ui_.setStatus(StatusGettingInfo);
    bool ready = false;
    for (int attempt = 0; attempt < proto::Attempts && !ready; ++attempt) {
        ready = PingQuery();
        if (link_.portLost()) return fail(link_.lostMessage());
    }
    if (!ready) {
        stopPath();
        return Outcome::Stopped;
    }

    if (BaudQuery()) {
        // The phone has switched already; follow it at once.
        port.close();
        if (!openPort(proto::SettingsFast)) return fail(openError_);
    }
    if (link_.portLost()) return fail(link_.lostMessage());

    if (const Status known = identify(); !known) return fail(known.message());
    emit identified();

    refreshSpace();
    if (link_.portLost()) return fail(link_.lostMessage());

    ui_.setStatus(StatusReady);
    open_ = true;
    return Outcome::Done;
}

Status Session::identify() {
    if (!ChipsetQuery())
        return Status::fail(link_.portLost() ? link_.lostMessage()
                                             : QStringLiteral("Error №2 (ChipsetQuery)..."));
    struct InfoStep {
        quint8 sub;
        const char* error;
    };
    static constexpr InfoStep Steps[] = {
        {proto::ModelSub, "Error №3 (NameQuery)..."},
        {proto::SWSub, "Error №13 (SWQuery)..."},
        {proto::LangGroupSub, "Error №12 (NameQuery)..."},
        {proto::IMEISub, "Error №12.5 (IMEIQuery)..."},
    };
    for (const InfoStep& step : Steps) {
        const Status answered = InfoQuery(step.sub);
        if (link_.portLost()) return Status::fail(ErrorKind::PortLost, link_.lostMessage());
        // No reply leaves the field empty; a wrong one ends the start.
        if (answered.is(ErrorKind::Refused))
            return Status::fail(ErrorKind::Refused, QString::fromUtf8(step.error));
    }
    return Status::ok();
}

void Session::end() {
    SerialPort& port = link_.port();
    if (port.isOpen() && !link_.portLost()) link_.sendFrame(proto::ExitQuery); // no reply comes
    stopPath();
}

Outcome Session::sendServiceBoot() {
    scanRanOut_ = false;
    const SerialPort::Clock::time_point scanEnd = link_.port().now() + scanLimit_;
    for (;;) {
        if (link_.portLost()) return Outcome::PortLost;
        link_.writeRaw(ByteStr(1, static_cast<char>(proto::ScanByte)), QStringLiteral("scan"));
        link_.pause(proto::ScanPause);
        if (stop_.requested()) return Outcome::Stopped;
        if (scanLimit_.count() > 0 && link_.port().now() >= scanEnd) {
            scanRanOut_ = true;
            return Outcome::Stopped;
        }
        if (link_.portLost()) return Outcome::PortLost;
        // Whatever came before the answer byte (line noise, an echo) does not count.
        const QByteArray got = link_.readRaw();
        const bool answered = !got.isEmpty() && static_cast<quint8>(got.back()) == proto::ScanAnswer;
        if (!got.isEmpty()) link_.traceIn(got, answered ? TraceNote::Accepted : TraceNote::Refused);
        if (answered) break;
    }
    ui_.setStatus(StatusSendingBoot);
    ByteStr boot;
    boot.append(static_cast<char>(proto::BootLength));
    boot.append(BootImage);
    link_.writeRaw(boot, QStringLiteral("service boot"));
    link_.writeRaw(ByteStr(1, static_cast<char>(proto::BootCheck)), QStringLiteral("boot check"));
    link_.pause(proto::ScanPause);
    if (link_.portLost()) return Outcome::PortLost;
    const QByteArray ack = link_.readRaw(1);
    const bool acked = ack.size() == 1 && static_cast<quint8>(ack.at(0)) == proto::BootAck;
    link_.traceIn(ack, acked ? TraceNote::Accepted
                             : ack.isEmpty() ? TraceNote::TimedOut : TraceNote::Refused);
    return acked ? Outcome::Done : Outcome::Failed;
}

bool Session::PingQuery() {
    Query q{proto::PingQuery, {}, proto::PingTimeout, proto::PingHold};
    q.rule.cmd = proto::PingCmd;
    q.rule.sub = proto::PingSub;
    q.rule.wholeFrame = false;
    q.rule.inTime = true;
    q.rule.tail = QByteArray(1, char(proto::PingEnd));
    return link_.query(q).isOk();
}

bool Session::BaudQuery() {
    // Only the command, the header check and the fixed tail count.
    Query q{proto::BaudQuery, {}, proto::BaudTimeout, 1};
    q.rule.cmd = proto::BaudCmd;
    q.rule.complete = false;
    q.rule.wholeFrame = false;
    q.rule.tail = proto::BaudReplyTail;
    return link_.query(q).isOk();
}

bool Session::ChipsetQuery() {
    Query q{proto::ChipsetQuery, {}, proto::InfoTimeout, 1};
    q.rule.cmd = proto::ChipsetCmd;
    q.rule.sub = proto::ChipsetSub;
    q.rule.complete = false;
    q.rule.wholeFrame = false;
    q.rule.minSize = 6; // too short to hold the two id bytes: refused like a wrong reply
    const Result<ByteStr> reply = link_.query(q);
    if (!reply) return false;
    identity.PhoneHWid = wordAt(reply.value(), 4);
    return true;
}

Status Session::InfoQuery(quint8 sub) {
    const ByteStr request = sub == proto::ModelSub       ? proto::ModelQuery
                            : sub == proto::SWSub        ? proto::SWQuery
                            : sub == proto::LangGroupSub ? proto::LangGroupQuery
                                                         : proto::IMEIQuery;
    Query q{request, {}, proto::InfoTimeout, 1};
    q.rule.cmd = proto::InfoCmd;
    q.rule.sub = sub;
    q.rule.wholeFrame = false;
    q.rule.inTime = true;
    const Result<ByteStr> reply = link_.query(q);
    if (!reply) return reply.status();
    // The frame as the phone meant it; bytes after its end (line noise) are not part of it.
    const ByteStr frameBytes = reply.value().left(proto::frameEnd(reply.value()));
    switch (sub) {
    case proto::ModelSub:
        identity.PhoneModel = extractName(frameBytes);
        break;
    case proto::LangGroupSub:
        identity.PhoneLangGroup = extractName(frameBytes);
        break;
    case proto::SWSub:
        identity.PhoneSWVer = extractSWVer(frameBytes);
        break;
    default:
        identity.PhoneIMEI = extractIMEI(frameBytes);
        break;
    }
    return Status::ok();
}

QString Session::extractName(const ByteStr& frame) {
    // Payload without its first byte, up to the first 0x00; without one, the whole rest.
    ByteStr text = frame.mid(4);
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0) text.truncate(nul);
    return QString::fromLatin1(text);
}

quint16 Session::extractSWVer(const ByteStr& frame) {
    if (frame.isEmpty()) return 0;
    // The phone reports the version as BCD-like digits: the hex text is read as decimal.
    const QString hex = QString::number(static_cast<quint8>(frame.back()), 16).toUpper();
    quint16 value = 0;
    for (const QChar c : hex) {
        if (!c.isDigit()) break;
        value = static_cast<quint16>(value * 10 + c.digitValue());
    }
    return value;
}

QString Session::extractIMEI(const ByteStr& frame) {
    if (frame.isEmpty()) return {};
    const ByteStr body = frame.left(frame.size() - 1);
    const qsizetype blank = body.indexOf(' ');
    return QString::fromLatin1(blank >= 0 ? body.mid(blank + 1) : body);
}

void Session::refreshSpace() {
    EEPSpaceQuery(false, EEliteSpace);
    EEPSpaceQuery(true, EEfullSpace);
    emit spaceChanged();
}

EEPSpace Session::parseSpaceReply(const ByteStr& frame) {
    auto counter = [&](qsizetype at) {
        const quint32 v = static_cast<quint32>(byteAt(frame, at)) |
                          (static_cast<quint32>(byteAt(frame, at + 1)) << 8) |
                          (static_cast<quint32>(byteAt(frame, at + 2)) << 16) |
                          (static_cast<quint32>(byteAt(frame, at + 3)) << 24);
        return static_cast<qint32>(v);
    };
    return {counter(4), counter(8), counter(12)};
}

bool Session::EEPSpaceQuery(bool eefull, EEPSpace& space) {
    BlockRequest req;
    req.sub = proto::areaSub(proto::EEPSpaceQuery, eefull);
    req.frame = Link::blockFrame(req.sub, {});
    req.timeout = proto::SpaceTimeout;
    req.minLength = 14; // SubCmd, three 32-bit counters, trailer
    const Result<ByteStr> reply = link_.requestBlock(req, proto::Attempts);
    if (reply) space = parseSpaceReply(reply.value());
    return reply.isOk();
}

} // namespace x45
