// Files and folders as the program sees them.
#include "FileSystem.h"

#include "Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pradelux {

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

bool hiddenName(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == QLatin1Char('/'))
        --end;
    const qsizetype start = path.lastIndexOf(QLatin1Char('/'), end - 1) + 1;
    const QStringView name = QStringView(path).mid(start, end - start);
    return name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String("..");
}

uid_t effectiveUser()
{
    static const uid_t user = ::geteuid();
    return user;
}

[[noreturn]] void raise(int error, const QString& path)
{
    if (error == EACCES || error == EPERM)
        throw Failure(failure::kPermissionDenied, QStringLiteral("Permission denied: %1").arg(path));
    if (error == EROFS)
        throw Failure(failure::kPermissionDenied,
                      QStringLiteral("Permission denied: %1 is on a read-only file system").arg(path));
    if (error == ENOENT || error == ENOTDIR)
        throw Failure(failure::kPathNotFound, QStringLiteral("Path not found: %1").arg(path));
    throw Failure(failure::kPathFileAccess,
                  QStringLiteral("Path/File access error: %1 (%2)").arg(path, QString::fromLocal8Bit(strerror(error))));
}

// The attribute value from the path's own status (link) and, for a link, the
// status of what it leads to (target); target is link itself otherwise.
int attributesFrom(const QString& path, const QByteArray& p, const struct stat& link, const struct stat& target)
{
    int value = S_ISLNK(link.st_mode) ? attr::kAlias : 0;
    if (S_ISDIR(target.st_mode))
        value |= attr::kDirectory;
    else if (S_ISREG(target.st_mode))
        value |= attr::kArchive;
    else
        value |= attr::kSystem;
    // Write bits for nobody, or no write access for this user. Root may write
    // anything, so the bits decide for root; the owner's own bit decides for
    // the owner, without asking the kernel again.
    const uid_t user = effectiveUser();
    if ((target.st_mode & 0222) == 0)
        value |= attr::kReadOnly;
    else if (user != 0 && (user == target.st_uid ? !(target.st_mode & S_IWUSR) : ::access(p.constData(), W_OK) != 0))
        value |= attr::kReadOnly;
    if (hiddenName(path))
        value |= attr::kHidden;
    return value;
}

} // namespace

int FileAttributes(const QString& path, bool* existingFile)
{
    if (existingFile)
        *existingFile = false;
    const QByteArray p = native(path);
    struct stat link;
    if (path.isEmpty() || ::lstat(p.constData(), &link) != 0)
        return -1;
    struct stat target = link;
    if (S_ISLNK(link.st_mode) && ::stat(p.constData(), &target) != 0)
        return attr::kAlias | attr::kSystem; // a dangling link is neither file nor folder
    if (existingFile)
        *existingFile = !S_ISDIR(target.st_mode);
    return attributesFrom(path, p, link, target);
}

bool IsExistingFile(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(native(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

FileSystemObject::Folder FileSystemObject::GetFolder(const QString& path) const
{
    const QByteArray p = native(path);
    struct stat link;
    if (::lstat(p.constData(), &link) != 0)
        raise(errno, path);
    struct stat target = link;
    if (S_ISLNK(link.st_mode) && ::stat(p.constData(), &target) != 0)
        raise(errno, path);
    if (!S_ISDIR(target.st_mode))
        raise(ENOENT, path);
    return Folder{path, static_cast<quint64>(target.st_dev), static_cast<quint64>(target.st_ino),
                  attributesFrom(path, p, link, target)};
}

QList<FileSystemObject::SubFolder> FileSystemObject::SubFolders(const Folder& folder) const
{
    DIR* dir = ::opendir(native(folder.path).constData());
    if (!dir)
        raise(errno, folder.path);
    QList<SubFolder> subs;
    while (dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (!std::strcmp(n, ".") || !std::strcmp(n, ".."))
            continue;
        // Every subfolder is known by what stat says of it: the inode in a
        // directory entry can differ from it (mount points, btrfs subvolumes,
        // some overlay mounts), and taking one for the other would skip a
        // folder as already seen.
        if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat st, own;
        if (::fstatat(::dirfd(dir), n, &st, 0) == 0 && S_ISDIR(st.st_mode) &&
            ::fstatat(::dirfd(dir), n, &own, AT_SYMLINK_NOFOLLOW) == 0)
            subs.append({QFile::decodeName(n), static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino),
                         S_ISLNK(own.st_mode)});
    }
    ::closedir(dir);
    std::sort(subs.begin(), subs.end(), [](const SubFolder& a, const SubFolder& b) { return a.name < b.name; });
    return subs;
}

int FileSystemObject::Attributes(const Folder& folder) const
{
    return folder.attributes;
}

bool FileSystemObject::IsRootFolder(const Folder& folder) const
{
    return QDir::cleanPath(folder.path) == QLatin1String("/");
}

void FileSystemObject::DeleteFile(const QString& path, bool force) const
{
    const QByteArray p = native(path);
    struct stat st;
    if (::lstat(p.constData(), &st) != 0)
        throw Failure(failure::kFileNotFound, QStringLiteral("File not found: %1").arg(path));
    if (S_ISDIR(st.st_mode))
        throw Failure(failure::kFileNotFound, QStringLiteral("File not found: %1 is a folder").arg(path));
    if (!force && (FileAttributes(path) & attr::kReadOnly))
        throw Failure(failure::kPermissionDenied, QStringLiteral("Permission denied: %1 is read-only").arg(path));
    if (::unlink(p.constData()) != 0)
        raise(errno, path);
}

} // namespace pradelux
