// The bounds of a process that reads bytes nobody vouches for.
#include "Confinement.h"

#include <cerrno>
#include <cstdio>
#include <seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

// Built with the sanitizers (the tests' build): their shadow memory takes
// terabytes of address space, so no bound on it can be set, and their check
// of an object's type writes to a pipe of its own to see whether memory can
// be read, and their reports go to the standard error.
#if defined(__SANITIZE_ADDRESS__)
#define PRADELUX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PRADELUX_SANITIZED 1
#endif
#endif
#ifndef PRADELUX_SANITIZED
#define PRADELUX_SANITIZED 0
#endif

namespace pradelux::platform {

namespace {
bool bound(int resource, rlim_t value)
{
    const rlimit limit{value, value};
    return ::setrlimit(resource, &limit) == 0;
}

// The address space the process holds now, in bytes; 0 when unknown.
rlim_t heldNow()
{
    unsigned long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "re");
    if (!statm)
        return 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    return read ? rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) : 0;
}

bool allowOn(scmp_filter_ctx filter, const char* name, std::initializer_list<int> descriptors)
{
    const int call = ::seccomp_syscall_resolve_name(name);
    if (call < 0)
        return true; // not on this machine
    if (descriptors.size() == 0)
        return ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
    for (const int fd : descriptors) {
        if (::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(fd))) != 0)
            return false;
    }
    return true;
}
} // namespace

bool Confine(const Confinement& bounds)
{
    const rlim_t held = heldNow();
    if ((!PRADELUX_SANITIZED && (held == 0 || !bound(RLIMIT_AS, held + bounds.memory))) ||
        !bound(RLIMIT_CPU, bounds.seconds) || !bound(RLIMIT_CORE, 0) || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    scmp_filter_ctx filter =
        ::seccomp_init(bounds.otherwise == Confinement::Killed ? SCMP_ACT_KILL_PROCESS : SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return false;
    bool ok = true;
    // Memory, time, signals and the end.
    for (const char* name : {"mmap",           "munmap",       "mremap",      "mprotect",       "brk",
                             "madvise",        "futex",        "exit",        "exit_group",     "rt_sigreturn",
                             "rt_sigprocmask", "rt_sigaction", "sigaltstack", "clock_gettime",  "clock_getres",
                             "gettimeofday",   "getpid",       "gettid",      "getrandom",      "close",
                             "sched_yield",    "nanosleep",    "rseq",        "restart_syscall"})
        ok = ok && allowOn(filter, name, {});
    for (const char* name : {"read", "pread64", "readv", "lseek", "fstat", "newfstatat", "statx", "fcntl"})
        ok = ok && allowOn(filter, name, bounds.readable);
    ok = ok && allowOn(filter, "write", bounds.writable);
    if (PRADELUX_SANITIZED) {
        for (const char* name : {"pipe", "pipe2", "write"})
            ok = ok && allowOn(filter, name, {});
    }
    ok = ok && ::seccomp_load(filter) == 0;
    ::seccomp_release(filter);
    return ok;
}

} // namespace pradelux::platform
