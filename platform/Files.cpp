// Small file tests used across the program.
#include "Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pradelux {

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
