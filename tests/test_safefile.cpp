// Saving: a short write (a file size limit) or a failed rename leaves the old files byte for byte
// and no temporary behind; files saved together are replaced together; what was written reads
// back the same.

#include "files/safefile.h"

#include "files/eepfile.h"
#include "tempfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
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
