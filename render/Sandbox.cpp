// What a rendering may reach.
#include "Sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pradelux::office::sandbox {

namespace {

// The system's own folders, shown read-only; everything else of the host is
// hidden unless asked for.
const char* const kSystemFolders[] = {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt"};
const char* const kHost = "/.host";
const char* const kTemporary = "/.pradelux-tmp";

// The user's own fonts, and fontconfig's caches of them and of the system's
// fonts, shown read-only. Without a cache LibreOffice reads every font file
// each time it starts; without the user's fonts it prints with stand-ins.
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

int g_helper = -1; // the renderer's end of the helper's socket

QByteArray path8(const QString& path)
{
    return QFile::encodeName(path);
}

QString failed(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeFile(const char* path, const QByteArray& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    ::close(fd);
    return ok;
}

// The flags a bind mount from the host keeps: a user namespace may add
// read-only to them but never drop one.
unsigned long lockedFlags(const QByteArray& path)
{
    struct statvfs st;
    if (::statvfs(path.constData(), &st) != 0)
        return 0;
    const std::pair<unsigned long, unsigned long> flags[] = {
        {ST_NOSUID, MS_NOSUID},     {ST_NODEV, MS_NODEV},         {ST_NOEXEC, MS_NOEXEC}, {ST_NOATIME, MS_NOATIME},
        {ST_NODIRATIME, MS_NODIRATIME}, {ST_RELATIME, MS_RELATIME}, {ST_RDONLY, MS_RDONLY}};
    unsigned long out = 0;
    for (const auto& [st_flag, ms_flag] : flags)
        out |= (st.f_flag & st_flag) ? ms_flag : 0;
    return out;
}

// Binds source, with what is mounted below it, at target (which must
// exist); read-only unless writable. A mount below that came from the host
// cannot be left out: a user namespace may not uncover what it hides.
bool bind(const QByteArray& source, const QByteArray& target, bool writable)
{
    if (::mount(source.constData(), target.constData(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return false;
    if (writable)
        return true;
    mount_attr readOnly{};
    readOnly.attr_set = MOUNT_ATTR_RDONLY;
    if (::syscall(SYS_mount_setattr, AT_FDCWD, target.constData(), AT_RECURSIVE, &readOnly, sizeof readOnly) == 0)
        return true;
    // Older kernels: the top one at least.
    return ::mount(nullptr, target.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | lockedFlags(target),
                   nullptr) == 0;
}

// Makes the mount point for what stands at the host's path: a folder, or an
// empty file for anything else (a socket, a presentation).
bool makeMountPoint(const QString& target, bool folder, QStringList* created)
{
    QStringList made;
    for (QString up = folder ? target : QFileInfo(target).path(); !QFileInfo::exists(up); up = QFileInfo(up).path())
        made.prepend(up);
    for (const QString& f : made) {
        if (::mkdir(path8(f).constData(), 0755) != 0)
            return false;
    }
    *created += made;
    if (!folder && !QFileInfo::exists(target)) {
        const int fd = ::open(path8(target).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        ::close(fd);
        created->append(target);
    }
    return true;
}

// The host's tree as the sandbox's root sees it, and the mounts made from
// it: in the process that sets the sandbox up, and then in its helper.
class HostTree
{
public:
    // prefix: where the sandbox's root stands before it is entered.
    HostTree(int host, QString prefix) : m_host(host), m_prefix(std::move(prefix)) {}

    void setWritable(const QStringList& writable) { m_writable = writable; }

    // Shows the host's path at the same path, read-only unless writable.
    // A folder covering one of the renderer's own writable folders shows
    // those again on top.
    bool show(const QString& path, bool writable)
    {
        for (const char* system : kSystemFolders) {
            const QString folder = QString::fromLatin1(system);
            if (!writable && (path == folder || path.startsWith(folder + QLatin1Char('/'))))
                return true; // shown read-only anyway
        }
        if (!mount(path, writable))
            return false;
        for (const QString& own : m_writable) {
            if ((own == path || own.startsWith(path + QLatin1Char('/'))) && !writable && !mount(own, true))
                return false;
        }
        return true;
    }

    void hideAll()
    {
        for (auto it = m_mounts.crbegin(); it != m_mounts.crend(); ++it)
            ::umount2(path8(m_prefix + *it).constData(), MNT_DETACH);
        for (auto it = m_created.crbegin(); it != m_created.crend(); ++it) {
            if (::rmdir(path8(*it).constData()) != 0)
                ::unlink(path8(*it).constData());
        }
        m_mounts.clear();
        m_created.clear();
    }

    QString host(const QString& path) const { return QStringLiteral("/proc/self/fd/%1%2").arg(m_host).arg(path); }

private:
    bool mount(const QString& path, bool writable)
    {
        const QString source = host(path);
        const QFileInfo info(source);
        if (!info.exists() || !makeMountPoint(m_prefix + path, info.isDir(), &m_created) ||
            !bind(path8(source), path8(m_prefix + path), writable))
            return false;
        m_mounts << path;
        return true;
    }

    int m_host;
    QString m_prefix;
    QStringList m_writable;
    QStringList m_mounts;
    QStringList m_created;
};

// The helper: shows and hides folders on request. It holds the host's tree,
// keeps its capabilities and cannot be looked into (not dumpable); it ends
// with the renderer.
[[noreturn]] void serve(int socket, HostTree& tree)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::prctl(PR_SET_DUMPABLE, 0);
    char request[8192];
    for (;;) {
        const ssize_t n = ::recv(socket, request, sizeof request, 0);
        if (n <= 0)
            ::_exit(0);
        bool ok = true;
        if (request[0] == 'h')
            tree.hideAll();
        else
            ok = tree.show(QFile::decodeName(QByteArray(request + 1, static_cast<int>(n - 1))), request[0] == 'w');
        const char answer = ok ? '1' : '0';
        if (::send(socket, &answer, 1, MSG_NOSIGNAL) != 1)
            ::_exit(0);
    }
}

bool ask(char op, const QString& path = QString())
{
    const QByteArray request = op + path8(path);
    char answer = 0;
    return g_helper >= 0 && ::send(g_helper, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) ==
                                request.size() &&
           ::recv(g_helper, &answer, 1, 0) == 1 && answer == '1';
}

// No capability is kept, and none comes back with a program that is run:
// nothing in here can unmount the cover over the host's tree.
bool dropCapabilities()
{
    for (int cap = 0; cap <= 63; ++cap) {
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL)
            return false;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    return ::syscall(SYS_capset, &header, none) == 0 && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

} // namespace

QString TemporaryFolder()
{
    return QString::fromLatin1(kTemporary);
}

bool Enter(const Plan& plan, QString* why)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) {
        *why = failed("this system does not allow user namespaces (unshare)");
        return false;
    }
    if (!writeFile("/proc/self/setgroups", "deny") ||
        !writeFile("/proc/self/uid_map", QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1") ||
        !writeFile("/proc/self/gid_map", QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1")) {
        *why = failed("the user namespace could not be set up");
        return false;
    }
    // Mounts made here stay here; disks the host mounts later still reach
    // the host's tree kept below.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) {
        *why = failed("mount namespace");
        return false;
    }
    QByteArray root = QFile::encodeName(QDir::tempPath()) + "/.pradelux-sandbox-XXXXXX";
    if (!::mkdtemp(root.data()) ||
        ::mount("tmpfs", root.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=50%") != 0) {
        *why = failed("the sandbox's root could not be made");
        return false;
    }
    for (const char* folder : kSystemFolders) {
        struct stat st;
        if (::lstat(folder, &st) != 0)
            continue;
        const QByteArray inside = root + folder;
        char link[4096] = {};
        bool ok = true;
        if (S_ISLNK(st.st_mode))
            ok = ::readlink(folder, link, sizeof link - 1) > 0 && ::symlink(link, inside.constData()) == 0;
        else if (S_ISDIR(st.st_mode))
            ok = ::mkdir(inside.constData(), 0755) == 0 && bind(folder, inside, false);
        if (!ok) {
            *why = failed("the sandbox's system folders could not be shown");
            return false;
        }
    }
    // What LibreOffice needs of the running system, and a private /tmp and home.
    for (const char* folder : {"/proc", "/dev", "/sys"}) {
        const QByteArray inside = root + folder;
        if (::mkdir(inside.constData(), 0755) != 0 || !bind(folder, inside, folder != QByteArray("/sys"))) {
            *why = failed("the sandbox's /proc, /dev or /sys could not be shown");
            return false;
        }
    }
    QStringList made;
    for (const char* folder : {"/tmp", kTemporary}) {
        if (::mkdir(root + folder, 01777) != 0 || ::chmod(root + folder, 01777) != 0) {
            *why = failed("the sandbox's temporary folders could not be made");
            return false;
        }
    }
    if (!makeMountPoint(QString::fromUtf8(root) + QDir::homePath(), true, &made)) {
        *why = failed("the sandbox's home could not be made");
        return false;
    }

    const int host = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    HostTree before(host, QString::fromUtf8(root));
    before.setWritable(plan.writable);
    for (const QString& path : plan.writable) {
        if (QFileInfo::exists(path) && !before.show(path, true)) {
            *why = failed("a folder of the renderer's own could not be shown");
            return false;
        }
    }
    for (const QString& path : plan.readable) {
        if (QFileInfo::exists(path) && !before.show(path, false)) {
            *why = failed("LibreOffice's own folder could not be shown");
            return false;
        }
    }
    // Fonts are shown where they can be; a rendering without them still works.
    for (const QString& path : fontFolders()) {
        if (QFileInfo(path).isDir())
            before.show(path, false);
    }
    for (const QString& presentation : plan.shown) {
        const QString folder = QFileInfo(presentation).absolutePath();
        // A presentation at the very top shows itself alone, not the disk.
        if (!before.show(folder == QLatin1String("/") ? QFileInfo(presentation).absoluteFilePath() : folder, false)) {
            *why = failed("the presentation's folder could not be shown");
            return false;
        }
    }

    if (host < 0 || ::mkdir(root + kHost, 0) != 0 ||
        ::syscall(SYS_pivot_root, root.constData(), (root + kHost).constData()) != 0 || ::chdir("/") != 0) {
        *why = failed("the sandbox's root could not be entered");
        return false;
    }
    // The host's tree stays mounted (binds need it in this namespace) but
    // under a cover: by path, /.host is an empty folder nobody may read.
    if (::mount("tmpfs", kHost, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_RDONLY, "mode=0,size=4k") != 0) {
        *why = failed("the host could not be hidden");
        return false;
    }
    // The mount point the root was made on is no longer one on the host.
    ::rmdir(path8(before.host(QString::fromUtf8(root))).constData());
    ::setenv("TMPDIR", kTemporary, 1);

    if (plan.helper) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
            *why = failed("the sandbox's helper could not be started");
            return false;
        }
        const pid_t pid = ::fork();
        if (pid < 0) {
            *why = failed("the sandbox's helper could not be started");
            return false;
        }
        if (pid == 0) {
            ::close(pair[0]);
            HostTree inside(host, QString());
            inside.setWritable(plan.writable);
            serve(pair[1], inside);
        }
        ::close(pair[1]);
        g_helper = pair[0];
    }
    ::close(host);
    if (!dropCapabilities()) {
        *why = failed("the sandbox could not drop its capabilities");
        return false;
    }
    return true;
}

View::View(const QString& presentation, const QString& workFolder)
{
    if (g_helper < 0)
        return;
    m_shown = true;
    const QString folder = QFileInfo(presentation).absolutePath();
    const bool ok = ask('r', folder == QLatin1String("/") ? QFileInfo(presentation).absoluteFilePath() : folder) &&
                    (workFolder.isEmpty() || ask('w', workFolder));
    if (!ok)
        m_failure = QStringLiteral("the presentation's folder could not be shown to LibreOffice");
}

View::~View()
{
    if (m_shown)
        ask('h');
}

} // namespace pradelux::office::sandbox
