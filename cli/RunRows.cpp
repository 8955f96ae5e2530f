// The rows of a run from the terminal.
#include "RunRows.h"

#include "AddFolder.h"
#include "ClaimPlan.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace pradelux {

namespace {
// The share K of N (1-based) that a presentation belongs to: a stable hash of
// its full path, the same on every machine.
int shareOf(const QString& path, int shares)
{
    quint64 hash = 1469598103934665603ULL; // FNV-1a
    for (const char c : QFile::encodeName(path)) {
        hash ^= static_cast<uchar>(c);
        hash *= 1099511628211ULL;
    }
    return static_cast<int>(hash % static_cast<quint64>(shares)) + 1;
}

// What a file of the command line's holds (the standard input for "-").
std::optional<QByteArray> readInput(const QString& from)
{
    QFile file;
    const bool opened = from == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(from), file.open(QIODevice::ReadOnly));
    return opened ? std::optional<QByteArray>(file.readAll()) : std::nullopt;
}

} // namespace

std::optional<QStringList> ReadList(const QString& from, bool null, QStringList* rest)
{
    const std::optional<QByteArray> listed = readInput(from);
    if (!listed)
        return std::nullopt;
    QStringList paths;
    QStringList* into = &paths;
    for (const QByteArray& entry : listed->split(null ? '\0' : '\n')) {
        const QByteArray path = null ? entry : entry.trimmed();
        if (path.isEmpty() && rest && null)
            into = rest;
        else if (!path.isEmpty())
            *into << (into == &paths ? QFile::decodeName(path) : QString::fromUtf8(path));
    }
    return paths;
}

std::optional<QStringList> ReadPasswords(const QString& from)
{
    std::optional<QByteArray> given = readInput(from);
    if (!given)
        return std::nullopt;
    QStringList passwords;
    for (QByteArray line : given->split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            passwords << QString::fromUtf8(line);
        line.fill('\0');
    }
    given->fill('\0');
    return passwords;
}

Rows CollectRows(const ExportOptions& options, Dialogs& dialogs)
{
    QString extension = options.extension;
    while (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    const QString pattern = extension.isEmpty()               ? kPresentationPatterns
                            : extension == QLatin1String("*") ? QStringLiteral("*.*")
                                                              : QStringLiteral("*.") + extension;
    Rows rows;
    QStringList all;
    ErrorTrap trap(dialogs, tags::kFolderScan);
    ThrottledYield yield(DoEvents);
    for (const QString& path : options.paths) {
        // The presentation application may run elsewhere: it gets full paths.
        const QString full = QFileInfo(path).absoluteFilePath();
        if (!IsFolder(full)) {
            all << full;
            continue;
        }
        FolderList folders{full == QLatin1String("/") ? full : full + kSeparator};
        trap(112, [&] {
            FolderScanState state{dialogs, std::ref(yield), {}, {}, options.followLinks};
            GetSubDirectories2016(folders, true, state);
        });
        const QDir top(full);
        AppendMatchingFiles(
            folders, pattern,
            [&](const QStringList& found) {
                all << found;
                for (const QString& file : found) {
                    const QString below = top.relativeFilePath(QFileInfo(file).path());
                    if (options.keepFolders && below != QLatin1String("."))
                        rows.subfolders.insert(file, below);
                }
            },
            std::ref(trap), std::ref(yield));
    }
    // A job of --jobs is given the rows' folders by the run.
    if (!options.subfoldersFrom.isEmpty()) {
        rows.subfolders.insert(ReadPairs(options.subfoldersFrom));
    }
    QSet<QString> seen;
    for (const QString& file : std::as_const(all)) {
        const QString key = FileKey(file);
        if (key.isEmpty() || !seen.contains(key))
            rows.files << file;
        seen.insert(key);
    }
    rows.found = rows.files.size();
    return rows;
}

void TakeShare(Rows& rows, const ExportOptions& options)
{
    if (options.shares > 1)
        rows.files.removeIf([&](const QString& row) { return shareOf(row, options.shares) != options.share; });
}

} // namespace pradelux
