// The lock that keeps exports apart.
#include "RunLock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace pradelux {

RunLock::RunLock(QString path) : m_path(std::move(path)) {}

RunLock::~RunLock()
{
    unlock();
}

bool RunLock::tryLock(const QString& program)
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Not inherited: a program this run starts must not keep the lock after it.
    m_failure.clear();
    const QByteArray path = QFile::encodeName(m_path);
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A lock file this user may only read (another user's, root's) still
    // locks: flock needs no write access.
    const bool readOnly = fd < 0 && (errno == EACCES || errno == EROFS);
    if (readOnly)
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // Taken for free, it would end the exclusion without a word.
        m_failure = QStringLiteral("the lock file %1 cannot be opened: %2")
                        .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    if (readOnly) {
        m_fd = fd;
        return true;
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QByteArray who = program.toUtf8() + '\n' + QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                           QByteArray(host) + '\n' + QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + '\n';
    if (::ftruncate(fd, 0) == 0 && ::write(fd, who.constData(), static_cast<size_t>(who.size())) == who.size())
        ::fsync(fd);
    m_fd = fd;
    return true;
}

void RunLock::unlock()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

QString RunLock::holder() const
{
    if (!m_failure.isEmpty())
        return m_failure;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QStringList who = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (who.size() < 4 || who[0].isEmpty())
        return QStringLiteral("another export");
    const QDateTime started = QDateTime::fromString(who[3], Qt::ISODate);
    return QStringLiteral("%1 (process %2 on %3, started %4)")
        .arg(who[0], who[1], who[2], started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

} // namespace pradelux
