// The sandbox's root, and the sandboxes started from it.
#include "Root.h"

#include "ChildStart.h"

#include "Files.h"
#include "LibreOffice.h"
#include "SyscallFilter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pradelux::render::service {

using namespace boundary;

namespace {
// Makes the folders up to path (and path itself: a folder, or an empty file
// for anything else) inside the root, which only this process writes. The
// ones made are added to created.
bool makeMountPoint(const QString& path, bool folder, QStringList* created)
{
    QStringList made;
    for (QString up = folder ? path : QFileInfo(path).path(); !QFileInfo::exists(up); up = QFileInfo(up).path())
        made.prepend(up);
    for (const QString& f : made) {
        if (::mkdir(QFile::encodeName(f).constData(), 0755) != 0)
            return false;
    }
    *created += made;
    if (!folder && !QFileInfo::exists(path)) {
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
        if (fd < 0)
            return false;
        ::close(fd);
        created->append(path);
    }
    return true;
}
} // namespace

QString Root::canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(path) : c;
}

bool Root::writeFile(const QByteArray& path, const QByteArray& text)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    ::close(fd);
    return ok;
}

int Root::rootAsSandboxUser(uid_t user, gid_t group)
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ForkChild({{{ready[0], ready[0]}}}, [&] {
        char c;
        if (::unshare(CLONE_NEWUSER) == 0)
            (void)::read(ready[0], &c, 1); // held until the parent has the namespace
        return 0;
    });
    ::close(ready[0]);
    int fd = -1;
    if (child > 0) {
        const QByteArray proc = "/proc/" + QByteArray::number(child);
        // The child may not have unshared yet: its namespace is then still ours.
        for (int i = 0; i < 1000 && fd < 0; ++i) {
            char mine[64] = {}, its[64] = {};
            if (::readlink("/proc/self/ns/user", mine, sizeof mine - 1) > 0 &&
                ::readlink((proc + "/ns/user").constData(), its, sizeof its - 1) > 0 && std::strcmp(mine, its) != 0 &&
                writeFile(proc + "/setgroups", "deny") &&
                writeFile(proc + "/uid_map", "0 " + QByteArray::number(user) + " 1") &&
                writeFile(proc + "/gid_map", "0 " + QByteArray::number(group) + " 1"))
                fd = ::open((proc + "/ns/user").constData(), O_RDONLY | O_CLOEXEC);
            else
                ::usleep(1000);
        }
    }
    ::close(ready[1]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return fd;
}

QString Root::failed(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

std::unique_ptr<Root> Root::make(const Plan& plan, QString* why)
{
    std::unique_ptr<Root> root(new Root);
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    root->m_asRoot = uid == 0;
    root->m_user = uid;
    root->m_group = gid;
    if (root->m_asRoot) {
        const passwd* user = ::getpwnam(kSandboxUser);
        if (!user || user->pw_uid == 0) {
            *why = QStringLiteral("run as root, LibreOffice runs as the system user %1, which is missing; the "
                                  "package makes it, or: sudo adduser --system --group --no-create-home %1")
                       .arg(QLatin1String(kSandboxUser));
            return nullptr;
        }
        root->m_user = user->pw_uid;
        root->m_group = user->pw_gid;
    }
    if (::pipe2(root->m_lifeline, O_CLOEXEC) != 0) {
        *why = failed(QStringLiteral("the sandbox could not be made"));
        return nullptr;
    }
    if (::unshare(root->m_asRoot ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        *why = failed(QStringLiteral("this system does not allow user namespaces (unshare)"));
        return nullptr;
    }
    if (!root->m_asRoot &&
        (!writeFile("/proc/self/setgroups", "deny") ||
         !writeFile("/proc/self/uid_map", QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1") ||
         !writeFile("/proc/self/gid_map", QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1"))) {
        *why = failed(QStringLiteral("the user namespace could not be set up"));
        return nullptr;
    }
    // Mounts made here stay here.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) {
        *why = failed(QStringLiteral("mount namespace"));
        return nullptr;
    }
    if (root->m_asRoot && (root->m_idmap = rootAsSandboxUser(root->m_user, root->m_group)) < 0) {
        *why = failed(QStringLiteral("the user namespace that maps root to the sandbox's user could not be made"));
        return nullptr;
    }
    // Run as root, bubblewrap runs as the sandbox's user, who must be able
    // to look up the root's path: it stands in the system's temporary
    // folder then.
    const QDir temporary(root->m_asRoot ? QStringLiteral("/tmp") : QDir::tempPath());
    // Roots left by renderers that were killed: empty folders on the host.
    for (const QString& left : temporary.entryList(
             {QStringLiteral(".pradelux-sandbox-*"), QStringLiteral(".pradelux-jobs-*")}, QDir::Dirs | QDir::Hidden)) {
        const QString pid = left.section(QLatin1Char('-'), 2, 2);
        if (!pid.isEmpty() && !QFileInfo::exists(QStringLiteral("/proc/") + pid))
            ::rmdir(QFile::encodeName(temporary.filePath(left)).constData());
    }
    root->m_root =
        QFile::encodeName(temporary.path()) + "/.pradelux-sandbox-" + QByteArray::number(::getpid()) + "-XXXXXX";
    const QByteArray& r = root->m_root;
    if (!::mkdtemp(root->m_root.data()) ||
        ::mount("tmpfs", r.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=16m") != 0 ||
        ::mount(nullptr, r.constData(), nullptr, MS_SHARED, nullptr) != 0) {
        *why = failed(QStringLiteral("the sandbox's root could not be made"));
        return nullptr;
    }
    // The system's folders: bubblewrap binds them; their links are copied.
    for (const QString& system : SystemFolders()) {
        const QByteArray folder = QFile::encodeName(system);
        struct stat st;
        char link[4096] = {};
        bool ok = true;
        if (::lstat(folder.constData(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            ok = ::readlink(folder.constData(), link, sizeof link - 1) > 0 &&
                 ::symlink(link, (r + folder).constData()) == 0;
        else if (S_ISDIR(st.st_mode))
            ok = ::mkdir((r + folder).constData(), 0755) == 0;
        if (!ok) {
            *why = failed(QStringLiteral("the sandbox's system folders could not be shown"));
            return nullptr;
        }
    }
    const QByteArray ids = ",uid=" + QByteArray::number(root->m_user) + ",gid=" + QByteArray::number(root->m_group);
    const QByteArray size = ",size=" + QByteArray::number(kPrivateBytes);
    // The sandbox's own home and temporary folders (LibreOffice makes its
    // pipes in /tmp, where presentations of the host's /tmp are shown too),
    // and the place its PDF folder is shown.
    QStringList made;
    if (::mkdir((r + "/proc").constData(), 0755) != 0 || ::mkdir((r + "/dev").constData(), 0755) != 0 ||
        ::mkdir((r + "/tmp").constData(), 0755) != 0 ||
        ::mount("tmpfs", (r + "/tmp").constData(), "tmpfs", MS_NOSUID | MS_NODEV, ("mode=1777" + size).constData()) !=
            0 ||
        !makeMountPoint(QFile::decodeName(r + kInsideHome), true, &made) ||
        !makeMountPoint(QFile::decodeName(r + kInsideTemporary), true, &made) ||
        !makeMountPoint(QFile::decodeName(r + kInsideOutput), true, &made) ||
        ::mount("tmpfs", (r + kInsideHome).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                ("mode=0700" + size + ids).constData()) != 0 ||
        ::mount("tmpfs", (r + kInsideTemporary).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                ("mode=0700" + size + ids).constData()) != 0) {
        *why = failed(QStringLiteral("the sandbox's private folders could not be made"));
        return nullptr;
    }
    // LibreOffice's fonts: the stand-ins beside this program, then the
    // user's settings or the system's.
    QFile fonts(QFile::decodeName(r + kInsideFontConfiguration));
    if (!fonts.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        fonts.write(FontConfiguration(ProgramFolderOf(QStringLiteral("/proc/self/exe")) + QLatin1Char('/') +
                                          QLatin1String(kStandInFonts),
                                      PrintsColourFontsBlank(FindSoffice()))) < 0 ||
        !fonts.flush()) {
        *why = failed(QStringLiteral("the sandbox's font settings could not be written"));
        return nullptr;
    }
    // The renderings' PDF folders: beside the root, in this namespace alone,
    // at a name of its own that nobody can make first.
    if (plan.jobBytes > 0) {
        root->m_jobs =
            QFile::encodeName(temporary.path()) + "/.pradelux-jobs-" + QByteArray::number(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(root->m_jobs.data()) ||
            ::mount("tmpfs", root->m_jobs.constData(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                    ("mode=0700,size=" + QByteArray::number(plan.jobBytes)).constData()) != 0) {
            *why = failed(QStringLiteral("the folder for PDFs could not be made"));
            return nullptr;
        }
    }
    for (const QString& path : plan.writable) {
        if (QFileInfo::exists(path) && !root->bindPath(path, path, true, why))
            return nullptr;
    }
    for (const QString& path : plan.readable) {
        if (QFileInfo::exists(path) && !IsSystemPath(canonical(path)) && !root->bindPath(path, path, false, why))
            return nullptr;
    }
    root->m_planned = plan.writable + plan.readable;
    // Fonts are shown where they can be; a rendering without them still works.
    QString ignored;
    for (const QString& path : FontFolders()) {
        const QFileInfo shown(path);
        if ((shown.isDir() || shown.isFile()) && !IsSystemPath(canonical(path)) &&
            root->bindPath(path, path, false, &ignored))
            root->m_planned << path;
    }
    return root;
}

Root::~Root()
{
    hide();
    ::umount2(m_root.constData(), MNT_DETACH);
    ::rmdir(m_root.constData());
    if (!m_jobs.isEmpty()) {
        ::umount2(m_jobs.constData(), MNT_DETACH);
        ::rmdir(m_jobs.constData());
    }
    if (m_idmap >= 0)
        ::close(m_idmap);
    for (const int fd : m_lifeline) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool Root::bindPath(const QString& path, const QString& at, bool writable, QString* why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        *why = failed(QStringLiteral("%1 could not be shown to LibreOffice").arg(path));
        return false;
    }
    const bool ok = bindFd(fd, at, writable, false, why);
    ::close(fd);
    return ok;
}

QString Root::newJobFolder() const
{
    if (m_jobs.isEmpty())
        return QString();
    QByteArray folder = m_jobs + "/row-XXXXXX";
    return ::mkdtemp(folder.data()) ? QFile::decodeName(folder) : QString();
}

} // namespace pradelux::render::service
