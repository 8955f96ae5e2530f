// How the jobs of --jobs share the rows out: the units they claim, the
// order they walk the rows in, and the files of pairs the run hands to them.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace pradelux {

// The PDF a row writes, below the output folder: rows of one key go to one
// job, in the order they are listed.
QString ClaimKey(const QString& row, const QHash<QString, QString>& subfolders);

// What the jobs claim: units of rows, each taken whole by one job. A unit is
// a folder's rows, with the rows elsewhere that write the same PDFs, so that
// a job's rows come from one folder, which its LibreOffice serves, as long
// as they can; folders larger than a job's share, and the smallest folders,
// are cut into their rows, which the jobs take side by side at the end.
struct ClaimPlan
{
    QStringList order;             // how every job walks the rows
    QHash<QString, QString> units; // each row's unit
};
ClaimPlan PlanClaims(const QStringList& rows, const QHash<QString, QString>& subfolders, int jobs);

// In the claims folder: each row's unit.
inline constexpr char kUnitsFile[] = "units";

// A file of pairs (a row and its unit, or its folder below the output
// folder), NUL-separated; false when it cannot be written.
bool WritePairs(const QString& path, const QHash<QString, QString>& pairs);
// The pairs of such a file; none when it cannot be read.
QHash<QString, QString> ReadPairs(const QString& path);

} // namespace pradelux
