// The rows of a run from the terminal: what the paths and lists given bring,
// one row a file, and the share of them a machine of several takes.
#pragma once

#include "ExportOptions.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace pradelux {

class Dialogs;

// The rows of a run: what the paths brought, one row a file.
struct Rows
{
    QStringList files;
    // --keep-folders: each row's folder below the folder it was found in.
    QHash<QString, QString> subfolders;
    // How many the paths brought before the run took its share.
    qsizetype found = 0;
};

// The rows, as the window's drop and folder scan would add them; a folder
// brings its presentations unless --extension says otherwise. A file named
// twice (a folder and a file in it, two links to it) is one row, as in the
// window's list.
Rows CollectRows(const ExportOptions& options, Dialogs& dialogs);

// --shard K/N: only the rows of this run's share.
void TakeShare(Rows& rows, const ExportOptions& options);

// The paths listed in a file (or on the standard input for "-"): one a line,
// or NUL-separated. rest: when given, the entries after the first empty one
// (a job's passwords, after its rows).
std::optional<QStringList> ReadList(const QString& from, bool null, QStringList* rest = nullptr);

// The passwords of a file, one a line, as they stand: only the line's end
// (and a carriage return before it) is not the password's.
std::optional<QStringList> ReadPasswords(const QString& from);

} // namespace pradelux
