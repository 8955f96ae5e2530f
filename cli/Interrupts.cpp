// Ctrl+C, SIGTERM, SIGHUP and a closed standard output on the command line.
#include "Interrupts.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace pradelux {

namespace {
std::atomic<bool> g_armed{false};
std::atomic<bool> g_say{true};
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_outputClosed{false};
std::atomic<bool> g_endingAtOnce{false};
std::atomic<pid_t> g_endWithProgram{0};
std::mutex g_tidyLock;
std::function<void()> g_tidy;

sigset_t interrupts()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // A closed terminal or ssh session.
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void CatchInterrupts()
{
    const sigset_t set = interrupts();
    // A reader that has gone is seen as a failed write (EPIPE), so the run
    // can stop as a tool in a pipe does, and end what it started.
    ::signal(SIGPIPE, SIG_IGN);
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
            g_endingAtOnce = true;
            {
                const std::lock_guard<std::mutex> hold(g_tidyLock);
                if (g_tidy)
                    g_tidy();
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

void StopForClosedOutput()
{
    g_outputClosed = true;
    g_interrupted = true;
}

bool OutputClosed()
{
    return g_outputClosed;
}

void HoldWhileEndingAtOnce()
{
    // The interrupts' thread ends the program; the signals are blocked here,
    // so nothing wakes this one meanwhile.
    while (g_endingAtOnce)
        ::pause();
}

void EndWithProgram(pid_t pid)
{
    g_endWithProgram = pid;
}

void OnEndingAtOnce(std::function<void()> tidy)
{
    const std::lock_guard<std::mutex> hold(g_tidyLock);
    g_tidy = std::move(tidy);
}

} // namespace pradelux
