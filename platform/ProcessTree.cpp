// The processes below one of this program's, and the memory they hold.
#include "ProcessTree.h"

#include "Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pradelux {

qint64 AvailableMemory()
{
    QFile info(QStringLiteral("/proc/meminfo"));
    if (!info.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : info.readAll().split('\n')) {
        // "MemAvailable:   23866012 kB"
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() << 10;
    }
    return 0;
}

qint64 CgroupMemoryLimit()
{
    QFile cgroups(QStringLiteral("/proc/self/cgroup"));
    if (!cgroups.open(QIODevice::ReadOnly))
        return 0;
    // The memory controller of the first hierarchy (version 1), or the
    // unified one (version 2) where that hierarchy has none.
    QString base;
    QString path;
    QStringList files;
    for (const QByteArray& line : cgroups.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        if (parts[1].split(',').contains("memory")) {
            base = QStringLiteral("/sys/fs/cgroup/memory");
            path = QString::fromUtf8(parts.mid(2).join(':'));
            files = {QStringLiteral("memory.limit_in_bytes")};
            break;
        }
        if (parts[0] == "0" && parts[1].isEmpty()) {
            base = QFileInfo::exists(QStringLiteral("/sys/fs/cgroup/cgroup.controllers"))
                       ? QStringLiteral("/sys/fs/cgroup")
                       : QStringLiteral("/sys/fs/cgroup/unified");
            path = QString::fromUtf8(parts.mid(2).join(':'));
            files = {QStringLiteral("memory.max"), QStringLiteral("memory.high")};
        }
    }
    // The group's own limit and every enclosing group's hold.
    qint64 limit = 0;
    for (QString group = path; !base.isEmpty(); group = QFileInfo(group).path()) {
        for (const QString& name : files) {
            QFile file(base + (group == QLatin1String("/") ? QString() : group) + QLatin1Char('/') + name);
            bool ok = false;
            const qint64 value = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
            // "max", or version 1's page-rounded largest number: no limit.
            if (ok && value > 0 && value < (qint64(1) << 60))
                limit = limit > 0 ? qMin(limit, value) : value;
        }
        if (group == QLatin1String("/") || group.isEmpty())
            break;
    }
    return limit;
}

namespace {
// The fields of /proc/PID/stat after the name in brackets: state ppid pgrp
// session ... (rss is the 22nd).
QList<QByteArray> statOf(const QString& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// The devices of the memory file systems mounted in the mount namespace
// that process pid sees, with where they are mounted.
QList<std::pair<QByteArray, QByteArray>> memoryMounts(const QString& pid)
{
    QList<std::pair<QByteArray, QByteArray>> found;
    QFile mounts(QStringLiteral("/proc/%1/mountinfo").arg(pid));
    if (!mounts.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 5 || dash + 1 >= fields.size() || fields[dash + 1] != "tmpfs")
            continue;
        // A mount point's spaces and other odd bytes come as octal escapes.
        QByteArray point;
        const QByteArray& raw = fields[4];
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size()) {
                point += char(raw.mid(i + 1, 3).toInt(nullptr, 8));
                i += 3;
            } else {
                point += raw[i];
            }
        }
        found.append({fields[2], point});
    }
    return found;
}

// The children of one process, as its threads' lists in /proc name them (a
// child is listed under the thread that started it).
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile list(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& child : list.readAll().split(' '))
            if (const qint64 id = child.trimmed().toLongLong(); id > 0)
                children << id;
    }
    return children;
}

} // namespace

QList<qint64> TreeOf(qint64 pid, TreeReading reading)
{
    // The threads' lists of children cost a few reads for each process of
    // the tree where a scan of /proc costs one for every process of the
    // machine, which a renderer's watch pays at every look; a kernel without
    // those lists gets the scan.
    if (pid <= 0)
        return {};
    static const bool listed = QFileInfo::exists(QStringLiteral("/proc/self/task/%1/children").arg(::gettid()));
    const bool scan = reading == TreeReading::Scan || !listed;
    QHash<qint64, QList<qint64>> scanned;
    if (scan) {
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QList<QByteArray> fields = entry.front().isDigit() ? statOf(entry) : QList<QByteArray>();
            if (fields.size() > 3)
                scanned[fields[1].toLongLong()] << entry.toLongLong();
        }
    }
    QList<qint64> tree;
    QSet<qint64> seen;
    for (QList<qint64> pending = {pid}; !pending.isEmpty();) {
        const qint64 next = pending.takeFirst();
        // An id seen twice is one that was reused while the tree was read.
        if (seen.contains(next))
            continue;
        seen.insert(next);
        tree << next;
        pending += scan ? scanned.value(next) : childrenOf(next);
    }
    return tree;
}

void KillTree(qint64 pid)
{
    if (pid <= 0)
        return;
    // Each is held by a handle before any is killed: a process that ends
    // leaves its id free for another, which must not be hit.
    std::vector<std::unique_ptr<ProcessHandle>> tree;
    for (const qint64 next : TreeOf(pid))
        tree.push_back(std::make_unique<ProcessHandle>(next));
    for (const auto& process : tree)
        process->kill(SIGKILL);
    for (const auto& process : tree)
        process->waitGone(5000);
}

qint64 TreeMemory(qint64 pid)
{
    if (pid <= 0)
        return 0;
    qint64 total = 0;
    // Memory file systems the tree mounted for itself (a sandbox's /tmp,
    // home and /dev/shm) hold memory that is nobody's resident set: what
    // they hold counts too. Those this process sees are not the tree's own.
    QSet<QByteArray> counted;
    for (const auto& [device, point] : memoryMounts(QStringLiteral("self")))
        counted.insert(device);
    char own[64] = {};
    ::readlink("/proc/self/ns/mnt", own, sizeof own - 1);
    QSet<QByteArray> namespaces = {QByteArray(own)};
    for (const qint64 next : TreeOf(pid)) {
        const QList<QByteArray> fields = statOf(QString::number(next));
        total += (fields.size() > 21 ? fields[21].toLongLong() : 0) * ::sysconf(_SC_PAGESIZE);
        char ns[64] = {};
        const QString proc = QStringLiteral("/proc/%1").arg(next);
        if (::readlink(QFile::encodeName(proc + QStringLiteral("/ns/mnt")).constData(), ns, sizeof ns - 1) <= 0 ||
            namespaces.contains(QByteArray(ns)))
            continue;
        namespaces.insert(QByteArray(ns));
        for (const auto& [device, point] : memoryMounts(QString::number(next))) {
            if (counted.contains(device))
                continue;
            // Only the file system the mount table named: one that is being
            // unmounted (a renderer ending) leaves whatever lies below its
            // mount point there, a disk's file system as likely as not.
            const int at = ::open((QFile::encodeName(proc + QStringLiteral("/root")) + point).constData(),
                                  O_PATH | O_DIRECTORY | O_CLOEXEC);
            struct stat st = {};
            struct statfs fs = {};
            const QList<QByteArray> numbers = device.split(':');
            const bool named = at >= 0 && ::fstat(at, &st) == 0 && ::fstatfs(at, &fs) == 0 &&
                               fs.f_type == TMPFS_MAGIC && numbers.size() == 2 &&
                               st.st_dev == makedev(numbers[0].toUInt(), numbers[1].toUInt());
            if (at >= 0)
                ::close(at);
            if (!named)
                continue;
            counted.insert(device);
            total += qint64(fs.f_blocks - fs.f_bfree) * qint64(fs.f_bsize);
        }
    }
    return total;
}

QString MemoryText(qint64 bytes)
{
    if (bytes >= (1LL << 30) && bytes % (1LL << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    if (bytes >= (1LL << 30))
        return QStringLiteral("%1 GiB").arg(double(bytes) / (1LL << 30), 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

int WaitForExit(pid_t pid, int ms, const volatile sig_atomic_t* stop)
{
    for (int waited = 0;; waited += 20) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, ms < 0 && !stop ? 0 : WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 && errno != EINTR)
            return kWaitTimedOut;
        const bool stopped = stop && *stop;
        if (stopped || (ms >= 0 && waited >= ms)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return stopped ? kWaitStopped : kWaitTimedOut;
        }
        if (done == 0)
            ::usleep(20000);
    }
}

} // namespace pradelux
