// A run's own temporary folder.
#include "RunFolder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pradelux {

namespace {
const char* const kPrefix = "pradelux-run-";
const char* const kLock = "/.lock";

} // namespace

void RunFolder::removeDeadRuns()
{
    const QDir temporary(QDir::tempPath());
    for (const QString& name : temporary.entryList({QString::fromLatin1(kPrefix) + QLatin1Char('*')}, QDir::Dirs)) {
        const QByteArray folder = QFile::encodeName(temporary.filePath(name));
        struct stat st;
        if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const int lock = ::open((folder + kLock).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0)
            QDir(QFile::decodeName(folder)).removeRecursively();
        if (lock >= 0)
            ::close(lock);
    }
}

RunFolder::RunFolder()
{
    removeDeadRuns();
    const QDir temporary(QDir::tempPath());
    // Made under another name and given its own once its lock is held, so
    // that no other run ever finds it unlocked.
    QByteArray made = QFile::encodeName(temporary.path()) + "/pradelux-new-XXXXXX";
    if (!::mkdtemp(made.data()))
        return;
    // Held for the run's life, and not by the programs it starts.
    m_lock = ::open((made + kLock).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const QByteArray folder = QFile::encodeName(temporary.path()) + '/' + kPrefix + made.right(6);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0 || ::rename(made.constData(), folder.constData()) != 0) {
        QDir(QFile::decodeName(made)).removeRecursively();
        return;
    }
    m_path = QFile::decodeName(folder);
}

RunFolder::~RunFolder()
{
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
    if (m_lock >= 0)
        ::close(m_lock);
}

QString RunFolder::make(const QString& name) const
{
    const QString folder = m_path + QLatin1Char('/') + name;
    return !m_path.isEmpty() && QDir().mkpath(folder) ? folder : QString();
}

} // namespace pradelux
