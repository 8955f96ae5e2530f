// Whether a sandbox was seen to work under the present conditions.
#include "SandboxCheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace pradelux::render::boundary {

namespace {
QString markerPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/pradelux-office/sandbox-checked");
}

QByteArray contents(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.read(256).trimmed() : QByteArray("-");
}

QByteArray conditions()
{
    QByteArray all = contents("/proc/sys/kernel/random/boot_id") + ' ' + QByteArray::number(::geteuid()) + ' ' +
                     QFile::encodeName(QFile::symLinkTarget(QStringLiteral("/proc/self/ns/user")));
    for (const char* limit : {"/proc/sys/user/max_user_namespaces", "/proc/sys/kernel/unprivileged_userns_clone",
                              "/proc/sys/kernel/apparmor_restrict_unprivileged_userns"})
        all += ' ' + contents(limit);
    struct stat st = {};
    const QByteArray bwrap = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("bwrap")));
    if (bwrap.isEmpty() || ::stat(bwrap.constData(), &st) != 0)
        return QByteArray(); // never known to work
    return all + ' ' + bwrap + ' ' + QByteArray::number(static_cast<qulonglong>(st.st_ino)) + ' ' +
           QByteArray::number(static_cast<qlonglong>(st.st_mtim.tv_sec)) + ' ' +
           QByteArray::number(static_cast<qlonglong>(st.st_size));
}
} // namespace

bool KnownToWork()
{
    const QByteArray now = conditions();
    QFile marker(markerPath());
    return !now.isEmpty() && marker.open(QIODevice::ReadOnly) && marker.read(4096) == now;
}

void RememberWorks()
{
    const QByteArray now = conditions();
    QDir().mkpath(QFileInfo(markerPath()).path());
    QSaveFile marker(markerPath());
    if (!now.isEmpty() && marker.open(QIODevice::WriteOnly) && marker.write(now) == now.size())
        marker.commit();
}

void ForgetWorks()
{
    QFile::remove(markerPath());
}

} // namespace pradelux::render::boundary
