// --jobs N: the rows exported by N copies of this program at once. Each job
// has its own settings, runtime and cache folders and its own session bus,
// so its own printer values, lock, presentation application and LibreOffice:
// jobs never cross. Rows that write one PDF go to one job, so that the later
// one replaces the earlier as in a single run; a job keeps to one folder as
// long as it can, as its LibreOffice serves the rows of one folder.
#pragma once

#include <QHash>
#include <QStringList>
#include <QTextStream>

namespace pradelux {

struct JobsRun
{
    QStringList rows; // full paths
    int jobs = 2;
    QString output;                     // the output folder
    QStringList passOn;                 // options each job gets too (--verbose, --yes, --no)
    QHash<QString, QString> subfolders; // --keep-folders: each row's folder below the output
    QString report;                     // the run's report file; empty for none
    char terminator = '\n';             // after each path written
    QString printersFile;               // the user's printer list, copied for each job
    QString renderProfile;              // the template of LibreOffice's profile, copied too
    bool outIsTerminal = false;         // paths shown with their control characters escaped
    bool quiet = false;                 // no progress lines
    // --password-file's: each job reads them after its rows, on its
    // standard input, and from nowhere else.
    QStringList passwords = {};
};

// Said after the final message when rows of one name replaced each other.
inline constexpr const char* SameNamesHint =
    "Rows of the same name replace each other; --keep-folders keeps each folder's PDFs apart.";

// Runs the jobs and returns the exit status, as a single run would.
int RunInJobs(const JobsRun& run, QTextStream& out, QTextStream& err);

} // namespace pradelux
