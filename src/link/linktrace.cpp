#include "linktrace.h"

#include "protocol.h"

#include "base/bytes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <memory>

namespace x45 {

namespace {

constexpr int WhatWidth = 24;

QString blockQueryName(quint8 sub) {
    if (sub == proto::CollectEEFULLGarbageQuery) return QStringLiteral("CollectEEFULLGarbageQuery");
    switch (static_cast<quint8>(sub & ~proto::EEfullBit)) {
    case proto::WBlockInfoQuery:
        return QStringLiteral("WBlockInfoQuery");
    case proto::WBlockDataQuery:
        return QStringLiteral("WBlockDataQuery");
    case proto::WBlockOKQuery:
        return QStringLiteral("WBlockOKQuery");
    case proto::BlockDataQuery:
        return QStringLiteral("BlockDataQuery");
    case proto::BlockInfoQuery:
        return QStringLiteral("BlockInfoQuery");
    case proto::MaxBlockQuery:
        return QStringLiteral("MaxBlockQuery");
    case proto::BlockDeleteQuery:
        return QStringLiteral("BlockDeleteQuery");
    case proto::EEPSpaceQuery:
        return QStringLiteral("EEPSpaceQuery");
    case proto::EraseEEPQuery:
        return QStringLiteral("EraseEEPQuery");
    default:
        return QStringLiteral("block request 0x%1").arg(sub, 2, 16, QLatin1Char('0'));
    }
}

} // namespace

LinkTrace::LinkTrace(qsizetype keepBytes, Clock clock)
    : clock_(std::move(clock)), keepBytes_(keepBytes) {
    if (!clock_) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        clock_ = [timer] { return timer->elapsed(); };
    }
}

void LinkTrace::restart() {
    lines_.clear();
    keptBytes_ = 0;
    dropped_ = 0;
    lastKey_.clear();
    repeats_ = 0;
    start_ = clock_();
    started_ = true;
    heading_ = QStringLiteral("# x45eep link trace from %1: ms since then, -> to the phone, <- "
                              "from the phone, -- the tool's remark\n")
                   .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                   .toUtf8();
    if (sink_) sink_(heading_);
}

void LinkTrace::clear() {
    lines_.clear();
    keptBytes_ = 0;
    dropped_ = 0;
    lastKey_.clear();
    repeats_ = 0;
    heading_.clear();
    started_ = false;
}

QString LinkTrace::noteText(TraceNote note) {
    switch (note) {
    case TraceNote::Accepted:
        return QStringLiteral("accepted");
    case TraceNote::NoSuchBlock:
        return QStringLiteral("no such block");
    case TraceNote::Interim:
        return QStringLiteral("interim");
    case TraceNote::TooManyInterims:
        return QStringLiteral("interim, too many");
    case TraceNote::BadHeader:
        return QStringLiteral("bad header");
    case TraceNote::BadTrailer:
        return QStringLiteral("bad trailer");
    case TraceNote::ExtraBytes:
        return QStringLiteral("extra bytes");
    case TraceNote::WrongCommand:
        return QStringLiteral("wrong command");
    case TraceNote::WrongSub:
        return QStringLiteral("wrong sub-command");
    case TraceNote::WrongLength:
        return QStringLiteral("wrong length");
    case TraceNote::Refused:
        return QStringLiteral("refused");
    case TraceNote::TimedOut:
        return QStringLiteral("time-out");
    case TraceNote::Cut:
        return QStringLiteral("cut short");
    case TraceNote::Stale:
        return QStringLiteral("stale");
    case TraceNote::TooSoon:
        return QStringLiteral("too soon for the wire");
    case TraceNote::Resynchronised:
        return QStringLiteral("resynchronised");
    case TraceNote::PortLost:
        return QStringLiteral("port lost");
    }
    return QStringLiteral("?");
}

QString LinkTrace::requestName(const QByteArray& frame) {
    const auto is = [&frame](const QByteArray& fixed) { return frame == fixed; };
    if (is(proto::PingQuery)) return QStringLiteral("PingQuery");
    if (is(proto::BaudQuery)) return QStringLiteral("BaudQuery");
    if (is(proto::ChipsetQuery)) return QStringLiteral("ChipsetQuery");
    if (is(proto::ModelQuery)) return QStringLiteral("NameQuery (model)");
    if (is(proto::SWQuery)) return QStringLiteral("SWQuery");
    if (is(proto::LangGroupQuery)) return QStringLiteral("NameQuery (lang group)");
    if (is(proto::IMEIQuery)) return QStringLiteral("IMEIQuery");
    if (is(proto::ExitQuery)) return QStringLiteral("ExitQuery");
    if (frame.size() >= 5 && byteAt(frame, 0) == proto::BlockCmd) {
        const quint8 sub = byteAt(frame, 3);
        QString name = blockQueryName(sub);
        // Requests about one block carry its number first.
        if (frame.size() >= 7 && (sub & ~proto::EEfullBit) != proto::MaxBlockQuery &&
            (sub & ~proto::EEfullBit) != proto::EEPSpaceQuery &&
            (sub & ~proto::EEfullBit) != proto::EraseEEPQuery &&
            sub != proto::CollectEEFULLGarbageQuery)
            name += QLatin1Char(' ') + QString::number(static_cast<qint16>(wordAt(frame, 4)));
        return name;
    }
    return QStringLiteral("frame");
}

void LinkTrace::sent(const QByteArray& bytes, bool sync, const QString& what) {
    QString name = what.isEmpty() ? requestName(bytes) : what;
    if (sync) name = QStringLiteral("sync ") + name;
    add("->", name, bytes);
}

void LinkTrace::received(const QByteArray& bytes, TraceNote note) {
    add("<-", noteText(note), bytes);
}

void LinkTrace::remark(const QString& text) {
    add("--", text, {});
}

void LinkTrace::add(const char* dir, const QString& what, const QByteArray& bytes) {
    if (!started_) return;
    const qint64 ms = clock_() - start_;
    QByteArray key = QByteArray(dir) + ' ' + what.toUtf8() + ' ' + bytes;
    if (key == lastKey_) {
        ++repeats_;
        lastRepeatMs_ = ms;
        return;
    }
    flush();
    lastKey_ = std::move(key);
    QByteArray line = QByteArray::number(ms).rightJustified(9, ' ') + "  " + dir + "  ";
    const QByteArray text = what.toUtf8();
    if (bytes.isEmpty()) {
        line += text;
    } else {
        line += text.leftJustified(WhatWidth, ' ');
        line += "  " + bytes.toHex(' ').toUpper();
    }
    line += '\n';
    put(line);
}

QByteArray LinkTrace::repeatLine() const {
    return QByteArray::number(lastRepeatMs_).rightJustified(9, ' ') + "  ..  the line above " +
           QByteArray::number(repeats_) + (repeats_ == 1 ? " more time\n" : " more times\n");
}

void LinkTrace::flush() {
    if (repeats_ == 0) return;
    const QByteArray line = repeatLine();
    repeats_ = 0;
    put(line);
}

void LinkTrace::put(const QByteArray& line) {
    if (sink_) sink_(line);
    if (keepBytes_ <= 0) return;
    lines_.push_back(line);
    keptBytes_ += line.size();
    while (keptBytes_ > keepBytes_ && lines_.size() > 1) {
        keptBytes_ -= lines_.front().size();
        lines_.pop_front();
        ++dropped_;
    }
}

QByteArray LinkTrace::text() const {
    QByteArray out = heading_;
    if (dropped_ > 0)
        out += "# " + QByteArray::number(dropped_) +
               " older lines were dropped; only the last " +
               QByteArray::number(keepBytes_ / 1024) + " KiB of lines are kept\n";
    out.reserve(out.size() + keptBytes_ + 64);
    for (const QByteArray& line : lines_)
        out += line;
    if (repeats_ > 0) out += repeatLine();
    return out;
}

} // namespace x45
