// The renderers that take over from one another: the launcher that starts
// them from the top, and how one asks for a successor and waits for its
// predecessor.
#include "Service.h"

#include "ChildStart.h"
#include "Files.h"
#include "ProcessTree.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// The descriptor at which a renderer the launcher started finds its socket
// to the launcher.
constexpr int kLauncherFd = 3;

// Starts pradelux-render --after PREDECESSOR twice removed, in a session of
// its own, so that it is no process of the predecessor's tree: neither
// counted in its memory nor ended with it; launcher is its end of a socket
// to the launcher. Its process id, or 0.
qint64 startAfter(const QByteArray& program, qint64 predecessor, int launcher)
{
    const QList<QByteArray> argv{program, "--after", QByteArray::number(predecessor), QByteArray::number(kLauncherFd)};
    int ids[2];
    if (::pipe2(ids, O_CLOEXEC) != 0)
        return 0;
    const UniqueFd told(ids[0]);
    // Nothing of the renderer's but its log, and the launcher.
    ChildStart successor{{{launcher, kLauncherFd}}};
    successor.endsWithParent = false;
    successor.prepare = [] { return ::chdir("/") == 0; };
    const pid_t middle = ForkChild({{{ids[1], ids[1]}, {launcher, launcher}}, false, true}, [&] {
        const qint64 id = StartProgram(argv, successor);
        (void)!::write(ids[1], &id, sizeof id);
        return 0;
    });
    ::close(ids[1]);
    qint64 id = 0;
    if (middle < 0 || ::read(told.get(), &id, sizeof id) != sizeof id)
        id = 0;
    if (middle > 0)
        ::waitpid(middle, nullptr, 0);
    return id > 0 ? id : 0;
}

} // namespace

// Serves the renderers of one chain: each asks, with its own id, for the
// one that takes over from it, and gets that one's id; the new one gets a
// socket of its own to ask in turn. Ends once no renderer of the chain is
// left.
int RunLauncher(int first)
{
    const QByteArray program = renderProgram();
    std::vector<pollfd> renderers = {{first, POLLIN, 0}};
    while (!renderers.empty()) {
        if (::poll(renderers.data(), renderers.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        std::vector<pollfd> next;
        for (const pollfd& renderer : renderers) {
            qint64 predecessor = 0;
            if (!renderer.revents) {
                next.push_back(renderer);
                continue;
            }
            if (::recv(renderer.fd, &predecessor, sizeof predecessor, 0) != sizeof predecessor) {
                ::close(renderer.fd);
                continue;
            }
            int pair[2] = {-1, -1};
            qint64 id = 0;
            if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0) {
                id = startAfter(program, predecessor, pair[1]);
                ::close(pair[1]);
                if (id > 0)
                    next.push_back({pair[0], POLLIN, 0});
                else
                    ::close(pair[0]);
            }
            if (::send(renderer.fd, &id, sizeof id, MSG_NOSIGNAL) == sizeof id)
                next.push_back({renderer.fd, POLLIN, 0});
            else
                ::close(renderer.fd);
        }
        renderers = std::move(next);
    }
    return 0;
}

int StartLauncher()
{
    const QByteArray program = renderProgram();
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    // It keeps the standard streams it is given, and its end of the socket.
    const pid_t pid =
        StartProgram({program, "--launcher", QByteArray::number(pair[1])},
                     {{{STDIN_FILENO, STDIN_FILENO}, {STDOUT_FILENO, STDOUT_FILENO}, {pair[1], pair[1]}}, false});
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
