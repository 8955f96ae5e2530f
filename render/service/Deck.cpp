// A presentation and the files it links to, opened once.
#include "Deck.h"

#include "SandboxPlan.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <grp.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pradelux::render::service {

using boundary::kMostLinks;
using boundary::ShowableLink;

namespace {
// Whether the file open at pathFd begins as a picture does: read through a
// descriptor of its own, without waiting on what is no regular file.
bool isPicture(int pathFd)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(pathFd);
    const int fd = ::open(self.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char head[boundary::kPictureHeadBytes];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    return got > 0 && boundary::IsPicture(QByteArrayView(head, got));
}

// The groups user is a member of, as the system lists them.
QList<gid_t> groupsOf(uid_t user)
{
    const passwd* entry = ::getpwuid(user);
    QList<gid_t> groups;
    if (entry) {
        int count = 64;
        groups.resize(count);
        if (::getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) < 0) {
            groups.resize(count);
            ::getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count);
        }
        groups.resize(count);
    }
    return groups;
}

// Whether user (a member of groups) could read relative below folder by the
// permission bits, as the kernel would judge that user: run as root, the
// renderer's service could read anything itself. Every folder on the way
// must let the user through.
bool ownerCanRead(int folder, const QString& relative, uid_t user, const QList<gid_t>& groups)
{
    const auto allows = [&](const struct stat& st, mode_t owner, mode_t group, mode_t other) {
        if (user == 0)
            return true;
        if (st.st_uid == user)
            return (st.st_mode & owner) != 0;
        if (groups.contains(st.st_gid))
            return (st.st_mode & group) != 0;
        return (st.st_mode & other) != 0;
    };
    struct stat st = {};
    if (::fstat(folder, &st) != 0 || !allows(st, S_IXUSR, S_IXGRP, S_IXOTH))
        return false;
    const QStringList parts = relative.split(QLatin1Char('/'));
    QString walked;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        walked += (walked.isEmpty() ? QString() : QStringLiteral("/")) + parts[i];
        if (::fstatat(folder, QFile::encodeName(walked).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        const bool last = i + 1 == parts.size();
        if (!(last ? allows(st, S_IRUSR, S_IRGRP, S_IROTH) : allows(st, S_IXUSR, S_IXGRP, S_IXOTH)))
            return false;
    }
    return true;
}
} // namespace

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
    const int folder =
        real.isEmpty() ? -1 : ::open(QFile::encodeName(folderPath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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
        const int fd =
            static_cast<int>(::syscall(SYS_openat2, folder, QFile::encodeName(relative).constData(), &how, sizeof how));
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
    struct stat deckStat = {};
    ::fstat(deck, &deckStat);
    const bool asRoot = ::geteuid() == 0;
    const QList<gid_t> ownerGroups = asRoot && !links.isEmpty() ? groupsOf(deckStat.st_uid) : QList<gid_t>();
    QStringList seen = {real};
    for (const QString& link : links) {
        const QString relative = ShowableLink(link);
        const QString path = folderPath + QLatin1Char('/') + relative;
        if (relative.isEmpty() || seen.contains(path) || m_files.size() > kMostLinks)
            continue;
        const int fd = openBelow(relative);
        if (fd < 0)
            continue;
        boundary::LinkedFile linked = {};
        ::fstat(fd, &linked.file);
        linked.deckOwner = deckStat.st_uid;
        linked.ownerCanRead = asRoot ? ownerCanRead(folder, relative, deckStat.st_uid, ownerGroups)
                                     : ::faccessat(folder, QFile::encodeName(relative).constData(), R_OK, 0) == 0;
        if (boundary::MayShowLinkedFile(linked, asRoot) && isPicture(fd)) {
            m_files.append({path, fd});
            seen << path;
        } else {
            ::close(fd);
        }
    }
    ::close(folder);
    return true;
}

} // namespace pradelux::render::service
