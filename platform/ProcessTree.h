// The processes below one of this program's, and the memory they and the
// machine hold: what a renderer's watch looks at, and how a renderer that
// must stop is ended with everything it started.
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <csignal>
#include <sys/types.h>

namespace pradelux {

// pid and every process below it, parents before their children, read from
// the lists of children of each process's threads, or from a scan of every
// process (as where the kernel keeps no such lists).
enum class TreeReading { Best, Scan };
QList<qint64> TreeOf(qint64 pid, TreeReading reading = TreeReading::Best);
// The resident memory of pid and every process below it: a renderer and
// whatever it started, its sandbox included.
qint64 TreeMemory(qint64 pid);
// Kills pid and every process below it, and waits until they are gone (and
// the memory file systems only they held with them).
void KillTree(qint64 pid);
// The smallest memory limit of this process's cgroup and the groups that
// hold it (memory.max and memory.high, or version 1's memory.limit_in_bytes);
// 0 when none is set.
qint64 CgroupMemoryLimit();
// What the machine can give without swapping (MemAvailable); 0 when unknown.
qint64 AvailableMemory();
// "4 GiB", "512 MiB".
QString MemoryText(qint64 bytes);

// What WaitForExit tells besides an exit status (128 + N: ended by signal N).
inline constexpr int kWaitTimedOut = -1; // killed after ms
inline constexpr int kWaitStopped = -2;  // killed once *stop was set
// Waits for the child pid, at most ms (-1: without end), and kills it when
// that passes or *stop (when given, set by a signal handler) is set.
int WaitForExit(pid_t pid, int ms = -1, const volatile sig_atomic_t* stop = nullptr);

} // namespace pradelux
