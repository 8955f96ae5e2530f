// The one way this program starts a child.
#include "ChildStart.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pradelux {

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

bool DiesWithParent(pid_t parent)
{
    return ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == parent;
}

namespace {
// In the child: what how asks for, with keep (another descriptor: the pipe
// that tells an exec's error) kept too. False when it could not be done.
bool setUp(const ChildStart& how, pid_t parent, int keep)
{
    if (how.endsWithParent && !DiesWithParent(parent))
        return false;
    if (how.ownSession)
        ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);

    std::vector<ChildStart::Given> given(how.given.cbegin(), how.given.cend());
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO}) {
        if (std::none_of(given.begin(), given.end(), [&](const ChildStart::Given& g) { return g.to == stream; }))
            given.push_back({ChildStart::kNull, stream});
    }
    // Each first to a number above every one in play, so that none is
    // overwritten before it is moved.
    int above = std::max(keep, 2);
    for (const ChildStart::Given& g : given)
        above = std::max({above, g.from, g.to});
    std::vector<int> held;
    for (const ChildStart::Given& g : given) {
        const int from = g.from == ChildStart::kNull ? ::open("/dev/null", O_RDWR | O_CLOEXEC) : g.from;
        const int copy = from < 0 ? -1 : ::fcntl(from, F_DUPFD_CLOEXEC, above + 1);
        if (copy < 0)
            return false;
        held.push_back(copy);
        above = std::max(above, copy);
    }
    std::vector<int> kept{STDERR_FILENO, keep};
    for (size_t i = 0; i < given.size(); ++i) {
        if (::dup2(held[i], given[i].to) != given[i].to ||
            (given[i].untilExec && ::fcntl(given[i].to, F_SETFD, FD_CLOEXEC) != 0))
            return false;
        kept.push_back(given[i].to);
    }
    // Every other descriptor goes: the gaps between those kept.
    std::sort(kept.begin(), kept.end());
    int from = 0;
    for (const int fd : kept) {
        if (fd > from)
            ::syscall(SYS_close_range, unsigned(from), unsigned(fd - 1), 0U);
        from = std::max(from, fd + 1);
    }
    ::syscall(SYS_close_range, unsigned(from), ~0U, 0U);
    return !how.prepare || how.prepare();
}
} // namespace

pid_t StartProgram(const QList<QByteArray>& argv, const ChildStart& how, const QList<QByteArray>& environment,
                   bool search)
{
    if (argv.isEmpty()) {
        errno = EINVAL;
        return -1;
    }
    std::vector<char*> args;
    for (const QByteArray& a : argv)
        args.push_back(const_cast<char*>(a.constData()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const QByteArray& e : environment)
        env.push_back(const_cast<char*>(e.constData()));
    env.push_back(nullptr);
    // The program's start is told by the close of this pipe on exec, or by
    // the error number written into it.
    int told[2];
    if (::pipe2(told, O_CLOEXEC) != 0)
        return -1;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(told[0]);
        int error = EPERM;
        if (setUp(how, parent, told[1])) {
            char** envp = environment.isEmpty() ? environ : env.data();
            if (search)
                ::execvpe(args[0], args.data(), envp);
            else
                ::execve(args[0], args.data(), envp);
            error = errno;
        }
        (void)!::write(told[1], &error, sizeof error);
        ::_exit(126);
    }
    ::close(told[1]);
    if (pid > 0 && how.forked)
        how.forked(pid);
    int error = 0;
    ssize_t n = 0;
    while (pid > 0 && (n = ::read(told[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    const int forkError = errno;
    ::close(told[0]);
    if (pid < 0) {
        errno = forkError;
        return -1;
    }
    if (n != 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        errno = n == sizeof error ? error : EPERM;
        return -1;
    }
    return pid;
}

pid_t ForkChild(const ChildStart& how, const std::function<int()>& body)
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(setUp(how, parent, -1) ? body() : 126);
    return pid;
}

} // namespace pradelux
