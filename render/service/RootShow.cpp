// What the sandbox is shown for one rendering, and how it is taken away.
#include "Root.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <linux/mount.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pradelux::render::service {

using namespace boundary;

// Shows what fd is at the path at inside: read-only unless writable; run as
// root, idmapped so that root's files there are the sandbox user's. A view's
// mount goes with hide().
bool Root::bindFd(int fd, const QString& at, bool writable, bool view, QString* why)
{
    struct stat st = {};
    QStringList created;
    // Run as root there is no namespace whose mounts are locked, and an
    // idmapped tree is taken one mount at a time.
    const int tree = ::fstat(fd, &st) != 0
                         ? -1
                         : static_cast<int>(::syscall(SYS_open_tree, fd, "",
                                                      AT_EMPTY_PATH | OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC |
                                                          (m_asRoot ? 0 : AT_RECURSIVE)));
    mount_attr attributes{};
    attributes.attr_set =
        MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV | (writable ? 0 : MOUNT_ATTR_RDONLY) | (m_asRoot ? MOUNT_ATTR_IDMAP : 0);
    attributes.userns_fd = static_cast<quint64>(m_idmap);
    const int point = tree < 0 ? -1 : mountPoint(at, S_ISDIR(st.st_mode), &created);
    const bool ok =
        point >= 0 &&
        ::syscall(SYS_mount_setattr, tree, "", AT_EMPTY_PATH | (m_asRoot ? 0 : AT_RECURSIVE), &attributes,
                  sizeof attributes) == 0 &&
        ::syscall(SYS_move_mount, tree, "", point, "", MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_T_EMPTY_PATH) == 0;
    const int error = errno;
    if (point >= 0)
        ::close(point);
    if (view) {
        m_viewCreated += created;
        // The tree's descriptor names the mount itself, whatever becomes of
        // the names above it: it is what hide() unmounts.
        if (ok)
            m_viewMounts << tree;
    }
    if (tree >= 0 && !(view && ok))
        ::close(tree);
    if (!ok) {
        errno = error;
        *why = failed(QStringLiteral("%1 could not be shown to LibreOffice").arg(at));
    }
    return ok;
}

// Opens the mount point at inside below the root (a folder, or an empty
// file), making what is missing, one name at a time and following no link:
// below the sandbox's own /tmp the inside may have made anything. The names
// made are added to created. An O_PATH descriptor, or -1.
int Root::mountPoint(const QString& inside, bool folder, QStringList* created) const
{
    int dir = ::open(m_root.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const QStringList parts = inside.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString reached;
    for (qsizetype i = 0; i < parts.size() && dir >= 0; ++i) {
        const QByteArray name = QFile::encodeName(parts[i]);
        reached += QLatin1Char('/') + parts[i];
        int next = -1;
        if (i + 1 < parts.size() || folder) {
            next = ::openat(dir, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT && ::mkdirat(dir, name.constData(), 0755) == 0) {
                *created << reached;
                next = ::openat(dir, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
        } else {
            const int made =
                ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
            if (made >= 0) {
                *created << reached;
                ::close(made);
            }
            next = ::openat(dir, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
            struct stat st = {};
            if (next >= 0 && (::fstat(next, &st) != 0 || !S_ISREG(st.st_mode))) {
                ::close(next);
                next = -1;
            }
        }
        ::close(dir);
        dir = next;
    }
    return dir;
}

// Removes what mountPoint made at inside, relative to its folder's
// descriptor reached following no link.
void Root::removeMountPoint(const QString& inside) const
{
    int dir = ::open(m_root.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const QStringList parts = inside.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < parts.size() && dir >= 0; ++i) {
        const int next =
            ::openat(dir, QFile::encodeName(parts[i]).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dir);
        dir = next;
    }
    if (dir < 0 || parts.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(parts.last());
    if (::unlinkat(dir, name.constData(), AT_REMOVEDIR) != 0)
        ::unlinkat(dir, name.constData(), 0);
    ::close(dir);
}

// What the sandbox sees already, for as long as it lives: the system's
// folders, the plan's and the fonts'.
bool Root::shownAlready(const QString& path) const
{
    if (IsSystemPath(path))
        return true;
    for (const QString& folder : m_planned) {
        if (PathUnder(path, canonical(folder)))
            return true;
    }
    return false;
}

bool Root::show(const Deck& deck, const QString& outputFolder, QString* why)
{
    hide();
    bool ok = !deck.files().isEmpty();
    for (const Deck::File& file : deck.files()) {
        if (!ok)
            break;
        if (PathUnder(file.path, QString::fromLatin1(kInside))) {
            *why = QStringLiteral("%1 stands where the sandbox keeps its own folders").arg(file.path);
            ok = false;
        } else if (!shownAlready(file.path)) {
            ok = bindFd(file.fd, file.path, false, true, why);
        }
    }
    if (ok && !outputFolder.isEmpty()) {
        const int fd =
            ::open(QFile::encodeName(outputFolder).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ok = fd >= 0 && bindFd(fd, QString::fromLatin1(kInsideOutput), true, true, why);
        if (fd < 0)
            *why = failed(QStringLiteral("%1 could not be shown to LibreOffice").arg(outputFolder));
        else
            ::close(fd);
    }
    if (!ok)
        hide();
    return ok;
}

void Root::hide()
{
    for (auto it = m_viewMounts.crbegin(); it != m_viewMounts.crend(); ++it) {
        ::umount2(("/proc/self/fd/" + QByteArray::number(*it)).constData(), MNT_DETACH);
        ::close(*it);
    }
    for (auto it = m_viewCreated.crbegin(); it != m_viewCreated.crend(); ++it)
        removeMountPoint(*it);
    m_viewMounts.clear();
    m_viewCreated.clear();
}

} // namespace pradelux::render::service
