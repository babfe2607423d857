// The EEPROM file format; "Load" and "Save" of the User's list: merging, early ends, rejection
// that keeps the list; and saving that never loses the old file: a short write (a file size
// limit) or a failed rename leaves the old files byte for byte and no temporary behind, files
// saved together are replaced together, and what was written reads back the same.

#include "blockids.h"
#include "files/eepfile.h"
#include "files/safefile.h"
#include "files/userfiles.h"

#include "formats_support.h"
#include "scripted.h"
#include "tempfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>
#include <gtest/gtest.h>

#include <functional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace x45;
using namespace x45::test;
using Ids = QVector<qint16>;

namespace {

// Builds file bytes field by field, independently of the writer under test.
struct Bytes {
    QByteArray b;
    template <typename T> Bytes& put(T v) {
        char raw[sizeof(T)];
        qToLittleEndian<T>(v, raw);
        b.append(raw, sizeof(T));
        return *this;
    }
    Bytes& i32(qint32 v) { return put(v); }
    Bytes& u16(quint16 v) { return put(v); }
    Bytes& raw(const QByteArray& data) {
        b.append(data);
        return *this;
    }
    Bytes& counts(qint32 low, qint32 high) { return i32(low).i32(high); }
    Bytes& entry(qint32 id, const QByteArray& data, qint32 ver) {
        return i32(id).i32(static_cast<qint32>(data.size())).i32(ver).raw(data);
    }
};

const QString Name = QStringLiteral("dump.eep");

} // namespace

TEST(EepFile, WrittenExactlyAndReadBackWithItsLayouts) {
    const BlockList list = {blk(5001, "\x01\x02", 3), blk(5000, "", 0), blk(-2, "\xFF", 255),
                            blk(20, "abc", 1)};
    const Bytes entries = Bytes()
                              .counts(3, 1) // 5000 is counted with -2 and 20, 5001 alone
                              .entry(5001, "\x01\x02", 3)
                              .entry(5000, "", 0)
                              .entry(-2, "\xFF", 255)
                              .entry(20, "abc", 1);
    EXPECT_EQ(serializeEep(list, 0x8001), Bytes(entries).u16(0x8001).b);

    const Bytes one = Bytes().counts(1, 0).entry(7, "xy", 1);
    const BlockList seven = {blk(7, "xy", 1)};
    const struct {
        const char* what;
        Bytes bytes;
        BlockList blocks;
        quint16 hwid;
    } accepted[] = {
        {"written", Bytes(entries).u16(0xBEEF), list, 0xBEEF},
        {"no id trailer", one, seven, 0},
        {"one stray byte is no id", Bytes(one).raw("\x05"), seven, 0},
        {"bytes after the id", Bytes(one).u16(0x1234).raw("tail"), seven, 0x1234},
        // A writer that split the counts differently still yields every block.
        {"counts split otherwise", Bytes().counts(0, 2).entry(1, "a", 0).entry(9000, "b", 0).u16(0),
         {blk(1, "a", 0), blk(9000, "b", 0)}, 0},
        {"repeated number replaces in place",
         Bytes().counts(3, 0).entry(20, "old", 1).entry(10, "ten", 1).entry(20, "new!", 2).u16(0),
         {blk(20, "new!", 2), blk(10, "ten", 1)}, 0},
        {"empty list", Bytes().counts(0, 0).u16(0x42), {}, 0x42},
        {"boundary numbers and versions",
         Bytes().counts(2, 1).entry(-32768, "", 0).entry(32767, "", 255).entry(0, "z", 128),
         {blk(-32768, "", 0), blk(32767, "", 255), blk(0, "z", 128)}, 0},
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.what);
        const Result<EepContents> read = parseEep(c.bytes.b, Name);
        ASSERT_TRUE(read) << read.message().toStdString();
        EXPECT_EQ(read->blocks, c.blocks);
        EXPECT_EQ(read->hwid, c.hwid);
    }
}

TEST(EepFile, DamagedFilesAreRejectedWithTheirFault) {
    const struct {
        const char* what;
        QByteArray bytes;
        const char* mention;
    } cases[] = {
        {"empty", QByteArray(), "empty"},
        {"short header", QByteArray("\x01\x00\x00", 3), "header"},
        {"negative count", Bytes().counts(-1, 0).b, "negative"},
        {"counts beyond a list", Bytes().counts(30000, 2768).b, "32768"},
        {"counts overflowing 32 bits", Bytes().counts(0x7FFFFFFF, 0x7FFFFFFF).b, "blocks"},
        {"count beyond the file", Bytes().counts(1000, 0).entry(1, "a", 0).b, "too short"},
        {"ends inside entry header",
         Bytes().counts(2, 0).entry(1, "abcdefghijklmn", 0).i32(2).i32(0).b, "entry 2 of 2"},
        {"ends inside data",
         Bytes().counts(1, 0).i32(5).i32(20).i32(0).raw("abc").raw("12345678901").b, "only"},
        {"block number above 16 bits", Bytes().counts(1, 0).entry(32768, "", 0).b, "32768"},
        {"block number below 16 bits", Bytes().counts(1, 0).entry(-32769, "", 0).b, "-32769"},
        {"version above 255", Bytes().counts(1, 0).entry(5, "", 256).b, "256"},
        {"negative version", Bytes().counts(1, 0).entry(5, "", -1).b, "version"},
        {"negative length", Bytes().counts(1, 0).i32(5).i32(-4).i32(0).u16(0).b, "negative length"},
        {"huge length", Bytes().counts(1, 0).i32(5).i32(0x7FFFFFF0).i32(0).raw("abcd").b,
         "2147483632"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.what);
        const Result<EepContents> read = parseEep(bad.bytes, Name);
        ASSERT_TRUE(read.is(ErrorKind::BadInput));
        EXPECT_TRUE(read.message().contains(Name)) << read.message().toStdString();
        EXPECT_TRUE(read.message().contains(QLatin1String(bad.mention))) << read.message().toStdString();
    }
}

namespace {

enum class Loaded { Loaded, EndedEarly, Rejected };

struct UserFiles : ::testing::Test, TempFolder {
    ScriptedInteraction ui;
    Workspace ws;
    QStringList shown; // what a front end shows: the failure, or the load's report
    LoadReport report;

    void SetUp() override {
        ws.UserBlocks = {blk(900, "old"), blk(-5, "old")};
        ws.UserHWid = 0x1111;
    }
    // Loads or saves as a front end does; the core itself shows nothing.
    Loaded load(const QStringList& names) {
        const Result<LoadOutcome> r = loadUserFiles(names, ws.UserBlocks, ws.UserHWid, ui, report);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(ui.busyDepth, 0);
        if (!r) {
            shown << r.message();
            return Loaded::Rejected;
        }
        if (const QString text = loadReportText(report); !text.isEmpty()) shown << text;
        return r.value() == LoadOutcome::Loaded ? Loaded::Loaded : Loaded::EndedEarly;
    }
    Status save(const QString& name, const Workspace& from, const QVector<int>& rows) {
        const Result<QVector<PlannedFile>> s =
            saveUserFiles(name, from.UserBlocks, from.UserHWid, rows, ui);
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(ui.busyDepth, 0);
        if (!s) shown << s.message();
        return s ? Status::ok() : s.status();
    }
    void expectUntouched() {
        EXPECT_EQ(ws.UserBlocks, BlockList({blk(900, "old"), blk(-5, "old")}));
        EXPECT_EQ(ws.UserHWid, 0x1111);
    }
};

} // namespace

// The first file replaces the list, the next merge into it; the list ends sorted.
TEST_F(UserFiles, MergingKeepsOneBlockWithTheLaterContents) {
    const QString a = write("a.eep", serializeEep({blk(20, "from a", 1), blk(10, "a10")}, 5));
    // b.eep ends right after its last entry: no hardware id, so the list's id becomes 0.
    const QString b = write("b.EEP", serializeEep({blk(40, "b40"), blk(20, "from b", 9)}, 0).chopped(2));
    // x.bin and its id file, written by "Save" of one selected block with hardware id 0x22.
    Workspace single;
    single.UserBlocks = {blk(40, "from bin", 6)};
    single.UserHWid = 0x22;
    ASSERT_TRUE(save(path("x.bin"), single, {0}));
    EXPECT_EQ(load({a, b}), Loaded::Loaded);
    EXPECT_EQ(ws.UserBlocks, BlockList({blk(10, "a10"), blk(20, "from b", 9), blk(40, "b40")}));
    EXPECT_EQ(ws.UserHWid, 0);
    EXPECT_EQ(load({a, path("x.bin")}), Loaded::Loaded);
    EXPECT_EQ(ws.UserBlocks, BlockList({blk(10, "a10"), blk(20, "from a", 1), blk(40, "from bin", 6)}));
    EXPECT_EQ(ws.UserHWid, 0x22);
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(UserFiles, EmptyOrMissingFileEndsTheLoadKeepingEarlierFiles) {
    const QString a = write("a.eep", serializeEep({blk(7, "a"), blk(3, "a")}, 2));
    const QString empty = write("empty.eep", {});
    const QString c = write("c.eep", serializeEep({blk(1, "c")}, 3));
    EXPECT_EQ(load({a, empty, c}), Loaded::EndedEarly);
    EXPECT_EQ(ids(ws.UserBlocks), (Ids{3, 7}));
    EXPECT_EQ(ws.UserHWid, 2);
    EXPECT_EQ(report.endedAt, QDir::toNativeSeparators(empty));
    EXPECT_TRUE(QFile::exists(empty)); // absent for the load, but a file of the person's: kept
    EXPECT_TRUE(shown.isEmpty());
    // A missing first file: the list is not emptied, only sorted as after any load.
    EXPECT_EQ(load({path("gone.eep"), c}), Loaded::EndedEarly);
    EXPECT_EQ(ids(ws.UserBlocks), (Ids{3, 7}));
    EXPECT_TRUE(report.endReason.contains("gone.eep"));
}

TEST_F(UserFiles, OtherExtensionsAndLinesThatDoNotReadAreNamedInOneMessage) {
    const QString notes = write("notes.doc", "whatever");
    const QString a = write("a.eep", serializeEep({blk(1, "a")}, 0));
    // A long line with a NUL byte, and more bad lines than a report lists.
    write("t.txt", "8A 16 ZZ 5A\r\n0A B\r\n" + QByteArray("Q\0", 2) + QByteArray(200, 'x') +
                       "\r\nZZ\r\nZZ\r\n");
    write("t.tid", "EEPROM block additional file.\r\nEEPROM BlockId:\r\n 9 9 \r\n"
                   "EEPROM BlockVer:\r\n 0 \r\n");
    // a.eep is file 2 of the selection, so it merges into the list instead of replacing it.
    EXPECT_EQ(load({notes, a, path("t.txt")}), Loaded::Loaded);
    EXPECT_EQ(ids(ws.UserBlocks), (Ids{-5, 1, 99, 900}));
    EXPECT_EQ(report.skipped, QStringList{"notes.doc"});
    ASSERT_EQ(report.problems.size(), 4);
    EXPECT_EQ(report.problems[3].unlisted, 2);
    ASSERT_EQ(shown.size(), 1);
    const QString& text = shown[0];
    EXPECT_TRUE(text.startsWith("skipped notes.doc: not an EEPROM, block or mapping file\n6 line"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("t.txt line 1: \"8A 16 ZZ 5A\": \"Z\" is not a hex digit"));
    EXPECT_TRUE(text.contains("t.tid line 3: \" 9 9 \""));
    EXPECT_TRUE(text.contains("t.txt line 3: \"Q\\x00" + QString(58, 'x') + "...\": "));
    EXPECT_TRUE(text.endsWith("\n... and 2 more line(s) of " + QDir::toNativeSeparators(path("t.txt"))));
}

TEST_F(UserFiles, RejectedFilesLeaveTheListExactlyAsBefore) {
    const QString good = write("good.eep", serializeEep({blk(1, "a")}, 9));
    const QString bad = write("bad.eep", serializeEep({blk(2, "abcdef")}, 0).chopped(5));
    QDir(dir.path()).mkdir("folder.eep");
    BlockList first, second;
    for (int i = 0; i < 20000; ++i) {
        first.append(blk(static_cast<qint16>(i - 32768)));
        second.append(blk(static_cast<qint16>(i)));
    }
    const QString a = write("big1.eep", serializeEep(first, 0));
    const QString b = write("big2.eep", serializeEep(second, 0));
    const struct {
        QStringList names;
        QString named;
    } cases[] = {{{good, bad}, QDir::toNativeSeparators(bad)},
                 {{path("folder.eep")}, QDir::toNativeSeparators(path("folder.eep"))},
                 {{a, b}, "would hold 40000 blocks, more than 32767"}};
    for (const auto& c : cases) {
        shown.clear();
        EXPECT_EQ(load(c.names), Loaded::Rejected);
        expectUntouched();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].contains(c.named)) << shown[0].toStdString();
    }
}

TEST_F(UserFiles, SaveReplacesTheOldFileWithAllUnlessTwoOrMoreSelected) {
    ws.UserBlocks = {blk(5000, "a"), blk(5001, "b"), blk(1, ""), blk(-9, "z")};
    write("one.eep", QByteArray(5000, 'x'));
    ASSERT_TRUE(save(path("one.eep"), ws, {2}));
    EXPECT_EQ(read("one.eep"), serializeEep(ws.UserBlocks, 0x1111));
    ASSERT_TRUE(save(path("two.EEP"), ws, {3, 1}));
    EXPECT_EQ(read("two.EEP"), serializeEep({blk(5001, "b"), blk(-9, "z")}, 0x1111));
    // No temporary file stays behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"one.eep", "two.EEP"}));
}

TEST_F(UserFiles, FailedOrRefusedSavesSaySoAndWriteNothing) {
    // A folder of that name, a name below a plain file, names of no save format, single-block
    // files without a selection: each says why, and nothing is written.
    QDir(dir.path()).mkdir("taken.eep");
    const QString plain = write("plain", "keep me");
    for (const QString& target : {path("taken.eep"), plain + "/x.eep", path("dump.dat"),
                                  path("dump.map"), path("one.bin")}) {
        shown.clear();
        EXPECT_FALSE(save(target, ws, {})) << target.toStdString();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].contains(QDir::toNativeSeparators(target))) << shown[0].toStdString();
    }
    EXPECT_TRUE(shown[0].contains("selected"));
    EXPECT_TRUE(QFileInfo(path("taken.eep")).isDir());
    EXPECT_EQ(read("plain"), "keep me");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"plain"}));
}

// The names a save or a load touches, and the format a name stands for.
TEST(FileNames, FormatsAndTheFilesOfASave) {
    EXPECT_EQ(formatOfName("xeep"), FileFormat::Eep); // the last three characters only
    EXPECT_EQ(formatOfName("ep"), FileFormat::Unknown);
    EXPECT_EQ(filesALoadReads("/d/a.txt"), QStringList({"/d/a.txt", "/d/a.tid"}));
    EXPECT_EQ(filesALoadReads("/d/a.map"), QStringList{"/d/a.map"});
    for (const auto& [name, candidate, may] :
         {std::tuple{"/d/p.bin", "/d/p.bin", true}, {"/d/p.bin", "/d/p.bid", true},
          {"/d/p.bin", "/d/p_-5.bin", true}, {"/d/p.bin", "/d/p_32767.bid", true},
          {"/d/p.bin", "/d/p_32768.bin", false}, {"/d/p.bin", "/d/p_05.bin", false},
          {"/d/p.bin", "/d/p_5.txt", false}, {"/d/p.eep", "/d/p_5.eep", false},
          {"/d/p.bin", "/d/q_5.bin", false}, {".bin", "_5.bin", true}})
        EXPECT_EQ(saveMayWrite(name, candidate), may) << name << " " << candidate;
}

namespace {

struct SafeFile : ::testing::Test, TempFolder {
    [[nodiscard]] QStringList entries() const {
        return QDir(dir.path())
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
};

#ifdef Q_OS_UNIX
// Runs `work` in a child process whose files may not grow beyond `limit` bytes, with SIGXFSZ
// ignored so that a write beyond it fails instead of killing the child. Returns work's result.
bool underFileSizeLimit(rlim_t limit, const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::signal(SIGXFSZ, SIG_IGN);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

} // namespace

#ifdef Q_OS_LINUX
TEST_F(SafeFile, IdFileWhoseFinalReplaceFailsLeavesEveryOldFile) {
    // Each id file is a mount point in a user and mount namespace of the test's own, so
    // everything up to its rename succeeds (the data files are written and renamed into place)
    // and that last rename is refused. The saves are the command line's, which saves as "Save".
    write("one.txt", "old hex");
    write("one.tid", "old id");
    write("two_3.bin", "old three");
    write("two_3.bid", "old id 3");
    write("two_5.bid", "old id 5"); // two_5.bin does not exist yet
    write("cover", "cover");
    write("in.eep", serializeEep({{3, "new three", 1}, {5, "new five", 2}}, 7));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start("unshare", {"-rm", "sh", "-c",
                        "mount --bind cover one.tid && mount --bind cover two_5.bid || exit 3\n"
                        "\"$0\" convert in.eep --blocks 3 --out one.txt --force\n"
                        "\"$0\" convert in.eep --out two.bin --force; rm in.eep",
                        QStringLiteral(X45CLI_PATH)});
    if (!p.waitForFinished(30000) || p.exitCode() == 3 || p.error() == QProcess::FailedToStart)
        GTEST_SKIP() << "no mount namespace can be made here";
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains("\"one.tid\" could not be written")) << err.toStdString();
    EXPECT_TRUE(err.contains("\"two_5.bid\" could not be written")) << err.toStdString();
    // The data files renamed before the failure have their old contents back, the one that did
    // not exist is gone again, and no temporary or kept copy stays behind.
    for (const auto& [name, old] : {std::pair{"one.txt", "old hex"}, {"one.tid", "old id"},
                                    {"two_3.bin", "old three"}, {"two_3.bid", "old id 3"},
                                    {"two_5.bid", "old id 5"}})
        EXPECT_EQ(read(name), old) << name;
    EXPECT_EQ(entries().join(' '), "cover one.tid one.txt two_3.bid two_3.bin two_5.bid");
}
#endif

#ifdef Q_OS_UNIX
TEST_F(SafeFile, ShortWriteUnderAFileSizeLimitKeepsTheOldFiles) {
    const QByteArray old = "the only good copy";
    const QByteArray big(64 * 1024, 'x');
    write("dump.eep", old);
    write("pair.bin", old);
    write("pair.bid", old);
    EXPECT_FALSE(
        underFileSizeLimit(4096, [&] { return writeFileSafely(path("dump.eep"), big).isOk(); }));
    // The small data file fits, its id file does not: neither is replaced.
    EXPECT_FALSE(underFileSizeLimit(4096, [&] {
        return writeFilesTogether({{path("pair.bin"), "small"}, {path("pair.bid"), big}}).isOk();
    }));
    for (const char* name : {"dump.eep", "pair.bin", "pair.bid"})
        EXPECT_EQ(read(name), old) << name;
    EXPECT_EQ(entries(), (QStringList{"dump.eep", "pair.bid", "pair.bin"}));
    // The same save within the limit succeeds.
    EXPECT_TRUE(
        underFileSizeLimit(1 << 20, [&] { return writeFileSafely(path("dump.eep"), big).isOk(); }));
    EXPECT_EQ(read("dump.eep"), big);
}
#endif

TEST_F(SafeFile, FilesSavedTogetherAreReplacedTogetherAndReadBack) {
    write("a.bin", "old a");
    write("a.bid", "old id");
    const QVector<PlannedFile> files{{path("a.bin"), "new a"}, {path("a.bid"), "new id"}};
    ASSERT_TRUE(writeFilesTogether(files).isOk());
    EXPECT_EQ(read("a.bin") + read("a.bid"), "new anew id");
    EXPECT_TRUE(verifyFiles(files).isOk());
    EXPECT_EQ(entries(), (QStringList{"a.bid", "a.bin"}));

    write("a.bid", "changed"); // a backup that does not read back the same is caught
    const Status s = verifyFiles(files);
    ASSERT_FALSE(s.isOk());
    EXPECT_TRUE(s.message().contains(QDir::toNativeSeparators(path("a.bid"))));

    // A folder in the way of the second file: the first is not replaced either.
    QDir(dir.path()).mkdir("b.bid");
    EXPECT_FALSE(writeFilesTogether({{path("a.bin"), "third"}, {path("b.bid"), "x"}}).isOk());
    EXPECT_EQ(read("a.bin"), "new a");
}

#ifdef Q_OS_UNIX
TEST_F(SafeFile, ReplacedFilesKeepModeOwnerAndLinksAndOthersAreLeftAlone) {
    write("a.eep", "old");
    ::chmod(QFile::encodeName(path("a.eep")).constData(), 0600);
    const bool root = ::geteuid() == 0; // only the superuser may give a file away
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(path("a.eep")).constData(), 65534, 65534), 0);
    }
    ASSERT_TRUE(QFile::link(path("a.eep"), path("link.eep")));
    ASSERT_TRUE(writeFileSafely(path("link.eep"), "new").isOk());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path("a.eep")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
    }
    EXPECT_EQ(read("a.eep"), "new");
    EXPECT_TRUE(QFileInfo(path("link.eep")).isSymLink());

    // Refused: an existing file (or dangling link) stays; a new one is written.
    ASSERT_TRUE(QFile::link(path("gone.eep"), path("dangling.eep")));
    for (const char* there : {"a.eep", "link.eep", "dangling.eep"})
        EXPECT_FALSE(writeFileSafely(path(there), "x", Replace::Refused).isOk()) << there;
    EXPECT_TRUE(writeFileSafely(path("b.eep"), "b", Replace::Refused).isOk());
    // A pipe is never written over, not even when replacing is allowed.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("p.eep")).constData(), 0600), 0);
    EXPECT_FALSE(writeFileSafely(path("p.eep"), "x").isOk());
    EXPECT_EQ(read("a.eep"), "new");
    EXPECT_TRUE(QFileInfo(path("dangling.eep")).isSymLink());
    EXPECT_EQ(entries().join(' '), "a.eep b.eep link.eep"); // no temporary left behind
}
#endif
