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

    // Takes the lock unless another run holds it; program is how this run
    // is named to the others ("pradelux", "pradelux --export").
    bool tryLock(const QString& program);
    void unlock();
    // Who holds the lock, in words: "pradelux --export (process 4242 on
    // host, started 2026-12-07 14:02:11)"; empty text when nobody does.
    QString holder() const;

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace pradelux
