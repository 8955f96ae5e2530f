// Mounts for tests that need a real small or read-only disk, or a folder
// whose directory entry and stat disagree. They live in a mount namespace of
// the test process's own, so they vanish with it and nobody else sees them.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <sched.h>
#include <sys/mount.h>

namespace pradelux::test {

class PrivateMounts
{
public:
    // False where the process may not mount (not root, or a sandbox that
    // forbids it): such tests skip.
    static bool available()
    {
        static const bool ok =
            ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        return ok;
    }
    static bool tmpfs(const QString& folder, const QByteArray& options)
    {
        QDir().mkpath(folder);
        return ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    static bool bind(const QString& from, const QString& to)
    {
        QDir().mkpath(to);
        return ::mount(QFile::encodeName(from).constData(), QFile::encodeName(to).constData(), nullptr, MS_BIND,
                       nullptr) == 0;
    }
    static bool readOnly(const QString& folder)
    {
        return bind(folder, folder) && ::mount(nullptr, QFile::encodeName(folder).constData(), nullptr,
                                               MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    static void unmount(const QString& folder) { ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH); }
};

} // namespace pradelux::test
