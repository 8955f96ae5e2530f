// Ctrl+C and SIGTERM on the command line.
#include "Interrupts.h"

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace pradelux {

namespace {
std::atomic<bool> g_armed{false};
std::atomic<bool> g_say{true};
std::atomic<bool> g_interrupted{false};
std::atomic<pid_t> g_endWithProgram{0};

sigset_t interrupts()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void CatchInterrupts()
{
    const sigset_t set = interrupts();
    // Every thread started from here on inherits the blocked signals; only
    // the waiting thread below takes them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0)
                continue;
            if (g_armed && !g_interrupted.exchange(true)) {
                if (g_say) {
                    static const char said[] =
                        "\npradelux: stopping after the current presentation (once more stops at once).\n";
                    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, said, sizeof said - 1);
                }
                continue;
            }
            if (const pid_t pid = g_endWithProgram; pid > 0)
                ::kill(pid, SIGTERM);
            ::_exit(128 + signal);
        }
    }).detach();
}

void ArmInterrupts(bool say)
{
    g_say = say;
    g_armed = true;
}

bool Interrupted()
{
    return g_interrupted;
}

void EndWithProgram(pid_t pid)
{
    g_endWithProgram = pid;
}

void DetachFromInterrupts()
{
    ::setsid();
    const sigset_t set = interrupts();
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace pradelux
