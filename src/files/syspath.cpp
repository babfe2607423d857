#include "files/syspath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace x45 {

namespace {

constexpr char16_t KeptByteBase = 0xDC00; // U+DC80..U+DCFF hold the bytes 0x80..0xFF

bool isKeptByte(const QString& text, qsizetype i) {
    const char16_t c = text.at(i).unicode();
    return c >= KeptByteBase + 0x80 && c <= KeptByteBase + 0xFF &&
           !(i > 0 && text.at(i - 1).isHighSurrogate());
}

#ifndef Q_OS_WIN
// The length of the UTF-8 character at `at` and its code point; 0 when the bytes there are no
// character (a stray or cut byte, an overlong form, a surrogate, beyond U+10FFFF).
int utf8Character(const QByteArray& bytes, qsizetype at, char32_t& code) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || at + length > bytes.size()) return 0;
    code = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a file of this mode is neither read nor replaced.
QString notRegular(mode_t mode) {
    return S_ISDIR(mode) ? QStringLiteral("it is a folder")
                         : QStringLiteral("it is not a regular file but a pipe, device or socket");
}

Status refused(const QString& why) {
    return Status::fail(ErrorKind::Io, why);
}

// Clears O_NONBLOCK again once the open could not wait, and hands the descriptor to `file`.
Status adopt(QFile& file, int fd, QIODevice::OpenMode mode) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle)) return Status::ok();
    ::close(fd);
    return refused(file.errorString());
}
#endif

} // namespace

QString nameFromSystem(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    return QString::fromLocal8Bit(bytes);
#else
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out += QChar(c);
            ++i;
            continue;
        }
        char32_t code = 0;
        const int length = utf8Character(bytes, i, code);
        if (length == 0) {
            out += QChar(char16_t(KeptByteBase + c));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out += QChar(QChar::highSurrogate(code));
            out += QChar(QChar::lowSurrogate(code));
        } else {
            out += QChar(char16_t(code));
        }
        i += length;
    }
    return out;
#endif
}

QByteArray nameForSystem(const QString& name) {
#ifdef Q_OS_WIN
    return QFile::encodeName(name);
#else
    QByteArray out;
    qsizetype from = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isKeptByte(name, i)) continue;
        out += QStringView(name).mid(from, i - from).toUtf8();
        out += static_cast<char>(name.at(i).unicode() - KeptByteBase);
        from = i + 1;
    }
    out += QStringView(name).mid(from).toUtf8();
    return out;
#endif
}

QStringList argumentsAsGiven(int argc, char** argv) {
#ifdef Q_OS_WIN
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return QCoreApplication::arguments();
#else
    QStringList args;
    args.reserve(argc);
    for (int i = 0; i < argc; ++i)
        args << nameFromSystem(QByteArray(argv[i]));
    return args;
#endif
}

QString escapedText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == '\t') {
            out += QLatin1String("\\t");
        } else if (c == '\r') {
            out += QLatin1String("\\r");
        } else if (c == '\n') {
            out += QLatin1String("\\n");
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || isKeptByte(text, i)) {
            out += QLatin1String("\\x") +
                   QString::number(c & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            out += text.at(i);
        }
    }
    return out;
}

QString shownName(const QString& path) {
    return escapedText(QDir::toNativeSeparators(path));
}

FileState fileState(const QString& path) {
    FileState state;
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    state.link = info.isSymLink();
    if (!info.exists()) return state;
    state.kind = info.isDir() ? FileKind::Folder : info.isFile() ? FileKind::Regular
                                                                 : FileKind::Special;
    state.size = info.size();
#else
    const QByteArray native = nameForSystem(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) return state;
    state.link = S_ISLNK(st.st_mode);
    if (state.link && ::stat(native.constData(), &st) != 0) return state;
    state.kind = S_ISREG(st.st_mode)   ? FileKind::Regular
                 : S_ISDIR(st.st_mode) ? FileKind::Folder
                                       : FileKind::Special;
    state.size = st.st_size;
    state.mode = st.st_mode & 07777;
    state.owner = st.st_uid;
    state.group = st.st_gid;
#endif
    return state;
}

QString folderOf(const QString& path) {
    qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    cut = qMax(cut, path.lastIndexOf(QLatin1Char('\\')));
#endif
    if (cut < 0) return QStringLiteral(".");
    return cut == 0 ? path.left(1) : path.left(cut);
}

QString lastComponent(const QString& path) {
    qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    cut = qMax(cut, path.lastIndexOf(QLatin1Char('\\')));
#endif
    return path.mid(cut + 1);
}

QString canonicalName(const QString& path) {
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (info.exists()) return info.canonicalFilePath();
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : folder + QLatin1Char('/') + info.fileName();
#else
    const auto resolved = [](const QString& name) -> QString {
        char* real = ::realpath(nameForSystem(name).constData(), nullptr);
        QString result = real ? nameFromSystem(real) : QString();
        std::free(real); // NOLINT(cppcoreguidelines-no-malloc): realpath allocates with malloc
        return result;
    };
    if (QString whole = resolved(path); !whole.isEmpty()) return whole;
    const QString name = lastComponent(path);
    if (const QString folder = resolved(folderOf(path)); !folder.isEmpty() && !name.isEmpty() &&
                                                         name != QLatin1String(".") &&
                                                         name != QLatin1String(".."))
        return (folder == QLatin1String("/") ? folder : folder + QLatin1Char('/')) + name;
    const QString here = resolved(QStringLiteral("."));
    return QDir::cleanPath(path.startsWith(QLatin1Char('/')) ? path
                                                             : here + QLatin1Char('/') + path);
#endif
}

QStringList folderEntries(const QString& folder) {
    QStringList names;
#ifdef Q_OS_WIN
    names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                   QDir::NoDotAndDotDot);
#else
    DIR* dir = ::opendir(nameForSystem(folder).constData());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") names << nameFromSystem(name);
    }
    ::closedir(dir);
#endif
    return names;
}

namespace {

// Opens a regular file for reading or for writing (created, then emptied once it is known to be
// a plain file); a folder, pipe or device is refused and left as it is.
Status openRegular(QFile& file, const QString& path, QIODevice::OpenMode mode) {
    const bool writing = mode.testFlag(QIODevice::WriteOnly);
#ifdef Q_OS_WIN
    const FileState state = fileState(path);
    if (state.kind == FileKind::Folder || state.kind == FileKind::Special)
        return Status::fail(ErrorKind::Io, state.kind == FileKind::Folder
                                               ? QStringLiteral("it is a folder")
                                               : QStringLiteral("it is not a regular file"));
    file.setFileName(path);
    if (file.open(writing ? (mode | QIODevice::Truncate) : mode)) return Status::ok();
    return Status::fail(ErrorKind::Io, file.errorString());
#else
    const QByteArray native = nameForSystem(path);
    struct stat st {};
    // Looked at before the open as well: opening a device can have effects of its own.
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return refused(notRegular(st.st_mode));
    const int flags = (writing ? O_WRONLY | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(native.constData(), flags, 0666);
    file.setFileName(path); // for messages; the descriptor is what is read or written
    if (fd < 0) return refused(systemError(errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (writing && ::ftruncate(fd, 0) != 0)) {
        const QString why = S_ISREG(st.st_mode) ? systemError(errno) : notRegular(st.st_mode);
        ::close(fd);
        return refused(why);
    }
    return adopt(file, fd, mode);
#endif
}

} // namespace

Status openForReading(QFile& file, const QString& path) {
    return openRegular(file, path, QIODevice::ReadOnly);
}

Status openForWriting(QFile& file, const QString& path) {
    return openRegular(file, path, QIODevice::WriteOnly);
}

bool mayCreateIn(const QString& folder) {
#ifdef Q_OS_WIN
    return QFileInfo(folder).isWritable();
#else
    return ::access(nameForSystem(folder).constData(), W_OK | X_OK) == 0;
#endif
}

bool removeFile(const QString& path) {
#ifdef Q_OS_WIN
    return QFile::remove(path);
#else
    return ::unlink(nameForSystem(path).constData()) == 0;
#endif
}

} // namespace x45
