// Files and folders as the program sees them: attribute values, existence
// tests, and a file-system object of folders, subfolders and deletion.
#pragma once

#include <QString>
#include <QStringList>

namespace pradelux {

// Attribute values: read-only = nobody may write; hidden = the name starts
// with "."; system = neither a regular file nor a folder (socket, device,
// FIFO); directory; archive = a regular file; alias = a symbolic link.
namespace attr {
constexpr int kReadOnly = 1;
constexpr int kHidden = 2;
constexpr int kSystem = 4;
constexpr int kDirectory = 16;
constexpr int kArchive = 32;
constexpr int kAlias = 1024;
} // namespace attr

// The attribute value of the path, or -1 when it does not exist. With
// existingFile, also tells whether IsExistingFile would say true, at no extra cost.
int FileAttributes(const QString& path, bool* existingFile = nullptr);

// True for anything that can be opened as a file: not a folder, not missing.
// Never fails.
bool IsExistingFile(const QString& path);

// Folders and deletion, with failures numbered as automation clients know
// them: 70 permission denied, 76 path not found, 53 file not found.
class FileSystemObject
{
public:
    // A folder as it was when it was fetched: its identity on disk (device
    // and inode) and its attribute value.
    struct Folder
    {
        QString path;
        quint64 device = 0;
        quint64 inode = 0;
        int attributes = 0;
    };
    struct SubFolder
    {
        QString name;
        quint64 device = 0;
        quint64 inode = 0;
        bool link = false; // a symbolic link to a folder
    };
    Folder GetFolder(const QString& path) const;
    // The folder's subfolders (links to folders included), by name.
    QList<SubFolder> SubFolders(const Folder& folder) const;
    int Attributes(const Folder& folder) const;
    bool IsRootFolder(const Folder& folder) const;
    // Deletes the file; with force, a read-only file goes as well.
    void DeleteFile(const QString& path, bool force) const;
};

} // namespace pradelux
