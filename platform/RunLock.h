// One export at a time for a set of printer values: a lock file beside them,
// held (flock) for a whole run. The kernel lets go of it when its process
// ends, however it ends, so a lock left by a process that is gone is free.
#pragma once

#include <QString>

namespace pradelux {

class RunLock
{
public:
    explicit RunLock(QString path);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock unless another run holds it or it cannot be opened at
    // all (holder() then says why); program is how this run is named to the
    // others ("pradelux", "pradelux --export").
    bool tryLock(const QString& program);
    void unlock();
    // The lock file cannot be opened at all: waiting will not help.
    bool unusable() const { return !m_failure.isEmpty(); }
    // Who holds the lock, in words: "pradelux --export (process 4242 on
    // host, started 2026-12-07 14:02:11)", or why it cannot be taken; empty
    // text when nobody holds it.
    QString holder() const;

private:
    QString m_path;
    int m_fd = -1;
    QString m_failure; // why the lock file cannot be opened
};

} // namespace pradelux
