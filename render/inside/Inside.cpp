// What runs inside the sandbox before LibreOffice: its bounds and its copy
// of the profile.
#include "Inside.h"

#include "ChildStart.h"
#include "LibreOffice.h"
#include "ProcessTree.h"
#include "RenderWorker.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::render::inside {

namespace {
// The most tasks (processes and threads) one LibreOffice may run in its
// sandbox: it runs a few dozen threads, and a fork bomb stops here.
constexpr rlim_t kTasksInside = 256;

// Copies the template to folder (made), its files' times kept, links left
// out. False when it could not be copied whole.
bool copyProfile(const QString& from, const QString& to)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path source = QFile::encodeName(from).toStdString();
    const fs::path target = QFile::encodeName(to).toStdString();
    fs::create_directories(target, error);
    for (auto it = fs::recursive_directory_iterator(source, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path copy = target / fs::relative(it->path(), source);
        if (it->is_symlink())
            continue;
        if (it->is_directory())
            fs::create_directory(copy, error);
        else if (it->is_regular_file() && fs::copy_file(it->path(), copy, error))
            fs::last_write_time(copy, it->last_write_time(), error);
    }
    return !error;
}

// Waits for the child's exit status. When the process outside that started
// the sandbox ends first (the standard input, whose other end only it
// holds, closes), the child is killed; and what it started and left
// running goes with it either way (bubblewrap's bond to the outside is made
// only after the sandbox is set up, and waits for every process in it).
int waitWhileOutsideLives(pid_t child)
{
    const int exited = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    for (bool waiting = exited >= 0; waiting;) {
        pollfd watched[] = {{STDIN_FILENO, POLLIN, 0}, {exited, POLLIN, 0}};
        if ((::poll(watched, 2, -1) < 0 && errno != EINTR) || watched[1].revents)
            break;
        char byte;
        const ssize_t n = watched[0].revents ? ::read(STDIN_FILENO, &byte, 1) : 1;
        waiting = n > 0 || (n < 0 && errno == EINTR);
        if (!waiting)
            ::kill(child, SIGKILL);
    }
    if (exited >= 0)
        ::close(exited);
    else
        ::waitid(P_PID, static_cast<id_t>(child), nullptr, WEXITED | WNOWAIT);
    EndSandbox();
    int how = 0;
    while (::waitpid(child, &how, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(how) ? WEXITSTATUS(how) : 128 + WTERMSIG(how);
}

// Inside the sandbox, before LibreOffice starts: the bound on its tasks (for
// the sandbox's own user, in its own user namespace; nothing inside can
// raise it again) and its copy of the profile, when there is a template.
// False after saying why.
bool prepareInside(const char* profileTemplate)
{
    const rlimit tasks{kTasksInside, kTasksInside};
    const QString from = QFile::decodeName(profileTemplate);
    QString why;
    if (::setrlimit(RLIMIT_NPROC, &tasks) != 0)
        why = QStringLiteral("the bound on processes could not be set: %1").arg(std::strerror(errno));
    else if (profileTemplate && !copyProfile(from, boundary::PrivateProfile()))
        why = QStringLiteral("LibreOffice's profile could not be copied from %1").arg(from);
    if (!why.isEmpty())
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
    return why.isEmpty();
}
} // namespace

void EndSandbox()
{
    if (::getpid() == 2 && ::getppid() == 1)
        ::kill(-1, SIGKILL);
}

int RunProgram(int argc, char* argv[])
{
    const int separator = argc > 2 && std::strcmp(argv[2], "--") == 0 ? 2 : 3;
    if (argc < separator + 2 || std::strcmp(argv[separator], "--") != 0) {
        std::fputs("pradelux-inside --run [TEMPLATE] -- PROGRAM ARGUMENTS...\n", stderr);
        return 2;
    }
    if (!prepareInside(separator == 3 ? argv[2] : nullptr))
        return 6;
    char** program = argv + separator + 1;
    // LibreOffice asks to be started once more when it made a profile
    // anew (from a template that holds the settings alone).
    int status = boundary::kRestartStatus;
    for (int start = 0; start < 2 && status == boundary::kRestartStatus; ++start) {
        QList<QByteArray> arguments;
        for (char** a = program; *a; ++a)
            arguments << *a;
        // Its output is the sandbox's; its input none.
        const pid_t pid = StartProgram(arguments, {{{STDOUT_FILENO, STDOUT_FILENO}}});
        if (pid < 0)
            std::fprintf(stderr, "pradelux-render: %s could not be started: %s\n", program[0], std::strerror(errno));
        status = pid < 0 ? 127 : waitWhileOutsideLives(pid);
    }
    return status;
}

int RunWorker(int argc, char* argv[])
{
    if (argc != 5) {
        std::fputs("pradelux-inside --render-worker FD PROGRAM TEMPLATE\n", stderr);
        return 2;
    }
    if (!prepareInside(argv[4]))
        return 6;
    const int status = RunRenderWorker(std::atoi(argv[2]), QFile::decodeName(argv[3]), boundary::PrivateProfile());
    EndSandbox();
    return status;
}

} // namespace pradelux::render::inside
