// A folder of a run's own in the temporary folder, for everything the run
// makes there (the homes of --jobs' copies, their claims): removed when the
// run ends, and, when a run was killed, by the next run of the same user,
// which knows a dead run's folder by its lock that nobody holds.
#pragma once

#include <QString>

namespace pradelux {

class RunFolder
{
public:
    RunFolder();
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // Empty when the folder could not be made.
    QString path() const { return m_path; }
    // A new folder in it; empty text when it could not be made.
    QString make(const QString& name) const;
    // Removes the folders of this user's runs that ended without removing
    // theirs (killed): those whose lock nobody holds.
    static void removeDeadRuns();

private:
    QString m_path;
    int m_lock = -1;
};

} // namespace pradelux
