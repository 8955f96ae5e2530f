// Small file tests used across the program.
#include "Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace pradelux {

namespace {
// Empties the open folder top, however deep its tree: one folder is open
// at a time, and the way back up is taken through "..", which must be the
// folder the way down came from (known by device and inode), or the
// removal stops there.
bool removeBelow(int top)
{
    struct Level
    {
        dev_t device;
        ino_t inode;
        std::string name; // of the folder below, as its parent lists it
    };
    std::vector<Level> above;
    int dir = ::dup(top);
    bool whole = true;
    while (dir >= 0) {
        DIR* listing = ::fdopendir(::dup(dir));
        std::string descend;
        if (listing) {
            while (const dirent* entry = ::readdir(listing)) {
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                    continue;
                // Anything but a folder goes by its name, a link as a link.
                if (::unlinkat(dir, name, 0) == 0 || errno == ENOENT)
                    continue;
                if (errno == EISDIR || errno == EPERM) {
                    descend = name;
                    break;
                }
                whole = false;
            }
            ::closedir(listing);
        } else {
            whole = false;
        }
        struct stat here = {};
        if (!descend.empty() && ::fstat(dir, &here) == 0) {
            const auto open = [&] {
                return ::openat(dir, descend.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            };
            int sub = open();
            // A folder made unreadable is ours to open again.
            if (sub < 0 && errno == EACCES && ::fchmodat(dir, descend.c_str(), S_IRWXU, 0) == 0)
                sub = open();
            if (sub >= 0) {
                above.push_back({here.st_dev, here.st_ino, descend});
                ::close(dir);
                dir = sub;
                continue;
            }
            // Gone meanwhile: the folder is looked at again.
            if (errno == ENOENT)
                continue;
            whole = false;
        }
        // This folder is as empty as it gets: back up, and remove it there.
        if (above.empty()) {
            ::close(dir);
            break;
        }
        const Level level = above.back();
        above.pop_back();
        const int up = ::openat(dir, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        struct stat parent = {};
        if (up < 0 || ::fstat(up, &parent) != 0 || parent.st_dev != level.device || parent.st_ino != level.inode) {
            if (up >= 0)
                ::close(up);
            return false;
        }
        if (::unlinkat(up, level.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            // A folder that cannot go would be looked into for ever.
            ::close(up);
            return false;
        }
        dir = up;
    }
    return whole;
}

// Adds what the entries of the open folder dir take on disk to bytes; false
// when the tree is deeper or holds more entries than a folder of ours ever does.
bool bytesBelow(int dir, int depth, qint64* bytes, qint64* entries)
{
    DIR* listing = depth < 64 ? ::fdopendir(::dup(dir)) : nullptr;
    if (!listing)
        return depth < 64;
    bool bounded = true;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st;
        if (++*entries > kTreeEntriesMax) {
            bounded = false;
            break;
        }
        if (::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // Every entry costs a block at least, however little it holds.
        *bytes += qMax<qint64>(qint64(st.st_blocks) * 512, 4096);
        if (!S_ISDIR(st.st_mode))
            continue;
        const int sub = ::openat(dir, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) {
            bounded = bytesBelow(sub, depth + 1, bytes, entries);
            ::close(sub);
        }
        if (!bounded)
            break;
    }
    ::closedir(listing);
    return bounded;
}
} // namespace

qint64 TreeBytes(const QString& folder)
{
    const int top = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0)
        return 0;
    qint64 bytes = 0;
    qint64 entries = 0;
    const bool bounded = bytesBelow(top, 0, &bytes, &entries);
    ::close(top);
    return bounded ? bytes : std::numeric_limits<qint64>::max();
}

bool RemoveTree(const QString& folder)
{
    const QFileInfo info(folder);
    const int parent = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return errno == ENOENT;
    const QByteArray name = QFile::encodeName(info.fileName());
    const int top = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Not a folder (a link made in its place): the name alone goes.
    bool whole = top >= 0 ? removeBelow(top)
                          : errno == ENOENT || ::unlinkat(parent, name.constData(), 0) == 0 || errno == ENOENT;
    if (top >= 0) {
        ::close(top);
        whole = (::unlinkat(parent, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT) && whole;
    }
    ::close(parent);
    return whole;
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool IsFolder(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString FileIdentity(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1:%2:%3.%4:%5")
        .arg(st.st_dev)
        .arg(st.st_ino)
        .arg(st.st_mtim.tv_sec)
        .arg(st.st_mtim.tv_nsec)
        .arg(st.st_size);
}

QString FileKey(const QString& path)
{
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino);
}

QString ReasonOf(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full");
    case EROFS:
        return QStringLiteral("the folder is on a read-only disk");
    case EACCES:
    case EPERM:
        return QStringLiteral("the folder is not writable");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString WhyFolderIsNotWritable(const QString& folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
        return QString();
    return ReasonOf(errno);
}

bool HasUndecodableName(const QString& path)
{
    return path.contains(QChar::ReplacementCharacter) && !FileExists(path);
}

QString LastLineOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.constLast().trimmed();
}

QString RotatedLog(const QString& path)
{
    if (QFileInfo(path).size() > (1 << 20)) {
        QFile::remove(path + QStringLiteral(".1"));
        QFile::rename(path, path + QStringLiteral(".1"));
    }
    return path;
}

QString AppFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString ProgramFolderOf(const QString& executable)
{
    return QFileInfo(QFileInfo(executable).canonicalFilePath()).absolutePath();
}

bool PrivateFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 0777) == 0700;
}

bool ProcessGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int paren = line.lastIndexOf(')');
    if (paren < 0 || line.mid(paren + 2, 1) != "Z")
        return false;
    // Its first thread ends before the others: until they have ended too,
    // the process still holds its files.
    return QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() <= 1;
}

ProcessHandle::ProcessHandle(qint64 pid)
{
    if (pid > 0)
        m_fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
}

ProcessHandle::~ProcessHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ProcessHandle::waitGone(int ms) const
{
    // Readable once the whole process has exited.
    pollfd p{m_fd, POLLIN, 0};
    return m_fd < 0 || ::poll(&p, 1, ms) > 0;
}

void ProcessHandle::kill(int signal) const
{
    if (m_fd >= 0)
        ::syscall(SYS_pidfd_send_signal, m_fd, signal, nullptr, 0);
}

} // namespace pradelux
