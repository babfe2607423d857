// Saving: a short write (file size limit, full file system) leaves the old files byte for byte
// and no temporary behind; files saved together are replaced together; what was written reads
// back the same.

#include "files/safefile.h"

#include "cliprocess.h"
#include "files/eepfile.h"
#include "tempfolder.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <functional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace x45;
using namespace x45::test;

namespace {

struct SafeFile : ::testing::Test, TempFolder {
    [[nodiscard]] QStringList entries() const {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                                          QDir::Name);
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

#ifdef Q_OS_UNIX
TEST_F(SafeFile, ShortWriteUnderAFileSizeLimitKeepsTheOldFiles) {
    const QByteArray old = "the only good copy";
    const QByteArray big(64 * 1024, 'x');
    write("dump.eep", old);
    write("pair.bin", old);
    write("pair.bid", old);
    EXPECT_FALSE(underFileSizeLimit(4096, [&] {
        return writeFileSafely(path("dump.eep"), big).isOk();
    }));
    // The small data file fits, its id file does not: neither is replaced.
    EXPECT_FALSE(underFileSizeLimit(4096, [&] {
        return writeFilesTogether({{path("pair.bin"), "small"}, {path("pair.bid"), big}}).isOk();
    }));
    EXPECT_EQ(read("dump.eep"), old);
    EXPECT_EQ(read("pair.bin"), old);
    EXPECT_EQ(read("pair.bid"), old);
    EXPECT_EQ(entries(), (QStringList{"dump.eep", "pair.bid", "pair.bin"}));
    // The same save within the limit succeeds.
    EXPECT_TRUE(underFileSizeLimit(1 << 20, [&] {
        return writeFileSafely(path("dump.eep"), big).isOk();
    }));
    EXPECT_EQ(read("dump.eep"), big);
}

TEST_F(SafeFile, FullFileSystemKeepsTheOldOutputOfConvert) {
    // A small tmpfs of our own, in a user and mount namespace; skipped where the system does not
    // allow one.
    const QString in = path("in.eep");
    ASSERT_TRUE(writeEep(in, inventedBlocks(60, 200, 5), 3));
    write("old.eep", "the old output");
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=16k none \"$1\" || { echo nomount; exit 0; }\n"
        "cp \"$2/old.eep\" \"$1/out.eep\" && head -c 12288 /dev/zero > \"$1/fill\" 2>/dev/null\n"
        "\"$3\" convert \"$2/in.eep\" --out \"$1/out.eep\"; echo \"code=$?\"\n"
        "cmp -s \"$1/out.eep\" \"$2/old.eep\" && echo same\n"
        "ls -a \"$1\" | tr '\\n' ' '\n");
    QDir(dir.path()).mkdir("full");
    QProcess p;
    p.start("unshare", {"-rm", "sh", "-c", script, "sh", path("full"), dir.path(),
                        QStringLiteral(X45CLI_PATH)});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        GTEST_SKIP() << "no user and mount namespace here";
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (out.contains("nomount")) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_TRUE(out.contains("code=1")) << out.toStdString();
    EXPECT_TRUE(out.contains("same")) << out.toStdString();
    EXPECT_TRUE(out.endsWith(". .. fill out.eep ")) << out.toStdString(); // no temporary left
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains("No space left"));
}
#endif

TEST_F(SafeFile, FilesSavedTogetherAreReplacedTogetherAndReadBack) {
    write("a.bin", "old a");
    write("a.bid", "old id");
    const QVector<PlannedFile> files{{path("a.bin"), "new a"}, {path("a.bid"), "new id"}};
    ASSERT_TRUE(writeFilesTogether(files).isOk());
    EXPECT_EQ(read("a.bin"), "new a");
    EXPECT_EQ(read("a.bid"), "new id");
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
