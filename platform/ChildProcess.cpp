// Child processes of this program.
#include "ChildProcess.h"

#include <csignal>
#include <initializer_list>
#include <sys/prctl.h>
#include <unistd.h>

namespace pradelux {

void UnblockInterrupts()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
}

void DetachFromInterrupts()
{
    ::setsid();
    UnblockInterrupts();
}

void DetachAndEndWithParent()
{
    const pid_t parent = ::getppid();
    DetachFromInterrupts();
    // Whatever ends this program, SIGKILL included, ends the child too.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
        ::_exit(1);
}

} // namespace pradelux
