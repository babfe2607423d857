// x45eep-cli --json: every command's document parses and carries the documented keys with numbers
// as numbers; errors stay on stderr with the usual exit codes and leave stdout empty.

#include <QtGlobal>

#ifdef Q_OS_UNIX

#include "cliprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

namespace {

QJsonObject parsed(const CliRun& r) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    EXPECT_TRUE(doc.isObject()) << r.out.toStdString();
    return doc.object();
}

QList<int> numbers(const QJsonValue& v) {
    QList<int> out;
    for (const QJsonValue& n : v.toArray()) {
        EXPECT_TRUE(n.isDouble());
        out << n.toInt();
    }
    return out;
}

// The keys every run summary has, whatever the run did.
void expectSummaryKeys(const QJsonObject& o) {
    for (const char* key : {"done", "skipped", "notFound"})
        EXPECT_TRUE(o.value(key).isDouble()) << key;
    for (const char* key : {"command", "result", "file", "notDone"})
        EXPECT_TRUE(o.contains(key)) << key;
}

} // namespace

TEST(CliJson, PhoneRunsFilesAndErrors) {
    QTemporaryDir dir;
    const auto file = [&dir](const char* name) { return dir.filePath(QLatin1String(name)); };
    const BlockList held = {{12, "twelve", 1}, {40, "forty", 2}, {5012, "x", 3}};
    ASSERT_TRUE(writeEep(file("phone.eep"), held, 7));
    SimProgram sim({"--strict", "--hwid", "7", "--eeprom", file("phone.eep")});
    ASSERT_FALSE(sim.path().isEmpty());

    // A listed block the phone does not hold: exit 1, and the summary names it.
    const CliRun read = runCli({"read", "--port", sim.path(), "--wait", "10", "--blocks",
                                "12 5012 777", "--out", file("read.eep"), "--json"});
    EXPECT_EQ(read.exitCode, 1) << read.err.toStdString();
    QJsonObject o = parsed(read);
    expectSummaryKeys(o);
    EXPECT_EQ(o.value("command").toString(), QStringLiteral("read"));
    EXPECT_EQ(o.value("result").toString(), QStringLiteral("completed"));
    EXPECT_EQ(o.value("done").toInt(), 2);
    EXPECT_EQ(o.value("notFound").toInt(), 1);
    EXPECT_EQ(numbers(o.value("notDone")), QList<int>{777});
    EXPECT_EQ(o.value("file").toString(), file("read.eep"));

    const CliRun write = runCli({"write", "--port", sim.path(), "--wait", "10", "--blocks", "40",
                                 file("phone.eep"), "--json"});
    EXPECT_EQ(write.exitCode, 0) << write.err.toStdString();
    o = parsed(write);
    expectSummaryKeys(o);
    EXPECT_EQ(o.value("done").toInt(), 1);
    EXPECT_TRUE(o.value("notDone").isNull());

    const CliRun del = runCli(
        {"delete", "--port", sim.path(), "--wait", "10", "--blocks", "40 777", "--yes", "--json"});
    EXPECT_EQ(del.exitCode, 1) << del.err.toStdString();
    o = parsed(del);
    expectSummaryKeys(o);
    EXPECT_EQ(o.value("done").toInt(), 1);
    EXPECT_EQ(numbers(o.value("notDone")), QList<int>{777});
    EXPECT_TRUE(o.value("file").isNull());
    QString simErr;
    EXPECT_EQ(sim.finish(&simErr), 0) << simErr.toStdString();

    const CliRun list = runCli({"list", file("read.eep"), "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    o = parsed(list);
    EXPECT_EQ(o.value("hardwareId").toInt(), 7);
    const QJsonArray rows = o.value("blocks").toArray();
    ASSERT_EQ(rows.size(), 2);
    const QJsonObject last = rows.at(1).toObject();
    EXPECT_EQ(last.value("id").toInt(), 5012);
    EXPECT_EQ(last.value("type").toString(), QStringLiteral("EEfull"));
    EXPECT_EQ(last.value("version").toInt(), 3);
    EXPECT_EQ(last.value("length").toInt(), 1);
    EXPECT_TRUE(last.value("description").isString());

    const CliRun cmp = runCli({"compare", file("read.eep"), file("phone.eep"), "--json"});
    EXPECT_EQ(cmp.exitCode, 1);
    o = parsed(cmp);
    EXPECT_FALSE(o.value("identical").toBool(true));
    EXPECT_EQ(numbers(o.value("missingInPhone")), QList<int>{});
    EXPECT_EQ(numbers(o.value("missingInUser")), QList<int>{40});
    EXPECT_EQ(numbers(o.value("different")), QList<int>{});

    // Usage and load errors: text on stderr, nothing on stdout, the same exit codes.
    for (const auto& [args, code] :
         {std::pair{QStringList{"read", "--json", "--out", file("x.eep")}, 2},
          std::pair{QStringList{"compare", file("missing.eep"), file("phone.eep"), "--json"}, 1}}) {
        const CliRun bad = runCli(args);
        EXPECT_EQ(bad.exitCode, code) << args.join(' ').toStdString();
        EXPECT_TRUE(bad.out.isEmpty()) << bad.out.toStdString();
        EXPECT_FALSE(bad.err.isEmpty());
    }
}

// Runs on any machine, also on one with no serial port at all.
TEST(CliJson, PortsListsWhatTheSystemReports) {
    const CliRun text = runCli({"ports"});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const CliRun json = runCli({"ports", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QJsonArray ports = parsed(json).value("ports").toArray();
    const QStringList lines = text.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), ports.size());
    if (ports.isEmpty()) {
        EXPECT_TRUE(text.err.contains(QStringLiteral("No serial port found.")));
    }
    for (int i = 0; i < ports.size(); ++i) {
        const QJsonObject p = ports.at(i).toObject();
        for (const char* key : {"device", "name", "description", "manufacturer", "serialNumber"})
            EXPECT_TRUE(p.value(key).isString()) << key;
        for (const char* key : {"vendorId", "productId"})
            EXPECT_TRUE(p.value(key).isDouble() || p.value(key).isNull()) << key;
        EXPECT_EQ(lines[i].split(QLatin1Char('\t')).first(), p.value("device").toString());
    }
}

#endif // Q_OS_UNIX
