// What a rendering may reach.
#include "Sandbox.h"

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
// Shared temporary folders: a presentation there is shown alone.
const char* const kGnuPG[] = {"/usr/bin/gpgconf", "/usr/bin/gpg", "/usr/bin/gpg2", "/usr/bin/gpgsm"};
const char* const kSharedTemporary[] = {"/tmp", "/var/tmp", "/dev/shm"};
// What covers a hidden folder, a socket or a pipe below a shown folder.
const char* const kEmptyFolder = "/.pradelux-empty";
const char* const kEmptyFile = "/.pradelux-empty-file";
// Run as root, LibreOffice runs as this user and group (nobody, nogroup).
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;
// A presentation's folder is walked for what to cover; one larger than this
// is not shown, only the presentation.
constexpr int kMostFolders = 2000;
constexpr int kMostCovers = 200;
// What LibreOffice's private /tmp, home and /dev/shm may hold: memory,
// counted against the memory ceiling with its processes, and bounded apart.
constexpr qint64 kTmpBytes = qint64(1) << 30;
constexpr qint64 kShmBytes = qint64(256) << 20;

enum BindFlag : unsigned { kWritable = 1, kView = 2 };

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

QString canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(path) : c;
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

// The user's own fonts, and fontconfig's caches of them and of the system's
// fonts. Without a cache LibreOffice reads every font file each time it
// starts; without the user's fonts it prints with stand-ins.
QStringList fontFolders()
{
    const QString home = QDir::homePath();
    const auto xdg = [&](const char* variable, const char* fallback) {
        const QString set = qEnvironmentVariable(variable);
        return set.startsWith(QLatin1Char('/')) ? set : home + QLatin1String(fallback);
    };
    return {QStringLiteral("/var/cache/fontconfig"), xdg("XDG_DATA_HOME", "/.local/share") + QStringLiteral("/fonts"),
            home + QStringLiteral("/.fonts"), xdg("XDG_CACHE_HOME", "/.cache") + QStringLiteral("/fontconfig"),
            home + QStringLiteral("/.fontconfig")};
}

// A user namespace that maps root's files to nobody: mounts idmapped with it
// show what root owns as nobody's own.
int rootAsNobody()
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
        const QByteArray map = "0 " + QByteArray::number(kNobody) + " 1";
        // The child may not have unshared yet: its namespace is then still ours.
        for (int i = 0; i < 1000 && fd < 0; ++i) {
            char mine[64] = {}, its[64] = {};
            if (::readlink("/proc/self/ns/user", mine, sizeof mine - 1) > 0 &&
                ::readlink((proc + "/ns/user").constData(), its, sizeof its - 1) > 0 && std::strcmp(mine, its) != 0 &&
                writeFile(proc + "/setgroups", "deny") && writeFile(proc + "/uid_map", map) &&
                writeFile(proc + "/gid_map", "0 " + QByteArray::number(kNoGroup) + " 1"))
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
QByteArrayList sandboxEnvironment(const QString& home)
{
    QByteArrayList out = {"HOME=" + path8(home), "TMPDIR=/tmp",
                          "PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin"};
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
        for (const char* kept :
             {"LANG=", "LANGUAGE=", "LC_", "TZ=", "XDG_DATA_HOME=", "XDG_CACHE_HOME=", "XDG_CONFIG_HOME=",
              "XDG_DATA_DIRS=", "FONTCONFIG_", "SAL_", "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="}) {
            if (entry.startsWith(kept))
                out << entry;
        }
    }
    return out;
}

// Makes the folders up to path (and path itself: a folder, or an empty file
// for anything else) inside the root. The ones made are added to created.
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
        const int fd = ::open(path8(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0444);
        if (fd < 0)
            return false;
        ::close(fd);
        created->append(path);
    }
    return true;
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

QString ShownPath(const QString& presentation)
{
    const QFileInfo info(presentation);
    const QString folder = canonical(info.absolutePath());
    const QString home = canonical(QDir::homePath());
    bool alone = folder == QLatin1String("/") || under(home, folder);
    for (const char* shared : kSharedTemporary)
        alone = alone || folder == canonical(QString::fromLatin1(shared));
    return alone ? info.absoluteFilePath() : info.absolutePath();
}

std::unique_ptr<Root> Root::make(const Plan& plan, QString* why)
{
    std::unique_ptr<Root> root(new Root);
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    root->m_asRoot = uid == 0;
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
    if (root->m_asRoot && (root->m_idmap = rootAsNobody()) < 0) {
        *why = failed(QStringLiteral("the user namespace that maps root to nobody could not be made"));
        return nullptr;
    }
    // Run as root, bubblewrap runs as nobody, who must be able to look up
    // the root's path: it stands in the system's temporary folder then.
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
    const uid_t owner = root->m_asRoot ? kNobody : uid;
    const gid_t group = root->m_asRoot ? kNoGroup : gid;
    QStringList made;
    const QByteArray home = r + path8(QDir::homePath());
    const QByteArray ids = ",uid=" + QByteArray::number(owner) + ",gid=" + QByteArray::number(group);
    // A private /tmp and home, made here so that a presentation's folder
    // below them can still be shown later.
    if (::mkdir((r + "/proc").constData(), 0755) != 0 || ::mkdir((r + "/dev").constData(), 0755) != 0 ||
        ::mkdir((r + kEmptyFolder).constData(), 0555) != 0 ||
        !makeMountPoint(QString::fromUtf8(r + kEmptyFile), false, &made) ||
        ::mkdir((r + "/tmp").constData(), 0755) != 0 ||
        ::mount("tmpfs", (r + "/tmp").constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                ("mode=1777,size=" + QByteArray::number(kTmpBytes)).constData()) != 0 ||
        !makeMountPoint(QFile::decodeName(home), true, &made) ||
        ::mount("tmpfs", home.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                ("mode=0700,size=" + QByteArray::number(kTmpBytes) + ids).constData()) != 0) {
        *why = failed(QStringLiteral("the sandbox's private folders could not be made"));
        return nullptr;
    }
    for (const QString& path : plan.writable) {
        if (QFileInfo::exists(path) && !root->bind(path, kWritable, why))
            return nullptr;
    }
    for (const QString& path : plan.readable) {
        if (QFileInfo::exists(path) && !root->bind(path, 0, why))
            return nullptr;
    }
    // Fonts are shown where they can be; a rendering without them still works.
    QString ignored;
    for (const QString& path : fontFolders()) {
        if (QFileInfo(path).isDir())
            root->bind(path, 0, &ignored);
    }
    return root;
}

Root::~Root()
{
    hide();
    ::umount2(m_root.constData(), MNT_DETACH);
    ::rmdir(m_root.constData());
    if (m_idmap >= 0)
        ::close(m_idmap);
}

// Shows the host's path at the same path inside: read-only unless writable;
// run as root, idmapped so that root's files there are nobody's.
bool Root::bind(const QString& path, unsigned flags, QString* why)
{
    const bool writable = flags & kWritable;
    if (!writable && isSystemPath(canonical(path)))
        return true; // shown read-only anyway
    const QString target = QString::fromUtf8(m_root) + path;
    QStringList created;
    // Run as root there is no namespace whose mounts are locked, and an
    // idmapped tree is taken one mount at a time.
    const int tree = static_cast<int>(::syscall(SYS_open_tree, AT_FDCWD, path8(path).constData(),
                                                OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC | (m_asRoot ? 0 : AT_RECURSIVE)));
    mount_attr attributes{};
    attributes.attr_set =
        MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV | (writable ? 0 : MOUNT_ATTR_RDONLY) | (m_asRoot ? MOUNT_ATTR_IDMAP : 0);
    attributes.userns_fd = static_cast<quint64>(m_idmap);
    const bool ok =
        tree >= 0 && makeMountPoint(target, QFileInfo(path).isDir(), &created) &&
        ::syscall(SYS_mount_setattr, tree, "", AT_EMPTY_PATH | (m_asRoot ? 0 : AT_RECURSIVE), &attributes,
                  sizeof attributes) == 0 &&
        ::syscall(SYS_move_mount, tree, "", AT_FDCWD, path8(target).constData(), MOVE_MOUNT_F_EMPTY_PATH) == 0;
    const int error = errno;
    if (tree >= 0)
        ::close(tree);
    if (flags & kView) {
        m_viewCreated += created;
        if (ok)
            m_viewMounts << target;
    }
    if (!ok) {
        errno = error;
        *why = failed(QStringLiteral("%1 could not be shown to LibreOffice").arg(path));
    }
    return ok;
}

// Covers, below a shown folder, its hidden folders and the sockets and pipes
// a read-only mount would still let LibreOffice connect to or write into.
// False when the folder holds too many folders to walk.
bool Root::cover(const QString& folder, QString* why)
{
    struct stat top;
    if (::stat(path8(folder).constData(), &top) != 0)
        return false;
    QStringList pending = {folder};
    QList<QByteArray> covers;
    for (int walked = 0; !pending.isEmpty(); ++walked) {
        if (walked >= kMostFolders || covers.size() > kMostCovers) {
            *why = QStringLiteral("%1 holds too many folders to show").arg(folder);
            return false;
        }
        const QString current = pending.takeLast();
        DIR* dir = ::opendir(path8(current).constData());
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            const QByteArray path = path8(current) + '/' + name;
            struct stat st;
            if (::lstat(path.constData(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode) && name.startsWith('.'))
                covers << path;
            else if (S_ISSOCK(st.st_mode) || S_ISFIFO(st.st_mode))
                covers << path;
            else if (S_ISDIR(st.st_mode) && (!m_asRoot || st.st_dev == top.st_dev))
                pending << QFile::decodeName(path);
        }
        ::closedir(dir);
    }
    for (const QByteArray& path : covers) {
        struct stat st;
        const bool folderCover = ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
        const QByteArray target = m_root + path;
        // Made read-only before it is attached: a remount afterwards would
        // not reach the sandbox's copy of the mount.
        const int tree = static_cast<int>(::syscall(SYS_open_tree, AT_FDCWD,
                                                    (m_root + (folderCover ? kEmptyFolder : kEmptyFile)).constData(),
                                                    OPEN_TREE_CLONE | OPEN_TREE_CLOEXEC));
        mount_attr attributes{};
        attributes.attr_set = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID | MOUNT_ATTR_NODEV;
        const bool ok = tree >= 0 &&
                        ::syscall(SYS_mount_setattr, tree, "", AT_EMPTY_PATH, &attributes, sizeof attributes) == 0 &&
                        ::syscall(SYS_move_mount, tree, "", AT_FDCWD, target.constData(), MOVE_MOUNT_F_EMPTY_PATH) == 0;
        if (tree >= 0)
            ::close(tree);
        if (!ok) {
            *why = failed(QStringLiteral("%1 could not be hidden from LibreOffice").arg(QFile::decodeName(path)));
            return false;
        }
    }
    return true;
}

bool Root::show(const QString& presentation, const QString& writableFolder, QString* why)
{
    hide();
    const QString shown = ShownPath(presentation);
    bool ok = bind(shown, kView, why);
    if (ok && shown != QFileInfo(presentation).absoluteFilePath() && !cover(shown, why)) {
        // A folder that cannot be walked or covered: the presentation alone.
        hide();
        ok = bind(QFileInfo(presentation).absoluteFilePath(), kView, why);
    }
    if (ok && !writableFolder.isEmpty())
        ok = bind(writableFolder, kView | kWritable, why);
    if (!ok)
        hide();
    return ok;
}

void Root::hide()
{
    for (auto it = m_viewMounts.crbegin(); it != m_viewMounts.crend(); ++it)
        ::umount2(path8(*it).constData(), MNT_DETACH);
    for (auto it = m_viewCreated.crbegin(); it != m_viewCreated.crend(); ++it) {
        if (::rmdir(path8(*it).constData()) != 0)
            ::unlink(path8(*it).constData());
    }
    m_viewMounts.clear();
    m_viewCreated.clear();
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
    const QByteArrayList environment = sandboxEnvironment(QDir::homePath());
    std::vector<char*> argv, envp;
    for (const QByteArray& a : arguments)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    for (const QByteArray& e : environment)
        envp.push_back(const_cast<char*>(e.constData()));
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const pid_t parent = ::getppid();
        if (output >= 0 && (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0))
            ::_exit(126);
        // Everything but the standard streams, the filter and keepFd is closed.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != filter && fd != keepFd)
                ::close(fd);
        }
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
        if (m_asRoot && (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(kNobody) != 0))
            ::_exit(126);
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
    return pid;
}

} // namespace pradelux::office::sandbox
