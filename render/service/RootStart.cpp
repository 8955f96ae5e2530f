// Starting a command in the sandbox.
#include "Root.h"

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
    const int filter = SyscallFilterProgram();
    if (filter < 0) {
        *why = QStringLiteral("the sandbox's system call filter could not be made");
        return -1;
    }
    QByteArrayList arguments = BubblewrapArguments(m_root, filter);
    for (const QString& word : command)
        arguments << QFile::encodeName(word);
    const QByteArrayList environment = SandboxEnvironment();
    std::vector<char*> argv, envp;
    for (const QByteArray& a : arguments)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    for (const QByteArray& e : environment)
        envp.push_back(const_cast<char*>(e.constData()));
    envp.push_back(nullptr);

    // Run as root, the sandbox's user enters a user namespace of root's
    // own, whose ids this process writes once the child has made it: no
    // process of the host but root's may enter it or what is made in it.
    int unshared[2] = {-1, -1}, mapped[2] = {-1, -1};
    if (m_asRoot && (::pipe2(unshared, O_CLOEXEC) != 0 || ::pipe2(mapped, O_CLOEXEC) != 0)) {
        *why = failed(QStringLiteral("the sandbox could not be started"));
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const pid_t parent = ::getppid();
        if (m_asRoot) {
            // It waits for its ids no longer than this process lives: only
            // this process holds the pipes' other ends.
            ::close(unshared[0]);
            ::close(mapped[1]);
            char c = 0;
            if (::setgroups(0, nullptr) != 0 || ::unshare(CLONE_NEWUSER) != 0 || ::write(unshared[1], &c, 1) != 1 ||
                ::read(mapped[0], &c, 1) != 1 || ::setresgid(m_group, m_group, m_group) != 0 ||
                ::setresuid(m_user, m_user, m_user) != 0)
                ::_exit(126);
        }
        if (::dup2(m_lifeline[0], STDIN_FILENO) < 0 ||
            (output >= 0 && (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0)))
            ::_exit(126);
        // Everything but the standard streams, the filter and keepFd is closed.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != filter && fd != keepFd && fd != unshared[1] && fd != mapped[0])
                ::close(fd);
        }
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
        // Not bound to die with this process: bubblewrap binds itself once
        // it has made the sandbox's first process, which until then waits
        // for it. Killed in between, it would leave that process waiting
        // for good. Started for a process that has already ended, it does
        // not start; ending after, it ends its sandbox: its command ends
        // when the standard input, whose other end only this process
        // holds, closes.
        if (::getppid() != parent)
            ::_exit(126);
        ::execvpe("bwrap", argv.data(), envp.data());
        std::fprintf(stderr, "pradelux-render: bubblewrap (bwrap) could not be started: %s\n", std::strerror(errno));
        ::_exit(127);
    }
    ::close(filter);
    if (pid < 0)
        *why = failed(QStringLiteral("the sandbox could not be started"));
    if (m_asRoot) {
        ::close(unshared[1]);
        ::close(mapped[0]);
        char c = 0;
        const QByteArray proc = "/proc/" + QByteArray::number(pid);
        const bool ok =
            pid > 0 && ::read(unshared[0], &c, 1) == 1 &&
            writeFile(proc + "/uid_map", QByteArray::number(m_user) + ' ' + QByteArray::number(m_user) + " 1") &&
            writeFile(proc + "/gid_map", QByteArray::number(m_group) + ' ' + QByteArray::number(m_group) + " 1") &&
            ::write(mapped[1], &c, 1) == 1;
        ::close(unshared[0]);
        ::close(mapped[1]);
        if (pid > 0 && !ok) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            *why = failed(QStringLiteral("the sandbox's user namespace could not be made"));
            return -1;
        }
    }
    return pid;
}

} // namespace pradelux::render::service
