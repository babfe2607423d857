// Saving: a short write (file size limit, full file system) leaves the old files byte for byte
// and no temporary behind; files saved together are replaced together; what was written reads
// back the same.

#include "files/safefile.h"

#include "cliprocess.h"
#include "files/eepfile.h"
#include "files/userfiles.h"
#include "scripted.h"
#include "tempfolder.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
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

#ifdef Q_OS_LINUX
bool writeProc(const char* file, const QByteArray& text) {
    const int fd = ::open(file, O_WRONLY);
    if (fd < 0) return false;
    const bool good = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return good;
}

// Runs `work` in a child process with mounts of its own (in a user namespace of its own unless
// only root may have one), after `setUp` has run there. Returns what `work` returned, or nothing
// when the system allows no such namespace. The mounts go with the child.
std::optional<QString> withOwnMounts(const std::function<bool()>& setUp,
                                     const std::function<QString()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        bool ok = ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0;
        if (ok)
            ok = writeProc("/proc/self/setgroups", "deny") &&
                 writeProc("/proc/self/uid_map", QByteArray::number(uid).prepend("0 ") + " 1") &&
                 writeProc("/proc/self/gid_map", QByteArray::number(gid).prepend("0 ") + " 1");
        else
            ok = ::unshare(CLONE_NEWNS) == 0;
        ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 && setUp();
        if (!ok) ::_exit(2);
        const QByteArray out = work().toUtf8();
        const bool sent = ::write(fds[1], out.constData(), size_t(out.size())) == out.size();
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        out.append(buffer, n);
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2) return std::nullopt;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed";
    return QString::fromUtf8(out);
}

// Mounts the file `cover` over `target`: a mount point cannot be renamed over.
bool coverWith(const QString& cover, const QString& target) {
    return ::mount(QFile::encodeName(cover).constData(), QFile::encodeName(target).constData(),
                   nullptr, MS_BIND, nullptr) == 0;
}
#endif

} // namespace

#ifdef Q_OS_LINUX
TEST_F(SafeFile, IdFileWhoseFinalReplaceFailsLeavesEveryOldFile) {
    // Each id file is a mount point in a namespace of the test's own, so everything up to its
    // rename succeeds (the data files are written and renamed into place) and that last rename
    // is refused. Works as root and as anyone else.
    write("one.txt", "old hex");
    write("one.tid", "old id");
    write("two_3.bin", "old three");
    write("two_3.bid", "old id 3");
    write("two_5.bid", "old id 5"); // two_5.bin does not exist yet
    write("cover", "cover");
    const BlockList blocks{{3, "new three", 1}, {5, "new five", 2}};
    const std::optional<QString> messages = withOwnMounts(
        [&] {
            return coverWith(path("cover"), path("one.tid")) &&
                   coverWith(path("cover"), path("two_5.bid"));
        },
        [&] {
            ScriptedInteraction ui;
            QStringList out;
            for (const auto& [name, rows] : {std::pair{"one.txt", QVector<int>{0}},
                                             std::pair{"two.bin", QVector<int>{0, 1}}}) {
                const Status saved = saveUserFiles(path(name), blocks, 7, rows, ui);
                out << (saved ? QStringLiteral("saved") : saved.message());
            }
            return out.join(QLatin1Char('\n'));
        });
    if (!messages) GTEST_SKIP() << "no mount namespace can be made here";
    const QStringList lines = messages->split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << messages->toStdString();
    EXPECT_TRUE(lines[0].contains(QDir::toNativeSeparators(path("one.tid"))))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QDir::toNativeSeparators(path("two_5.bid"))))
        << lines[1].toStdString();
    // The data files renamed before the failure have their old contents back, the one that did
    // not exist is gone again, and no temporary or kept copy stays behind.
    EXPECT_EQ(read("one.txt"), "old hex");
    EXPECT_EQ(read("one.tid"), "old id");
    EXPECT_EQ(read("two_3.bin"), "old three");
    EXPECT_EQ(read("two_3.bid"), "old id 3");
    EXPECT_EQ(read("two_5.bid"), "old id 5");
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
    EXPECT_EQ(read("dump.eep"), old);
    EXPECT_EQ(read("pair.bin"), old);
    EXPECT_EQ(read("pair.bid"), old);
    EXPECT_EQ(entries(), (QStringList{"dump.eep", "pair.bid", "pair.bin"}));
    // The same save within the limit succeeds.
    EXPECT_TRUE(
        underFileSizeLimit(1 << 20, [&] { return writeFileSafely(path("dump.eep"), big).isOk(); }));
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
        "\"$3\" convert \"$2/in.eep\" --out \"$1/out.eep\" --force; echo \"code=$?\"\n"
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
