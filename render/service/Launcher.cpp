// The renderers that take over from one another: the launcher that starts
// them from the top, and how one asks for a successor and waits for its
// predecessor.
#include "Service.h"

#include "Files.h"
#include "ProcessTree.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::render::service {

namespace {
// A second LibreOffice is started ahead only while the machine has this
// much memory available, and the run's own limit, where it has one, is at
// least twice as much.
constexpr qint64 kAheadMemory = 1LL << 30;

bool roomForAnother()
{
    const qint64 own = CgroupMemoryLimit();
    return AvailableMemory() >= kAheadMemory && (own <= 0 || own >= 2 * kAheadMemory);
}

QByteArray renderProgram()
{
    return QFile::encodeName(ProgramFolderOf(QStringLiteral("/proc/self/exe")) + QStringLiteral("/pradelux-render"));
}

// Starts pradelux-render --after PREDECESSOR twice removed, in a session of
// its own, so that it is no process of the predecessor's tree: neither
// counted in its memory nor ended with it. Its process id, or 0.
qint64 startAfter(const QByteArray& program, qint64 predecessor)
{
    const QByteArray after = QByteArray::number(predecessor);
    char* const argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--after"),
                          const_cast<char*>(after.constData()), nullptr};
    int ids[2];
    if (::pipe2(ids, O_CLOEXEC) != 0)
        return 0;
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::setsid();
        const pid_t successor = ::fork();
        if (successor == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            // Nothing of the renderer's but its log.
            ::syscall(SYS_close_range, 3U, ~0U, 0U);
            ::chdir("/");
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        const qint64 id = successor;
        (void)!::write(ids[1], &id, sizeof id);
        ::_exit(0);
    }
    ::close(ids[1]);
    qint64 id = 0;
    if (middle < 0 || ::read(ids[0], &id, sizeof id) != sizeof id)
        id = 0;
    ::close(ids[0]);
    if (middle > 0)
        ::waitpid(middle, nullptr, 0);
    return id > 0 ? id : 0;
}
} // namespace

int RunLauncher(int socket)
{
    const QByteArray program = renderProgram();
    qint64 predecessor = 0;
    while (::recv(socket, &predecessor, sizeof predecessor, 0) == sizeof predecessor) {
        const qint64 id = startAfter(program, predecessor);
        if (::send(socket, &id, sizeof id, MSG_NOSIGNAL) != sizeof id)
            break;
    }
    return 0;
}

int StartLauncher()
{
    const QByteArray program = renderProgram();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    const QByteArray fd = QByteArray::number(pair[1]);
    char* const argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--launcher"),
                          const_cast<char*>(fd.constData()), nullptr};
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(0);
        ::fcntl(pair[1], F_SETFD, 0);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return -1;
    }
    return pair[0];
}

qint64 StartSuccessor(int launcher)
{
    if (!roomForAnother() || launcher < 0)
        return 0;
    // Started by the launcher, which stands outside this renderer's
    // namespaces: each renderer starts from the top, never inside the one
    // before it.
    const qint64 predecessor = ::getpid();
    qint64 id = 0;
    if (::send(launcher, &predecessor, sizeof predecessor, MSG_NOSIGNAL) != sizeof predecessor)
        return 0;
    pollfd p{launcher, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1 || ::recv(launcher, &id, sizeof id, 0) != sizeof id)
        return 0;
    return id > 0 ? id : 0;
}

void WaitForPredecessor(qint64 pid, const QString& socketPath, int maxMs)
{
    // It stops listening before it answers its last row, or ends; waited
    // for at most as long as a renderer stays without work.
    const ProcessHandle predecessor(pid);
    const QByteArray socket = QFile::encodeName(socketPath);
    const bool watchBus = QDBusConnection::sessionBus().isConnected();
    QElapsedTimer clock;
    clock.start();
    struct stat st;
    while (predecessor.isValid() && ::lstat(socket.constData(), &st) == 0 && clock.elapsed() < maxMs &&
           (!watchBus || QDBusConnection::sessionBus().isConnected()) && !predecessor.waitGone(10)) {
    }
}

} // namespace pradelux::render::service
