#include "cli_json.h"

#include "options.h"

#include "blocks/bytediff.h"
#include "link/session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>

namespace x45::cli {

namespace {

const QString JsonOption = QStringLiteral("json");

template <class List> QJsonArray numberArray(const List& numbers) {
    QJsonArray array;
    for (const auto n : numbers)
        array.append(static_cast<qint64>(n));
    return array;
}

// A value the phone did not report (0) is null, as the text output leaves it empty.
QJsonValue reported(quint16 value) {
    return value != 0 ? QJsonValue(static_cast<int>(value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonObject spaceJson(const EEPSpace& s) {
    return {{QStringLiteral("freeInBuffer"), s.FreeInBuffer},
            {QStringLiteral("freeAtAll"), s.FreeAtAll},
            {QStringLiteral("freeForDeleted"), s.FreeForDeleted}};
}

} // namespace

void addJsonOption(CommandLine& cmd) {
    cmd.addOption({JsonOption, QStringLiteral("Print the result as JSON on stdout (the keys are "
                                              "listed in x45eep-cli(1)).")});
}

bool jsonWanted(const CommandLine& cmd) {
    return cmd.isSet(JsonOption);
}

void printJson(const QJsonObject& object) {
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

QJsonObject infoJson(const Session& session, std::optional<bool> lowLatency) {
    const PhoneIdentity& id = session.identity;
    return {
        {QStringLiteral("model"), textOrNull(id.PhoneModel)},
        {QStringLiteral("swVersion"), reported(id.PhoneSWVer)},
        {QStringLiteral("hardwareId"), reported(id.PhoneHWid)},
        {QStringLiteral("langGroup"), textOrNull(id.PhoneLangGroup)},
        {QStringLiteral("imei"), textOrNull(id.PhoneIMEI)},
        {QStringLiteral("eefull"), spaceJson(session.EEfullSpace)},
        {QStringLiteral("eelite"), spaceJson(session.EEliteSpace)},
        {QStringLiteral("lowLatency"),
         lowLatency ? QJsonValue(*lowLatency) : QJsonValue(QJsonValue::Null)},
    };
}

QJsonObject listJson(const BlockList& blocks, quint16 hwid,
                     const std::function<QString(const EEPBlock&)>& describe) {
    QJsonArray rows;
    for (const EEPBlock& block : blocks)
        rows.append(QJsonObject{{QStringLiteral("id"), block.BlockId},
                                {QStringLiteral("type"), blockType(block.BlockId)},
                                {QStringLiteral("version"), block.BlockVer},
                                {QStringLiteral("length"), static_cast<qint64>(block.Data.size())},
                                {QStringLiteral("description"), describe(block)}});
    return {{QStringLiteral("hardwareId"), static_cast<int>(hwid)},
            {QStringLiteral("blocks"), rows}};
}

QJsonObject compareJson(const CompareResult& r) {
    return {{QStringLiteral("identical"), r.identical()},
            {QStringLiteral("missingInPhone"), numberArray(r.phoneMissing)},
            {QStringLiteral("missingInUser"), numberArray(r.userMissing)},
            {QStringLiteral("different"), numberArray(r.different)}};
}

QJsonArray byteDiffJson(const BlockList& a, const BlockList& b, const QList<int>& different) {
    // Hex without blanks: one string per side and range, empty where that side has no bytes.
    const auto hex = [](const ByteStr& bytes, const ByteRange& r) {
        return QString::fromLatin1(bytes.mid(r.offset, r.length).toHex().toUpper());
    };
    QJsonArray blocks;
    for (const int id : different) {
        const qsizetype ia = findBlock(a, id);
        const qsizetype ib = findBlock(b, id);
        if (ia < 0 || ib < 0) continue;
        const EEPBlock& ba = a.at(ia);
        const EEPBlock& bb = b.at(ib);
        QJsonArray ranges;
        for (const ByteRange& r : byteDiff(ba.Data, bb.Data))
            ranges.append(QJsonObject{{QStringLiteral("offset"), qint64(r.offset)},
                                      {QStringLiteral("length"), qint64(r.length)},
                                      {QStringLiteral("a"), hex(ba.Data, r)},
                                      {QStringLiteral("b"), hex(bb.Data, r)}});
        blocks.append(QJsonObject{
            {QStringLiteral("id"), id},
            {QStringLiteral("version"), QJsonArray{ba.BlockVer, bb.BlockVer}},
            {QStringLiteral("length"), QJsonArray{qint64(ba.Data.size()), qint64(bb.Data.size())}},
            {QStringLiteral("ranges"), ranges}});
    }
    return blocks;
}

QJsonObject portsJson(const QList<QSerialPortInfo>& ports) {
    QJsonArray array;
    for (const QSerialPortInfo& p : ports) {
        const auto id = [](bool has, quint16 value) {
            return has ? QJsonValue(static_cast<int>(value)) : QJsonValue(QJsonValue::Null);
        };
        array.append(QJsonObject{
            {QStringLiteral("device"), p.systemLocation()},
            {QStringLiteral("name"), p.portName()},
            {QStringLiteral("description"), p.description()},
            {QStringLiteral("manufacturer"), p.manufacturer()},
            {QStringLiteral("serialNumber"), p.serialNumber()},
            {QStringLiteral("vendorId"), id(p.hasVendorIdentifier(), p.vendorIdentifier())},
            {QStringLiteral("productId"), id(p.hasProductIdentifier(), p.productIdentifier())}});
    }
    return {{QStringLiteral("ports"), array}};
}

QString runEndName(Outcome end) {
    switch (end) {
    case Outcome::Done:
        return QStringLiteral("completed");
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    case Outcome::Cancelled:
        return QStringLiteral("cancelled");
    case Outcome::PortLost:
        return QStringLiteral("portLost");
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::Unverified:
        return QStringLiteral("unverified");
    default: // a step's outcome; a run ends with one of the above
        return QStringLiteral("failed");
    }
}

QJsonObject summaryJson(const RunSummary& s) {
    QJsonObject o{
        {QStringLiteral("command"), s.command},   {QStringLiteral("result"), s.result},
        {QStringLiteral("done"), s.done},         {QStringLiteral("skipped"), s.skipped},
        {QStringLiteral("notFound"), s.notFound}, {QStringLiteral("file"), textOrNull(s.file)}};
    o.insert(QStringLiteral("notDone"),
             s.notDone ? QJsonValue(numberArray(*s.notDone)) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("retried"), s.retried);
    o.insert(QStringLiteral("resynchronised"), s.resynchronised);
    o.insert(QStringLiteral("verified"), s.verified);
    o.insert(QStringLiteral("unverified"), numberArray(s.unverified));
    return o;
}

RunSummary summaryOf(const QString& command, const RunResult& r) {
    RunSummary s;
    s.command = command;
    s.result = runEndName(r.end);
    s.done = r.done;
    s.skipped = r.skippedCount();
    s.notFound = r.notFound;
    s.retried = r.retried;
    s.resynchronised = r.resyncs;
    s.verified = r.verified;
    for (const qint16 n : r.unverified)
        s.unverified.append(n);
    return s;
}

} // namespace x45::cli
