// x45eep-cli list, convert and compare, run as a separate process on files built here.

#include "files/blockfile.h"
#include "files/eepfile.h"

#include "cliprocess.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace x45;
using x45::test::CliRun;
using x45::test::readEep;

namespace {

EEPBlock blk(qint16 id, QByteArray data, quint8 ver = 1) {
    return {id, data, ver};
}

struct Cli : ::testing::Test, x45::test::TempFolder {
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    CliRun run(const QStringList& args) const {
        QProcess p;
        p.setWorkingDirectory(dir.path()); // no eeprom.dsc here unless a test writes one
        p.start(QStringLiteral(X45CLI_PATH), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
                QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
};

} // namespace

TEST_F(Cli, ListPrintsTheViewsRowsSortedWithDescriptions) {
    const QString a =
        write("a.eep", serializeEep({blk(5077, "abcd", 2), blk(-3, ""), blk(20, "x", 255)}, 7));
    const QString dsc = write("d.dsc", "5077\r\nGreeting\tText\r\n0\r\n20\r\nfor seven\r\n7\r\n"
                                       "20\r\nfor eight\r\n8\r\n");
    CliRun r = run({"list", a, "--descriptions", dsc});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "-3\tEElite\t1\t0\t\n"
                     " 20\tEElite\t255\t1\tfor seven\n"
                     " 5077\tEEfull\t2\t4\tGreeting Text\n");

    // With the hardware check, the record of the list's id (7) for 20 and none for 5077 (id 0).
    r = run({"list", a, "--descriptions", dsc, "--check-hwid"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "-3\tEElite\t1\t0\t\n"
                     " 20\tEElite\t255\t1\tfor seven\n"
                     " 5077\tEEfull\t2\t4\t\n");

    // The current folder's eeprom.dsc is found without the option.
    write("eeprom.dsc", "-3\nnegative\n0\n");
    r = run({"list", a});
    EXPECT_TRUE(r.out.startsWith("-3\tEElite\t1\t0\tnegative\n")) << r.out.toStdString();
}

TEST_F(Cli, ListRefusesBadFilesWithTheirReason) {
    QByteArray cut = serializeEep({blk(1, "abcdef")}, 0);
    cut.chop(4);
    const QString bad = write("bad.eep", cut);
    CliRun r = run({"list", bad});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("bad.eep")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());

    EXPECT_EQ(run({"list", path("missing.eep")}).exitCode, 1);
    EXPECT_EQ(run({"list", write("empty.eep", {})}).exitCode, 1);
    EXPECT_TRUE(QFile::exists(path("empty.eep")));

    EXPECT_EQ(run({"list"}).exitCode, 2);
    EXPECT_EQ(run({"list", "--no-such-option", bad}).exitCode, 2);
}

TEST_F(Cli, ConvertMergesAndSavesTheWholeListAndKeepsItWhenALoadFails) {
    const QString a = write("a.eep", serializeEep({blk(20, "a20"), blk(10, "a10")}, 1));
    const QString b = write("b.eep", serializeEep({blk(20, "b20", 4), blk(5001, "b")}, 0x8001));
    const CliRun r = run({"convert", a, b, "--out", path("out.eep")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray merged =
        serializeEep({blk(10, "a10"), blk(20, "b20", 4), blk(5001, "b")}, 0x8001);
    EXPECT_EQ(read("out.eep"), merged);

    // A file that fails to load keeps the old output.
    const QString bad = write("bad.eep", QByteArray("\x05\x00\x00\x00", 4));
    EXPECT_EQ(run({"convert", bad, "--out", path("out.eep")}).exitCode, 1);
    EXPECT_EQ(read("out.eep"), merged);
}

TEST_F(Cli, ConvertChosenBlocks) {
    const QString a =
        write("a.eep", serializeEep({blk(1, "one"), blk(2, "two"), blk(5077, "lock", 3)}, 9));
    CliRun r = run({"convert", a, "--out", path("pair.bin"), "--blocks", "1-2"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(read("pair_1.bin"), "one");
    EXPECT_EQ(read("pair_2.bin"), "two");
    EXPECT_TRUE(QFile::exists(path("pair_1.bid")));

    r = run({"convert", a, "--out", path("none.eep"), "--blocks", "1, 77"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("77"));
    EXPECT_FALSE(QFile::exists(path("none.eep")));

    EXPECT_EQ(run({"convert", a, "--out", path("x.doc")}).exitCode, 2);
    EXPECT_EQ(run({"convert", a}).exitCode, 2);
    EXPECT_EQ(run({"convert", a, "--out", path("y.eep"), "--blocks", "99999"}).exitCode, 2);
}

TEST_F(Cli, CompareReportsIdenticalOrTheThreeLists) {
    const QString a = write("a.eep", serializeEep({blk(1, "x"), blk(2, "y"), blk(3, "z")}, 0));
    const QString same =
        write("same.eep", serializeEep({blk(3, "z"), blk(1, "x"), blk(2, "y")}, 5));
    const QString b = write("b.eep", serializeEep({blk(4, "w"), blk(2, "y", 2), blk(1, "x")}, 0));
    CliRun r = run({"compare", a, same});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Lists are identical!\n");

    r = run({"compare", a, b});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "User's blocks missing in Phone's list: 3\n"
                     "Phone's blocks missing in User's list: 4\n"
                     "Different blocks: 2\n");

    EXPECT_EQ(run({"compare", a, path("missing.eep")}).exitCode, 1);
}

TEST_F(Cli, InputThatDoesNotReadIsRefusedUnlessLenientAndNothingIsDeleted) {
    write("t.txt", "8A 16 ZZ 5A\r\n01\r\n");
    write("t.tid", "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 2 \r\n"
                   "EEPROM BlockVer:\r\n 0 \r\n");
    CliRun r = run({"convert", path("t.txt"), "--out", path("t.eep")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("t.txt line 1: \"8A 16 ZZ 5A\"")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("--lenient"));
    EXPECT_FALSE(QFile::exists(path("t.eep")));
    EXPECT_EQ(run({"compare", path("t.txt"), path("t.txt")}).exitCode, 1);

    r = run({"convert", "--lenient", path("t.txt"), "--out", path("t.eep")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readEep(path("t.eep")), (BlockList{{2, "\x01", 0}}));

    // A file of no known format is named; an empty id file is absent but stays.
    write("demo.xyz", serializeEep({blk(1, "a")}, 0));
    r = run({"convert", path("demo.xyz"), "--out", path("x.eep")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("skipped demo.xyz: not an EEPROM, block or mapping file"));
    EXPECT_FALSE(QFile::exists(path("x.eep")));
    write("k.bin", "abc");
    write("k.bid", "");
    r = run({"list", path("k.bin"), "--block", "3"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("k.bid")));

    write("c.map", "[20]\r\nDATA = {\r\n01\r\n}\r\n");
    r = run({"list", path("c.map")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QDir::toNativeSeparators(path("c.map")) +
                               "\" ends inside a data block (Possible corrupted mapping file!)"))
        << r.err.toStdString();
}

// The general usage text and each command's --help come from one table: every command listed
// answers --help with the same usage line, and an argument to a command that takes none is
// refused before anything runs.
TEST(CliUsage, EveryListedCommandHasItsOwnHelpWithTheSameUsageLine) {
    const CliRun usage = x45::test::runCli({"--help"});
    ASSERT_EQ(usage.exitCode, 0);
    const QStringList lines = usage.out.split(QLatin1Char('\n'));
    const qsizetype first = lines.indexOf(QStringLiteral("Commands:")) + 1;
    ASSERT_GT(first, 0) << usage.out.toStdString();
    QStringList names;
    for (qsizetype i = first; i < lines.size() && !lines[i].isEmpty(); ++i) {
        // "  NAME     SYNOPSIS    summary"; a long synopsis puts the summary on the next line.
        if (lines[i].at(2) == QLatin1Char(' ')) continue;
        const QString name = lines[i].mid(2, 9).trimmed();
        const bool wrapped = i + 1 < lines.size() && lines[i + 1].startsWith(QString(45, ' '));
        const QString synopsis = (wrapped ? lines[i].mid(11) : lines[i].mid(11, 34)).trimmed();
        names << name;
        const CliRun help = x45::test::runCli({name, "--help"});
        EXPECT_EQ(help.exitCode, 0) << name.toStdString();
        EXPECT_EQ(help.out.section(QLatin1Char('\n'), 0, 0).trimmed(),
                  QStringLiteral("Usage: x45eep-cli %1 %2").arg(name, synopsis).trimmed());
    }
    EXPECT_EQ(names, QStringList({"info", "read", "write", "delete", "list", "convert", "compare",
                                  "show", "ports"}));
    const CliRun none = x45::test::runCli({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_EQ(none.err, usage.out) << "the same text on stderr";
    const CliRun unknown = x45::test::runCli({"lsit"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.startsWith(QStringLiteral("x45eep-cli: unknown command \"lsit\"\n")));
    for (const QStringList& args : QList<QStringList>{{"info", "--port", "/dev/null", "extra"},
                                                      {"read", "--port", "/dev/null", "extra"},
                                                      {"delete", "--port", "/dev/null", "extra"},
                                                      {"ports", "extra"}}) {
        const CliRun extra = x45::test::runCli(args);
        EXPECT_EQ(extra.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(extra.err.contains(QStringLiteral("unexpected argument \"extra\"")))
            << extra.err.toStdString();
    }
}

TEST_F(Cli, ShowPrintsOneBlockAsAHexDump) {
    const QByteArray data = QByteArray("Hi x45\x00\x7F", 8) + QByteArray(9, '\xAB');
    const QString a = write("a.eep", serializeEep({blk(5077, data, 3), blk(20, "", 0)}, 7));
    const QString b = write("b.eep", serializeEep({blk(20, "later", 2)}, 7));
    write("eeprom.dsc", "5077\r\nGreeting\r\n7\r\n");
    CliRun r = run({"show", a, "--block", "&H13D5"}); // 5077
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Block: 5077\nType: EEfull\nVersion: 3\nLength: 17\nDescription: Greeting\n"
                     "00000000  48 69 20 78 34 35 00 7F AB AB AB AB AB AB AB AB  Hi x45..........\n"
                     "00000010  AB                                               .\n");
    // Files merge as "list" merges them; an empty block prints no byte line.
    r = run({"show", a, b, "--block", "20"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("Block: 20\nType: EElite\nVersion: 2\nLength: 5\n"));
    EXPECT_TRUE(r.out.endsWith("00000000  6C 61 74 65 72" + QString(33, ' ') + "  later\n"));
    EXPECT_EQ(run({"show", a, "--block", "20"}).out.count('\n'), 5);

    r = run({"show", a, "--block", "21"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("block 21 is not in the loaded files")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(run({"show", a}).exitCode, 2);
    EXPECT_EQ(run({"show", "--block", "20"}).exitCode, 2);
    for (const char* bad : {"abc", "20-21", "20,21", "99999"}) {
        r = run({"show", a, "--block", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_TRUE(r.err.contains("--block")) << bad << r.err.toStdString();
    }
    EXPECT_EQ(run({"show", path("missing.eep"), "--block", "20"}).exitCode, 1);

    // A data file without its id file is the block asked for.
    r = run({"show", write("raw.bin", "AB"), "--block", "9", "--version", "4"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Block: 9\nType: EElite\nVersion: 4\nLength: 2\n"));
}

TEST_F(Cli, CompareBytesListsTheDifferingRangesWithBothValues) {
    QByteArray longer(40, '\0');
    QByteArray other = longer;
    for (int i = 2; i < 22; ++i)
        other[i] = char(i);
    const QString a = write("a.eep", serializeEep({blk(1, "abcdef", 1), blk(2, "same", 1),
                                                   blk(3, "xyz", 1), blk(4, longer, 1)},
                                                  0));
    const QString b = write("b.eep", serializeEep({blk(1, "aXYdefgh", 2), blk(2, "same", 5),
                                                   blk(3, "xyz", 1), blk(4, other, 1)},
                                                  0));
    CliRun r = run({"compare", a, b, "--bytes"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, "User's blocks missing in Phone's list: \n"
                     "Phone's blocks missing in User's list: \n"
                     "Different blocks: 1 2 4\n"
                     "Block 1: version 1 / 2, length 6 / 8\n"
                     "  00000001-00000002: 62 63 / 58 59\n"
                     "  00000006-00000007: (none) / 67 68\n"
                     "Block 2: version 1 / 5, length 4\n"
                     "  the bytes are equal\n"
                     "Block 4: version 1, length 40\n"
                     "  00000002-00000015 (20 bytes):\n"
                     "    00000002: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 / "
                     "02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11\n"
                     "    00000012: 00 00 00 00 / 12 13 14 15\n");

    // The same as JSON; identical files print what they print without --bytes.
    r = run({"compare", a, b, "--bytes", "--json"});
    EXPECT_TRUE(r.out.contains("\"bytes\"")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\"b\": \"6768\"")) << r.out.toStdString();
    EXPECT_EQ(run({"compare", a, a, "--bytes"}).out, "Lists are identical!\n");
}

// No output takes the place of a file that is there, or of an input, unless asked to; every
// refusal comes before the phone is touched and leaves every file as it was.
TEST_F(Cli, OutputsReplaceNothingWithoutForceAndNeverAnInput) {
    const QString a = write("a.eep", serializeEep({blk(1, "one"), blk(2, "two")}, 0));
    const QByteArray precious = serializeEep({blk(7, "precious"), blk(5077, "x")}, 3);
    write("precious.eep", precious);
    write("notes.txt", "notes");
    write("p_2.bid", "an earlier id file");
    write("garbage.map", QByteArray("\x7F\x45\x4C\x46\x02\x01\0\0[", 9));
    const QString noPort = path("no-port");
    const struct {
        QStringList args;
        int code;
        const char* said;
    } cases[] = {
        {{"convert", a, "--out", path("precious.eep")}, 1, "--force"},
        {{"convert", a, "--blocks", "1", "--out", path("notes.txt")}, 1, "--force"},
        {{"convert", a, "--out", path("p.bin")}, 1, "p_2.bid"},
        {{"convert", a, "--out", path("./a.eep"), "--force"}, 2, "also read"},
        {{"convert", path("garbage.map"), "--out", path("precious.eep"), "--force"}, 1, "--lenient"},
        {{"read", "--port", noPort, "--out", path("missing/x.eep")}, 1, "does not exist"},
        {{"read", "--port", noPort, "--out", path("precious.eep")}, 1, "--force"},
        {{"read", "--port", noPort, "--out", path("p.bin")}, 1, "p_2.bid"},
        {{"delete", "--port", noPort, "--blocks", "1", "--backup", path("precious.eep")}, 1, "--force"},
        {{"read", "--port", noPort, "--out", path("y.bin"), "--trace", path("y.bid")}, 2, "--trace"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_TRUE(r.err.contains(c.said)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("no-port")) << "the port was opened";
    }
    EXPECT_EQ(read("precious.eep"), precious);
    EXPECT_EQ(read("notes.txt"), "notes");
    EXPECT_EQ(read("p_2.bid"), "an earlier id file");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 5); // nothing new either

    const CliRun forced = run({"convert", a, "--out", path("precious.eep"), "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    EXPECT_EQ(read("precious.eep"), read("a.eep"));
}

#ifdef Q_OS_UNIX
TEST_F(Cli, NamesPipesAndEmptyBlocksAsTheSystemHasThem) {
    write("a.eep", serializeEep({blk(1, "one")}, 0));
    // Two names that differ only in bytes that are no UTF-8 are two files.
    QProcess sh;
    sh.setWorkingDirectory(dir.path());
    sh.start("sh", {"-c", "for n in \"$(printf 'n\\377.eep')\" \"$(printf 'n\\376.eep')\"; do "
                          "\"$0\" convert a.eep --out \"$n\" && cmp -s a.eep \"$n\"; echo $?; done; "
                          "\"$0\" convert a.eep --out \"$(printf 'n\\377.eep')\" 2>/dev/null; echo $?",
                    QStringLiteral(X45CLI_PATH)});
    ASSERT_TRUE(sh.waitForFinished(30000));
    EXPECT_EQ(sh.readAllStandardOutput(), "0\n0\n1\n");

    // A pipe as input is refused, not waited on.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("f.eep")).constData(), 0600), 0);
    const CliRun fifo = run({"list", path("f.eep")});
    EXPECT_EQ(fifo.exitCode, 1);
    EXPECT_TRUE(fifo.err.contains("pipe")) << fifo.err.toStdString();

    // An empty data file beside its id file is an empty block, as "read --out p.bin" saves it.
    write("p_117.bin", "");
    write("p_117.bid", idFileText({117, 4, 0}));
    const CliRun empty = run({"convert", path("p_117.bin"), "--out", path("e.eep")});
    EXPECT_EQ(empty.exitCode, 0) << empty.err.toStdString();
    EXPECT_EQ(readEep(path("e.eep")), (BlockList{{117, {}, 4}}));
}
#endif
