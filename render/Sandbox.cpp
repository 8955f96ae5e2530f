// What a rendering may reach.
#include "Sandbox.h"

#include "Files.h"
#include "SyscallFilter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/mount.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::office::sandbox {

namespace {

// The system's own folders, shown read-only by bubblewrap.
const char* const kSystemFolders[] = {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt"};
// GnuPG's programs, which LibreOffice looks for as it loads its first
// presentation: covered, since inside there are no keys and no agent.
const char* const kGnuPG[] = {"/usr/bin/gpgconf", "/usr/bin/gpg", "/usr/bin/gpg2", "/usr/bin/gpgsm"};
// A presentation links at most this many files that are shown with it.
constexpr int kMostLinks = 200;
// What LibreOffice's private home, temporary folder and /dev/shm may hold:
// memory, counted against the memory ceiling with its processes, and
// bounded apart.
constexpr qint64 kTmpBytes = qint64(1) << 30;
constexpr qint64 kShmBytes = qint64(256) << 20;

QByteArray path8(const QString& path)
{
    return QFile::encodeName(path);
}

QString failed(const QString& what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeFile(const QByteArray& path, const QByteArray& text)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    ::close(fd);
    return ok;
}

bool under(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder == QLatin1String("/") ? folder : folder + QLatin1Char('/'));
}

bool isSystemPath(const QString& path)
{
    for (const char* system : kSystemFolders) {
        if (under(path, QString::fromLatin1(system)))
            return true;
    }
    return false;
}

QString canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(path) : c;
}

QString xdgFolder(const char* variable, const char* fallback)
{
    const QString set = qEnvironmentVariable(variable);
    return set.startsWith(QLatin1Char('/')) ? set : QDir::homePath() + QLatin1String(fallback);
}

// The user's own fonts, and fontconfig's caches of them and of the system's
// fonts. Without a cache LibreOffice reads every font file each time it
// starts; without the user's fonts it prints with stand-ins.
QStringList fontFolders()
{
    const QString home = QDir::homePath();
    return {QStringLiteral("/var/cache/fontconfig"), xdgFolder("XDG_DATA_HOME", "/.local/share") + "/fonts",
            home + QStringLiteral("/.fonts"), xdgFolder("XDG_CACHE_HOME", "/.cache") + "/fontconfig",
            home + QStringLiteral("/.fontconfig")};
}

// A user namespace that maps root to the sandbox's user: mounts idmapped
// with it show what root owns as that user's own.
int rootAsSandboxUser(uid_t user, gid_t group)
{
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        char c;
        ::close(ready[1]);
        if (::unshare(CLONE_NEWUSER) == 0)
            (void)::read(ready[0], &c, 1); // held until the parent has the namespace
        ::_exit(0);
    }
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

// The environment inside: what LibreOffice and the fonts need, nothing
// that names a socket, a display or an agent of the host.
QByteArrayList sandboxEnvironment()
{
    QByteArrayList out = {QByteArray("HOME=") + kInsideHome, QByteArray("TMPDIR=") + kInsideTemporary,
                          "PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin",
                          // The user's fonts, where they stand on the host.
                          "XDG_DATA_HOME=" + path8(xdgFolder("XDG_DATA_HOME", "/.local/share")),
                          "XDG_CACHE_HOME=" + path8(xdgFolder("XDG_CACHE_HOME", "/.cache"))};
    // LibreOffice turns a file's URL into its name with the locale's
    // character set: without a UTF-8 locale (cron, su -, a batch task) it
    // cannot name a file with letters outside ASCII, so it gets one.
    QByteArray ctype = qgetenv("LC_ALL");
    if (ctype.isEmpty())
        ctype = qgetenv("LC_CTYPE");
    if (ctype.isEmpty())
        ctype = qgetenv("LANG");
    const bool utf8 = ctype.toLower().contains("utf-8") || ctype.toLower().contains("utf8");
    if (!utf8)
        out << "LANG=C.UTF-8";
    for (char** e = environ; e && *e; ++e) {
        const QByteArray entry(*e);
        if (!utf8 && (entry.startsWith("LANG=") || entry.startsWith("LC_ALL=") || entry.startsWith("LC_CTYPE=")))
            continue;
        for (const char* kept : {"LANG=", "LANGUAGE=", "LC_", "TZ=", "XDG_DATA_DIRS=", "FONTCONFIG_", "SAL_",
                                 "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="}) {
            if (entry.startsWith(kept))
                out << entry;
        }
    }
    return out;
}

// Makes the folders up to path (and path itself: a folder, or an empty file
// for anything else) inside the root, which only this process writes. The
// ones made are added to created.
bool makeMountPoint(const QString& path, bool folder, QStringList* created)
{
    QStringList made;
    for (QString up = folder ? path : QFileInfo(path).path(); !QFileInfo::exists(up); up = QFileInfo(up).path())
        made.prepend(up);
    for (const QString& f : made) {
        if (::mkdir(path8(f).constData(), 0755) != 0)
            return false;
    }
    *created += made;
    if (!folder && !QFileInfo::exists(path)) {
        const int fd = ::open(path8(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444);
        if (fd < 0)
            return false;
        ::close(fd);
        created->append(path);
    }
    return true;
}

// A link's name relative to its presentation's folder, when it may be shown:
// below the folder, and no part of it hidden.
QString linkBelow(const QString& link)
{
    const QString clean = QDir::cleanPath(link);
    if (clean.isEmpty() || clean.startsWith(QLatin1Char('/')) || clean == QLatin1String(".") ||
        clean.startsWith(QLatin1String("../")) || clean == QLatin1String(".."))
        return QString();
    for (const QString& part : clean.split(QLatin1Char('/'))) {
        if (part.startsWith(QLatin1Char('.')))
            return QString();
    }
    return clean;
}

} // namespace

QString RefusedText(const QString& why)
{
    return QStringLiteral(
               "Presentations cannot be printed safely here: LibreOffice's sandbox cannot be made (%1). It needs "
               "unprivileged user namespaces: on Ubuntu 24.04 and later, install Pradelux from its package, which "
               "allows them for its renderer; elsewhere run: sudo sysctl kernel.unprivileged_userns_clone=1 "
               "user.max_user_namespaces=15000")
        .arg(why);
}

Plan RendererPlan(const QStringList& programFolders, const QString& profileTemplate, qint64 jobBytes)
{
    Plan plan;
    plan.readable = QStringList{profileTemplate} + programFolders;
    plan.jobBytes = jobBytes;
    return plan;
}

Plan ProfileMakerPlan(const QString& folder, const QString& programFolder)
{
    Plan plan;
    plan.writable = {folder};
    plan.readable = {programFolder};
    return plan;
}

Plan CheckPlan()
{
    return {};
}

Deck::~Deck()
{
    for (const File& file : m_files)
        ::close(file.fd);
}

bool Deck::open(const QString& presentation, const QStringList& links, QString* why)
{
    // A presentation that is a link, or lies below one, is shown at its real
    // path: the link would lead nowhere inside the sandbox.
    const QString real = QFileInfo(presentation).canonicalFilePath();
    const QString folderPath = QFileInfo(real).path();
    const int folder = real.isEmpty() ? -1 : ::open(path8(folderPath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st = {};
    if (folder < 0 || ::fstat(folder, &st) != 0) {
        if (folder >= 0)
            ::close(folder);
        *why = QStringLiteral("%1 cannot be opened").arg(presentation);
        return false;
    }
    m_folder = {st.st_dev, st.st_ino};
    // Each file is opened below the folder just identified, through no
    // symbolic link and no magic one; only regular files count.
    const auto openBelow = [&](const QString& relative) {
        open_how how = {};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const int fd = static_cast<int>(::syscall(SYS_openat2, folder, path8(relative).constData(), &how, sizeof how));
        struct stat file = {};
        if (fd >= 0 && (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode))) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    const int deck = openBelow(QFileInfo(real).fileName());
    if (deck < 0) {
        ::close(folder);
        *why = QStringLiteral("%1 is no file that can be printed").arg(presentation);
        return false;
    }
    m_files.append({real, deck});
    QStringList seen = {real};
    for (const QString& link : links) {
        const QString relative = linkBelow(link);
        const QString path = folderPath + QLatin1Char('/') + relative;
        if (relative.isEmpty() || seen.contains(path) || m_files.size() > kMostLinks)
            continue;
        if (const int fd = openBelow(relative); fd >= 0) {
            m_files.append({path, fd});
            seen << path;
        }
    }
    ::close(folder);
    return true;
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
    for (const QString& left :
         temporary.entryList({QStringLiteral(".pradelux-sandbox-*")}, QDir::Dirs | QDir::Hidden)) {
        const QString pid = left.section(QLatin1Char('-'), 2, 2);
        if (!pid.isEmpty() && !QFileInfo::exists(QStringLiteral("/proc/") + pid))
            ::rmdir(path8(temporary.filePath(left)).constData());
    }
    root->m_root = path8(temporary.path()) + "/.pradelux-sandbox-" + QByteArray::number(::getpid()) + "-XXXXXX";
    const QByteArray& r = root->m_root;
    if (!::mkdtemp(root->m_root.data()) ||
        ::mount("tmpfs", r.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=16m") != 0 ||
        ::mount(nullptr, r.constData(), nullptr, MS_SHARED, nullptr) != 0) {
        *why = failed(QStringLiteral("the sandbox's root could not be made"));
        return nullptr;
    }
    // The system's folders: bubblewrap binds them; their links are copied.
    for (const char* folder : kSystemFolders) {
        struct stat st;
        char link[4096] = {};
        bool ok = true;
        if (::lstat(folder, &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            ok = ::readlink(folder, link, sizeof link - 1) > 0 && ::symlink(link, (r + folder).constData()) == 0;
        else if (S_ISDIR(st.st_mode))
            ok = ::mkdir((r + folder).constData(), 0755) == 0;
        if (!ok) {
            *why = failed(QStringLiteral("the sandbox's system folders could not be shown"));
            return nullptr;
        }
    }
    const QByteArray ids = ",uid=" + QByteArray::number(root->m_user) + ",gid=" + QByteArray::number(root->m_group);
    const QByteArray size = ",size=" + QByteArray::number(kTmpBytes);
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
    // The renderings' PDF folders: beside the root, in this namespace alone.
    if (plan.jobBytes > 0) {
        root->m_jobs = r + ".jobs";
        if (::mkdir(root->m_jobs.constData(), 0700) != 0 ||
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
        if (QFileInfo::exists(path) && !isSystemPath(canonical(path)) && !root->bindPath(path, path, false, why))
            return nullptr;
    }
    root->m_planned = plan.writable + plan.readable;
    // Fonts are shown where they can be; a rendering without them still works.
    QString ignored;
    for (const QString& path : fontFolders()) {
        if (QFileInfo(path).isDir() && !isSystemPath(canonical(path)) && root->bindPath(path, path, false, &ignored))
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
}

bool Root::bindPath(const QString& path, const QString& at, bool writable, QString* why)
{
    const int fd = ::open(path8(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        *why = failed(QStringLiteral("%1 could not be shown to LibreOffice").arg(path));
        return false;
    }
    const bool ok = bindFd(fd, at, writable, false, why);
    ::close(fd);
    return ok;
}

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
        const QByteArray name = path8(parts[i]);
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
        const int next = ::openat(dir, path8(parts[i]).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dir);
        dir = next;
    }
    if (dir < 0 || parts.isEmpty())
        return;
    const QByteArray name = path8(parts.last());
    if (::unlinkat(dir, name.constData(), AT_REMOVEDIR) != 0)
        ::unlinkat(dir, name.constData(), 0);
    ::close(dir);
}

// What the sandbox sees already, for as long as it lives: the system's
// folders, the plan's and the fonts'.
bool Root::shownAlready(const QString& path) const
{
    if (isSystemPath(path))
        return true;
    for (const QString& folder : m_planned) {
        if (under(path, canonical(folder)))
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
        if (under(file.path, QString::fromLatin1(kInside))) {
            *why = QStringLiteral("%1 stands where the sandbox keeps its own folders").arg(file.path);
            ok = false;
        } else if (!shownAlready(file.path)) {
            ok = bindFd(file.fd, file.path, false, true, why);
        }
    }
    if (ok && !outputFolder.isEmpty()) {
        const int fd = ::open(path8(outputFolder).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

QString Root::newJobFolder() const
{
    if (m_jobs.isEmpty())
        return QString();
    QByteArray folder = m_jobs + "/row-XXXXXX";
    return ::mkdtemp(folder.data()) ? QFile::decodeName(folder) : QString();
}

pid_t Root::start(const QStringList& command, int keepFd, QString* why, int output) const
{
    const int filter = SyscallFilterProgram();
    if (filter < 0) {
        *why = QStringLiteral("the sandbox's system call filter could not be made");
        return -1;
    }
    QByteArrayList arguments = {"bwrap",
                                "--unshare-all",
                                "--unshare-user",
                                "--disable-userns",
                                "--die-with-parent",
                                "--new-session",
                                "--cap-drop",
                                "ALL",
                                "--bind",
                                m_root,
                                "/"};
    for (const char* folder : kSystemFolders) {
        struct stat st;
        if (::lstat(folder, &st) == 0 && S_ISDIR(st.st_mode))
            arguments << "--ro-bind" << folder << folder;
    }
    // LibreOffice looks for GnuPG as it loads its first presentation, which
    // costs five programs' starts; inside there are no keys and no agent to
    // use, so its programs are covered and the search ends at once.
    for (const char* program : kGnuPG) {
        struct stat st;
        if (::stat(program, &st) == 0 && S_ISREG(st.st_mode))
            arguments << "--ro-bind"
                      << "/dev/null" << program;
    }
    // Its /tmp and /dev/shm hold memory: both are bounded.
    arguments += QByteArrayList{
        "--proc",  "/proc",    "--dev",        "/dev", "--perms", "1777", "--size",    QByteArray::number(kShmBytes),
        "--tmpfs", "/dev/shm", "--remount-ro", "/",    "--chdir", "/",    "--seccomp", QByteArray::number(filter),
        "--"};
    for (const QString& word : command)
        arguments << path8(word);
    const QByteArrayList environment = sandboxEnvironment();
    std::vector<char*> argv, envp;
    for (const QByteArray& a : arguments)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    for (const QByteArray& e : environment)
        envp.push_back(const_cast<char*>(e.constData()));
    envp.push_back(nullptr);

    // Run as root, the sandbox's user enters a user namespace of root's
    // own, whose ids this process writes once the child has made it: no
    // process of the host but root's may enter it or what is made in it.
    int unshared[2] = {-1, -1}, mapped[2] = {-1, -1};
    if (m_asRoot && (::pipe2(unshared, O_CLOEXEC) != 0 || ::pipe2(mapped, O_CLOEXEC) != 0)) {
        *why = failed(QStringLiteral("the sandbox could not be started"));
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const pid_t parent = ::getppid();
        if (m_asRoot) {
            char c = 0;
            if (::setgroups(0, nullptr) != 0 || ::unshare(CLONE_NEWUSER) != 0 || ::write(unshared[1], &c, 1) != 1 ||
                ::read(mapped[0], &c, 1) != 1 || ::setresgid(m_group, m_group, m_group) != 0 ||
                ::setresuid(m_user, m_user, m_user) != 0)
                ::_exit(126);
        }
        if (output >= 0 && (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0))
            ::_exit(126);
        // Everything but the standard streams, the filter and keepFd is closed.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != filter && fd != keepFd && fd != unshared[1] && fd != mapped[0])
                ::close(fd);
        }
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
        // Set after the change of user, which clears it.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(126);
        ::execvpe("bwrap", argv.data(), envp.data());
        std::fprintf(stderr, "pradelux-render: bubblewrap (bwrap) could not be started: %s\n", std::strerror(errno));
        ::_exit(127);
    }
    ::close(filter);
    if (pid < 0)
        *why = failed(QStringLiteral("the sandbox could not be started"));
    if (m_asRoot) {
        ::close(unshared[1]);
        ::close(mapped[0]);
        char c = 0;
        const QByteArray proc = "/proc/" + QByteArray::number(pid);
        const bool ok =
            pid > 0 && ::read(unshared[0], &c, 1) == 1 &&
            writeFile(proc + "/uid_map", QByteArray::number(m_user) + ' ' + QByteArray::number(m_user) + " 1") &&
            writeFile(proc + "/gid_map", QByteArray::number(m_group) + ' ' + QByteArray::number(m_group) + " 1") &&
            ::write(mapped[1], &c, 1) == 1;
        ::close(unshared[0]);
        ::close(mapped[1]);
        if (pid > 0 && !ok) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            *why = failed(QStringLiteral("the sandbox's user namespace could not be made"));
            return -1;
        }
    }
    return pid;
}

} // namespace pradelux::office::sandbox
