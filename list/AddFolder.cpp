// The folder routines.
#include "AddFolder.h"

#include "Dialogs.h"
#include "ErrorReport.h"
#include "Failure.h"
#include "FileSystem.h"
#include "Files.h"
#include "Paths.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace pradelux {

namespace {

// Hidden + system + directory, with or without alias: never descended into.
bool descendable(const FileSystemObject& fso, const FileSystemObject::Folder& folder)
{
    const int a = fso.Attributes(folder);
    return fso.IsRootFolder(folder) || (a != 22 && a != 1046);
}

} // namespace

QString BrowseForFolder(Dialogs& dialogs, const QString& prompt, const QString& startFolder)
{
    QString chosen = dialogs.browseForFolder(prompt, startFolder);
    while (chosen.size() > 1 && chosen.endsWith(kSeparator))
        chosen.chop(1);
    if (chosen.size() >= kMaxPath)
        return QString();
    return chosen;
}

void GetSubDirectories2016(FolderList& folders, bool recurse, FolderScanState& state)
{
    ErrorTrap trap(state.dialogs, tags::kSubDirectories);
    const FileSystemObject fso;
    FolderList found;
    bool listingBegun = false;
    const FolderList entries = folders;
    for (const QString& v : entries) {
        int line = 108;
        try {
            line = 108;
            if (!IsFolder(v))
                continue;
            line = 110;
            if (v.size() >= kMaxPath)
                continue;
            line = 112;
            const auto folder = fso.GetFolder(v);
            line = 114;
            state.yield();
            line = 116;
            if (!descendable(fso, folder))
                continue;
            const auto id = qMakePair(folder.device, folder.inode);
            if (state.listed.contains(id))
                continue;
            state.listed.insert(id);
            state.seen.insert(id);
            line = 118;
            listingBegun = true;
            const auto subs = fso.SubFolders(folder);
            for (const auto& sub : subs) {
                const QString& name = sub.name;
                line = 120;
                state.yield();
                line = 124;
                if (name.size() >= kMaxName || HasUnsafeCharacters(name) || name.contains(QLatin1Char('?')) ||
                    name == QLatin1String(".") || name == QLatin1String(".."))
                    continue;
                line = 132;
                if (sub.link && !state.followLinks)
                    continue;
                const auto subId = qMakePair(sub.device, sub.inode);
                if (state.seen.contains(subId))
                    continue; // reached before, through a link: scanned once
                state.seen.insert(subId);
                found << v + name + kSeparator;
            }
        } catch (const Failure& f) {
            if (!listingBegun) {
                ShowErrorReport(state.dialogs, f.description(), tags::kSubDirectories, line);
            } else if (f.number() == failure::kPermissionDenied || f.number() == failure::kPathNotFound) {
                folders.removeOne(v);
            }
        }
    }
    if (recurse && !found.isEmpty())
        trap(150, [&] { GetSubDirectories2016(found, true, state); });
    for (const QString& w : std::as_const(found)) {
        trap(154, [&] {
            if (!IsFolder(w))
                return;
            state.yield();
            if (descendable(fso, fso.GetFolder(w)))
                folders << w;
        });
    }
}

namespace {
// Matches texts whose case is already folded.
bool matchFolded(const QString& p, const QString& n)
{
    // Classic two-pointer match with backtracking to the last "*".
    int pi = 0, ni = 0, star = -1, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == QLatin1Char('?') || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == QLatin1Char('*')) {
            star = pi++;
            mark = ni;
        } else if (star >= 0) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == QLatin1Char('*'))
        ++pi;
    return pi == p.size();
}
} // namespace

bool WildcardMatch(const QString& pattern, const QString& name)
{
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    return matchFolded(pattern.toCaseFolded(), name.toCaseFolded());
}

QStringList ListFiles(const QString& folder, const QString& pattern)
{
    const QString dirPath = folder.endsWith(kSeparator) ? folder : folder + kSeparator;
    QStringList names{QString()};
    DIR* dir = ::opendir(QFile::encodeName(dirPath).constData());
    if (!dir)
        return names;
    const bool all = pattern == QLatin1String("*.*") || pattern == QLatin1String("*");
    const QStringList folded = pattern.toCaseFolded().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const auto matches = [&](const QString& name) {
        const QString n = name.toCaseFolded();
        return std::any_of(folded.begin(), folded.end(), [&](const QString& p) { return matchFolded(p, n); });
    };
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_type == DT_DIR)
            continue;
        const QByteArray raw(entry->d_name);
        const QString name = QFile::decodeName(raw);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (!all && !matches(name))
            continue;
        // A regular file needs no second look; links and the unknown do. A
        // name that is not valid UTF-8 cannot be looked at again by its text,
        // but is listed all the same: the export names it as not exported.
        if (entry->d_type == DT_REG || IsExistingFile(dirPath + name) || QFile::encodeName(name) != raw)
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin() + 1, names.end());
    return names;
}

bool HasUnsafeCharacters(const QString& name)
{
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 32 || (u >= 127 && u <= 159) || u == '?')
            return true;
    }
    return false;
}

void AppendMatchingFiles(const FolderList& folders, const QString& pattern, const RowSink& append,
                         const StatementRunner& step, const std::function<void()>& yieldNow)
{
    for (const QString& entry : folders) {
        QString f;
        step(116, [&] { f = entry.left(entry.size() - 1); });
        QStringList names{QString()};
        step(118, [&] { names = ListFiles(f, pattern); });
        // The rows of one folder go into the list together.
        QStringList rows;
        for (int j = 1; j < names.size(); ++j) {
            bool skip = false;
            step(122, [&] { skip = names[j].startsWith(QLatin1Char('~')); });
            if (skip)
                continue;
            QString path;
            step(124, [&] { path = f + kSeparator + names[j]; });
            step(126, [&] {
                bool existing = false;
                const int attributes = FileAttributes(path, &existing);
                if ((existing && attributes != (attr::kHidden | attr::kArchive)) ||
                    (!existing && HasUndecodableName(path) && !names[j].startsWith(QLatin1Char('.'))))
                    rows << CollapseBackslashes(path);
            });
        }
        step(126, [&] { append(rows); });
        if (yieldNow)
            yieldNow();
    }
}

} // namespace pradelux
