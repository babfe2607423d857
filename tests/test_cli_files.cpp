// x45eep-cli list, convert, compare and show, run as a separate process on files built here; the
// usage text and the refusals that come before anything is written or sent.

#include "files/eepfile.h"
#include "files/idfile.h"

#include "cliprocess.h"
#include "formats_support.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace x45;
using namespace x45::test;

namespace {

struct Cli : ::testing::Test, TempFolder {
    CliRun run(const QStringList& args) const {
        QProcess p;
        p.setWorkingDirectory(dir.path()); // no eeprom.dsc here unless a test writes one
        p.start(QStringLiteral(X45CLI_PATH), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
                QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    QString eep(const char* name, const BlockList& blocks, quint16 hwid = 0) const {
        return write(name, serializeEep(blocks, hwid));
    }
};

} // namespace

TEST_F(Cli, ListShowsTheViewsRowsSortedWithDescriptions) {
    const QString a = eep("a.eep", {blk(5077, "abcd", 2), blk(-3, "", 1), blk(20, "x", 255)}, 7);
    const QString dsc = write("d.dsc", "5077\r\nGreeting\tText\r\n0\r\n20\r\nfor seven\r\n7\r\n"
                                       "20\r\nfor eight\r\n8\r\n");
    const QString rows = "-3\tEElite\t1\t0\t\n 20\tEElite\t255\t1\tfor seven\n 5077\tEEfull\t2\t4\t";
    CliRun r = run({"list", a, "--descriptions", dsc});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, rows + "Greeting Text\n"); // a tab in a description does not start a column
    // With the hardware check: the record of the list's id (7) for 20, none for 5077 (id 0).
    EXPECT_EQ(run({"list", a, "--descriptions", dsc, "--check-hwid"}).out, rows + "\n");
    // The current folder's eeprom.dsc is found without the option.
    write("eeprom.dsc", "-3\nnegative\n0\n");
    EXPECT_TRUE(run({"list", a}).out.startsWith("-3\tEElite\t1\t0\tnegative\n"));
}

TEST_F(Cli, ConvertSavesTheChosenBlocksInTheFormatOfTheName) {
    const QString a = eep("a.eep", {blk(20, "a20", 1), blk(10, "a10", 1)}, 1);
    const QString b = eep("b.eep", {blk(20, "b20", 4), blk(5001, "b", 1)}, 0x8001);
    CliRun r = run({"convert", a, b, "--out", path("out.eep")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(read("out.eep"), serializeEep({blk(10, "a10", 1), blk(20, "b20", 4), blk(5001, "b", 1)},
                                            0x8001));
    // One named block is saved alone, as NAME_N when several are.
    r = run({"convert", a, "--out", path("pair.bin"), "--blocks", "10,20"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(read("pair_10.bin") + read("pair_20.bin"), "a10a20");
    EXPECT_EQ(read("pair_20.bid"), idFileText({20, 1, 1}));
    ASSERT_EQ(run({"convert", a, "--out", path("one.bin"), "--blocks", "10"}).exitCode, 0);
    EXPECT_EQ(read("one.bin"), "a10");
    // An empty data file beside its id file is an empty block, as "read --out p.bin" saves it.
    write("p_117.bin", "");
    write("p_117.bid", idFileText({117, 4, 0}));
    r = run({"convert", path("p_117.bin"), "--out", path("e.eep")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readEep(path("e.eep")), (BlockList{{117, {}, 4}}));
}

TEST_F(Cli, LinesThatDoNotReadAreRefusedUnlessLenient) {
    write("t.txt", "8A 16 ZZ 5A\r\n01\r\n");
    write("t.tid", idFileText({2, 0, 0}));
    CliRun r = run({"convert", path("t.txt"), "--out", path("t.eep")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("t.txt line 1: \"8A 16 ZZ 5A\"")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("--lenient"));
    r = run({"convert", "--lenient", path("t.txt"), "--out", path("t.eep")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(readEep(path("t.eep")), (BlockList{{2, "\x01", 0}}));
    // "list" shows what it read all the same.
    r = run({"list", path("t.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, " 2\tEElite\t0\t1\t\n");
}

TEST_F(Cli, CompareListsTheDifferencesAndWithBytesWhereTheyAre) {
    QByteArray longer(40, '\0');
    QByteArray other = longer;
    for (int i = 2; i < 22; ++i)
        other[i] = char(i);
    const QString a = eep("a.eep", {blk(1, "abcdef", 1), blk(2, "same", 1), blk(3, "xyz", 1),
                                    blk(4, longer, 1), blk(7)});
    const QString b = eep("b.eep", {blk(1, "aXYdefgh", 2), blk(2, "same", 5), blk(3, "xyz", 1),
                                    blk(4, other, 1), blk(8)});
    CliRun r = run({"compare", a, b, "--bytes"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, "User's blocks missing in Phone's list: 7\n"
                     "Phone's blocks missing in User's list: 8\n"
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
    r = run({"compare", a, b, "--bytes", "--json"});
    EXPECT_TRUE(r.out.contains("\"b\": \"6768\"")) << r.out.toStdString();
    // The same blocks in another order, another hardware id: identical.
    const QString same = eep("same.eep", {blk(3, "xyz", 1), blk(7), blk(1, "abcdef", 1),
                                          blk(4, longer, 1), blk(2, "same", 1)}, 5);
    r = run({"compare", a, same, "--bytes"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Lists are identical!\n");
}

TEST_F(Cli, ShowPrintsOneBlockAsAHexDump) {
    const QByteArray data = QByteArray("Hi x45\x00\x7F", 8) + QByteArray(9, '\xAB');
    const QString a = eep("a.eep", {blk(5077, data, 3), blk(20, "", 0)}, 7);
    write("eeprom.dsc", "5077\r\nGreeting\r\n7\r\n");
    CliRun r = run({"show", a, "--block", "&H13D5"}); // 5077
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Block: 5077\nType: EEfull\nVersion: 3\nLength: 17\nDescription: Greeting\n"
                     "00000000  48 69 20 78 34 35 00 7F AB AB AB AB AB AB AB AB  Hi x45..........\n"
                     "00000010  AB                                               .\n");
    EXPECT_EQ(run({"show", a, "--block", "20"}).out.count('\n'), 5); // an empty block: no bytes
    // A data file without its id file is the block asked for.
    r = run({"show", write("raw.bin", "AB"), "--block", "9", "--version", "4"});
    EXPECT_TRUE(r.out.startsWith("Block: 9\nType: EElite\nVersion: 4\nLength: 2\n")) << r.err.toStdString();
}

// Every refusal names its cause, prints nothing on stdout, and comes before anything is written
// or sent: no output takes the place of a file that is there (without --force) or of an input.
TEST_F(Cli, RefusalsNameTheirCauseAndLeaveEveryFileAsItWas) {
    const QString a = eep("a.eep", {blk(1, "one"), blk(2, "two")});
    const QByteArray precious = serializeEep({blk(7, "precious"), blk(5077, "x")}, 3);
    write("precious.eep", precious);
    write("notes.txt", "notes");
    write("p_2.tid", "an earlier id file");
    write("bad.eep", serializeEep({blk(1, "abcdef")}, 0).chopped(4));
    write("empty.eep", "");
    write("demo.xyz", precious);
    write("c.map", "[20]\r\nDATA = {\r\n01\r\n}\r\n");
    write("garbage.map", QByteArray("\x7F\x45\x4C\x46\x02\x01\0\0[", 9));
    const QString noPort = path("no-port");
#ifdef Q_OS_UNIX
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("f.eep")).constData(), 0600), 0);
#endif
    const struct {
        QStringList args;
        int code;
        const char* said;
    } cases[] = {
        {{"list", path("bad.eep")}, 1, "bad.eep\" cannot be loaded: block 1"},
        {{"list", path("missing.eep")}, 1, "cannot find"},
        {{"list", path("empty.eep")}, 1, "empty.eep\" is empty"},
        {{"list", path("c.map")}, 1, "c.map\" ends inside a data block (Possible corrupted"},
#ifdef Q_OS_UNIX
        {{"list", path("f.eep")}, 1, "f.eep\" is not a regular file but a pipe"}, // not waited on
#endif
        {{"list"}, 2, "name at least one file"},
        {{"list", "--no-such-option", a}, 2, "no-such-option"},
        {{"list", a, "--descriptions", path("none.dsc")}, 1, "none.dsc"},
        {{"convert", path("demo.xyz"), "--out", path("x.eep")}, 1, "skipped demo.xyz: not an EEPROM"},
        {{"convert", path("garbage.map"), "--out", path("precious.eep"), "--force"}, 1, "--lenient"},
        {{"convert", a, "--out", path("precious.eep")}, 1, "--force"},
        {{"convert", a, "--blocks", "1", "--out", path("notes.txt")}, 1, "--force"},
        {{"convert", a, "--out", path("p.txt")}, 1, "p_2.tid"},
        {{"convert", a, "--out", path("./a.eep"), "--force"}, 2, "also read"},
        {{"convert", a, "--out", path("x.eep"), "--blocks", "1, 77"}, 1, "block 77 is not in"},
        {{"convert", a, "--out", path("x.doc")}, 2, "--out must end in"},
        {{"convert", a}, 2, "--out FILE is required"},
        {{"convert", a, "--out", path("y.eep"), "--blocks", "99999"}, 2, "99999"},
        {{"compare", a, path("missing.eep")}, 1, "cannot find"},
        {{"compare", a, path("bad.eep"), "--json"}, 1, "bad.eep"},
        {{"show", a}, 2, "--block N is required"},
        {{"show", "--block", "20"}, 2, "name at least one file"},
        {{"show", a, "--block", "abc"}, 2, "--block"},
        {{"show", a, "--block", "20-21"}, 2, "--block takes one block number"},
        {{"show", a, "--block", "21"}, 1, "block 21 is not in the loaded files"},
        {{"read", "--port", noPort, "--out", path("missing/x.eep")}, 1, "does not exist"},
        {{"read", "--port", noPort, "--out", path("precious.eep")}, 1, "--force"},
        {{"read", "--port", noPort, "--out", path("p.txt")}, 1, "p_2.tid"},
        {{"delete", "--port", noPort, "--blocks", "1", "--backup", path("precious.eep")}, 1, "--force"},
        {{"read", "--port", noPort, "--out", path("y.bin"), "--trace", path("y.bid")}, 2, "--trace"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.said))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_FALSE(r.err.contains("no-port")) << "the port was opened";
    }
    EXPECT_EQ(read("precious.eep"), precious);
    EXPECT_EQ(read("notes.txt"), "notes");
    EXPECT_EQ(read("p_2.tid"), "an earlier id file");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 10); // nothing new
    EXPECT_EQ(run({"convert", a, "--out", path("precious.eep"), "--force"}).exitCode, 0);
    EXPECT_EQ(read("precious.eep"), read("a.eep"));
}

#ifdef Q_OS_UNIX
TEST_F(Cli, NamesAsTheSystemHasThem) {
    eep("a.eep", {blk(1, "one")});
    // Two names that differ only in bytes that are no UTF-8 are two files.
    QProcess sh;
    sh.setWorkingDirectory(dir.path());
    sh.start("sh", {"-c", "for n in \"$(printf 'n\\377.eep')\" \"$(printf 'n\\376.eep')\"; do "
                          "\"$0\" convert a.eep --out \"$n\" && cmp -s a.eep \"$n\"; echo $?; done; "
                          "\"$0\" convert a.eep --out \"$(printf 'n\\377.eep')\" 2>/dev/null; echo $?",
                    QStringLiteral(X45CLI_PATH)});
    ASSERT_TRUE(sh.waitForFinished(30000));
    EXPECT_EQ(sh.readAllStandardOutput(), "0\n0\n1\n");
}
#endif

// The general usage text and each command's --help come from one table: every command listed
// answers --help with its usage line, and an argument to a command that takes none is refused.
TEST(CliUsage, EveryListedCommandHasItsHelpAndUsageErrorsEndWithTwo) {
    const CliRun usage = runCli({"--help"});
    ASSERT_EQ(usage.exitCode, 0);
    const QString commands = usage.out.section("Commands:\n", 1).section("\n\n", 0, 0);
    int seen = 0;
    for (const QString& line : commands.split('\n')) {
        const QString name = line.mid(2, 9).trimmed();
        if (name.isEmpty()) continue; // a summary on a line of its own
        ++seen;
        const CliRun help = runCli({name, "--help"});
        EXPECT_EQ(help.exitCode, 0) << name.toStdString();
        EXPECT_TRUE(help.out.startsWith("Usage: x45eep-cli " + name + " " + line.mid(11, 12).trimmed()))
            << help.out.toStdString();
    }
    EXPECT_EQ(seen, 9);
    EXPECT_EQ(runCli({}).err, usage.out) << "the same text on stderr";
    const struct {
        QStringList args;
        const char* said;
    } usageErrors[] = {
        {{}, "usage: x45eep-cli COMMAND"},
        {{"lsit"}, "x45eep-cli: unknown command \"lsit\"\n"},
        {{"info"}, "--port is required"},
        {{"info", "--port", "/dev/null", "extra"}, "unexpected argument \"extra\""},
        {{"read", "--port", "/dev/null", "extra"}, "unexpected argument \"extra\""},
        {{"delete", "--port", "/dev/null", "extra"}, "unexpected argument \"extra\""},
        {{"ports", "extra"}, "unexpected argument \"extra\""},
        {{"read", "--port", "/dev/null"}, "--out FILE is required"},
        {{"read", "--port", "/dev/null", "--out", "x.doc"}, "--out must end in"},
        {{"read", "--port", "/dev/null", "--blocks", "1 99999", "--out", "x.eep"}, "99999"},
        {{"write", "--port", "/dev/null", "a.eep"}, "either --all or --blocks"},
        {{"write", "--port", "/dev/null", "--all", "--blocks", "1", "a.eep"}, "either --all"},
        {{"delete", "--port", "/dev/null"}, "--blocks LIST is required"},
        {{"delete", "--port", "/dev/null", "--blocks", "-"}, "nothing was sent"},
        {{"delete", "--port", "/dev/null", "--blocks", "1", "--blocks", "2"}, "more than once"},
        {{"write", "--port", "/dev/null", "--blocks", "0", "x.bin", "--block", "abc"}, "\"abc\""},
        {{"write", "--port", "/dev/null", "--blocks", "0", "x.bin", "--version", "1.5"}, "1.5"},
    };
    for (const auto& u : usageErrors) {
        const CliRun r = runCli(u.args);
        EXPECT_EQ(r.exitCode, 2) << u.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(u.said))) << r.err.toStdString();
    }
}
