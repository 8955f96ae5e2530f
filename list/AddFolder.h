// The folder routines: the folder dialog, the level-by-level collection of a
// folder tree, and the file listing of one folder.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

namespace pradelux {

class Dialogs;

// Ordered folder paths, each ending in the separator.
using FolderList = QStringList;

// The longest folder path that is searched, and the longest name taken.
constexpr int kMaxPath = 4096;
constexpr int kMaxName = 256;

// The chosen folder: "/" for the root, any other without a final separator;
// empty text when cancelled.
QString BrowseForFolder(Dialogs& dialogs, const QString& prompt, const QString& startFolder);

// One scan of a folder tree: the folders already taken, so that a folder
// reached twice (through a symbolic link) is scanned once.
struct FolderScanState
{
    Dialogs& dialogs;
    std::function<void()> yield;
    QSet<QPair<quint64, quint64>> seen;   // device and inode of every folder taken
    QSet<QPair<quint64, quint64>> listed; // of every folder whose subfolders were listed
    // The window's scans follow links to folders (each folder is scanned
    // once); the command line's, as find, fd and rg, only when asked.
    bool followLinks = true;
};

// Appends to folders every folder below its entries, level by level. Folders
// that cannot be read are dropped silently.
void GetSubDirectories2016(FolderList& folders, bool recurse, FolderScanState& state);

// The names of the files in folder that match the wildcard pattern ("*" and
// "?", case ignored; "*.*" matches every name), hidden ones included, by name.
// Index 0 is an empty placeholder, so names run from 1 to size() - 1.
// pattern may list several, separated by ";" ("*.ppt;*.odp").
QStringList ListFiles(const QString& folder, const QString& pattern);
// What a folder given at start-up or on the command line is scanned for:
// the files of presentation programs, in any case.
inline const QString kPresentationPatterns =
    QStringLiteral("*.ppt;*.pps;*.pot;*.pptx;*.pptm;*.ppsx;*.ppsm;*.potx;*.potm;*.odp;*.otp;*.fodp");

bool WildcardMatch(const QString& pattern, const QString& name);

// True for a name holding a control character (below 32, or 127 to 159) or "?".
bool HasUnsafeCharacters(const QString& name);

// Appends the files of every listed folder that match the pattern, skipping
// names that start with "~" and files that are exactly hidden + archive.
// step runs each statement of the caller under its trap (line, statement).
using StatementRunner = std::function<bool(int line, const std::function<void()>& statement)>;
// append takes the rows of one folder at a time.
using RowSink = std::function<void(const QStringList& rows)>;
void AppendMatchingFiles(const FolderList& folders, const QString& pattern, const RowSink& append,
                         const StatementRunner& step, const std::function<void()>& yieldNow);

} // namespace pradelux
