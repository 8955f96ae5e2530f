// Starting a command in the sandbox.
#include "Root.h"

#include "ChildStart.h"
#include "SyscallFilter.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pradelux::render::service {

using namespace boundary;

pid_t Root::start(const QStringList& command, int keepFd, QString* why, int output) const
{
    const UniqueFd filter(SyscallFilterProgram());
    if (filter.get() < 0) {
        *why = QStringLiteral("the sandbox's system call filter could not be made");
        return -1;
    }
    QByteArrayList arguments = BubblewrapArguments(m_root, filter.get());
    for (const QString& word : command)
        arguments << QFile::encodeName(word);

    // Run as root, the sandbox's user enters a user namespace of root's
    // own, whose ids this process writes once the child has made it: no
    // process of the host but root's may enter it or what is made in it.
    int unshared[2] = {-1, -1}, mapped[2] = {-1, -1};
    if (m_asRoot && (::pipe2(unshared, O_CLOEXEC) != 0 || ::pipe2(mapped, O_CLOEXEC) != 0)) {
        *why = failed(QStringLiteral("the sandbox could not be started"));
        return -1;
    }
    UniqueFd unsharedRead(unshared[0]), unsharedWrite(unshared[1]), mappedRead(mapped[0]), mappedWrite(mapped[1]);
    // Its standard input is the lifeline; it keeps the filter and keepFd.
    ChildStart how{{{m_lifeline[0], STDIN_FILENO}, {filter.get(), filter.get()}}};
    if (output >= 0)
        how.given << ChildStart::Given{output, STDOUT_FILENO} << ChildStart::Given{output, STDERR_FILENO};
    else
        how.given << ChildStart::Given{STDOUT_FILENO, STDOUT_FILENO};
    if (keepFd >= 0)
        how.given << ChildStart::Given{keepFd, keepFd};
    if (m_asRoot)
        how.given << ChildStart::Given{unshared[1], unshared[1], true} << ChildStart::Given{mapped[0], mapped[0], true};
    // Not bound to die with this process: bubblewrap binds itself once it
    // has made the sandbox's first process, which until then waits for it.
    // Killed in between, it would leave that process waiting for good.
    // Started for a process that has already ended, it does not start;
    // ending after, it ends its sandbox: its command ends when the standard
    // input, whose other end only this process holds, closes.
    how.endsWithParent = false;
    const pid_t parent = ::getpid();
    const bool asRoot = m_asRoot;
    const uid_t user = m_user;
    const gid_t group = m_group;
    how.prepare = [&] {
        // It waits for its ids no longer than this process lives: only this
        // process holds the pipes' other ends.
        char c = 0;
        if (asRoot && (::setgroups(0, nullptr) != 0 || ::unshare(CLONE_NEWUSER) != 0 ||
                       ::write(unshared[1], &c, 1) != 1 || ::read(mapped[0], &c, 1) != 1 ||
                       ::setresgid(group, group, group) != 0 || ::setresuid(user, user, user) != 0))
            return false;
        return ::getppid() == parent;
    };
    bool named = !m_asRoot;
    how.forked = [&](pid_t pid) {
        if (!asRoot)
            return;
        unsharedWrite.reset();
        mappedRead.reset();
        char c = 0;
        const QByteArray proc = "/proc/" + QByteArray::number(pid);
        named = ::read(unsharedRead.get(), &c, 1) == 1 &&
                writeFile(proc + "/uid_map", QByteArray::number(user) + ' ' + QByteArray::number(user) + " 1") &&
                writeFile(proc + "/gid_map", QByteArray::number(group) + ' ' + QByteArray::number(group) + " 1") &&
                ::write(mappedWrite.get(), &c, 1) == 1;
        if (!named)
            ::kill(pid, SIGKILL);
    };
    const pid_t pid = StartProgram(arguments, how, SandboxEnvironment(), true);
    if (!named) {
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
        *why = failed(QStringLiteral("the sandbox's user namespace could not be made"));
        return -1;
    }
    if (pid < 0)
        *why = failed(QStringLiteral("bubblewrap (bwrap) could not be started"));
    return pid;
}

} // namespace pradelux::render::service
