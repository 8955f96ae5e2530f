// Renders through pradelux-render.
#include "WarmRenderer.h"

#include "Channel.h"
#include "Failure.h"
#include "Failures.h"
#include "Files.h"
#include "ProcessTree.h"
#include "Protocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pradelux::render::client {

using namespace boundary;

namespace {
// LibreOffice takes about a second to load; a slow machine gets much longer.
constexpr int kStartMs = 60000;

// The renderers' folder of this user's own in a temporary folder; empty
// when another user made that name first.
QString renderersFolderIn(const QString& temporary)
{
    const QString folder = temporary + QStringLiteral("/pradelux-render-%1").arg(::geteuid());
    return PrivateFolder(folder) ? folder : QString();
}

// The process at the other end of a connected local socket.
qint64 peerOf(const QLocalSocket& socket)
{
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return 0;
    return peer.pid;
}
// The kept renderer's answer: one line, and the PDF's descriptor beside it.
class AnswerReader
{
public:
    ~AnswerReader()
    {
        for (int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
    }
    // Reads what came within ms.
    void read(int socket, int ms)
    {
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return;
        char chunk[1024];
        DescriptorMessage message;
        message.setData(chunk, sizeof chunk);
        const ssize_t n = ::recvmsg(socket, message.header(), MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (const int fd = message.carried(); fd >= 0)
            m_fds << fd;
        // More descriptors than one were sent: the kernel closed the rest.
        if (message.header()->msg_flags & MSG_CTRUNC)
            m_fds << -1;
        if (n <= 0)
            m_closed = true;
        else
            m_buffer.append(chunk, n);
        if (m_buffer.size() > kAnswerMax)
            m_closed = true;
    }
    bool closed() const { return m_closed; }
    bool complete() const { return m_buffer.endsWith('\n') && m_buffer.count('\n') == 1 && m_fds.size() <= 1; }
    bool done() const { return m_closed || m_buffer.contains('\n'); }
    QByteArray line() const { return m_buffer; }
    // The descriptor that came, now the caller's; -1 when none did.
    int takeDescriptor() { return m_fds.size() == 1 ? m_fds.takeFirst() : -1; }

private:
    QByteArray m_buffer;
    QList<int> m_fds;
    bool m_closed = false;
};
} // namespace

WarmRenderer::WarmRenderer(QString renderProgram, QString socketPath, int timeoutMs, QString logFile)
    : m_program(std::move(renderProgram)), m_socket(std::move(socketPath)), m_timeoutMs(timeoutMs),
      m_log(std::move(logFile))
{
}

QString WarmRenderer::defaultSocketPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        // Where another user made that name first, the user's own cache
        // holds the socket.
        folder = renderersFolderIn(QDir::tempPath());
        if (folder.isEmpty()) {
            folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                     QStringLiteral("/pradelux-office");
            QDir().mkpath(QFileInfo(folder).path());
            PrivateFolder(folder);
        }
    }
    const QByteArray session =
        QCryptographicHash::hash(qgetenv("DBUS_SESSION_BUS_ADDRESS"), QCryptographicHash::Sha1).toHex().left(12);
    const QString name = QStringLiteral("/pradelux-render-") + QString::fromLatin1(session);
    // A socket's path has room for 107 bytes: below a deep runtime folder (a
    // job of --jobs under a deep TMPDIR), a short folder of the user's own.
    if (QFile::encodeName(folder + name).size() >= kSocketPathMax) {
        if (const QString shortFolder = renderersFolderIn(QStringLiteral("/tmp")); !shortFolder.isEmpty())
            folder = shortFolder;
    }
    return folder + name;
}

qint64 WarmRenderer::runningRenderer(const QString& socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.waitForConnected(1000) ? peerOf(socket) : 0;
}

WarmRenderer::~WarmRenderer() = default;

std::unique_ptr<ProcessHandle> WarmRenderer::start(QString* why) const
{
    QDir().mkpath(QFileInfo(m_log).absolutePath());
    QProcess process;
    process.setProgram(m_program);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PRADELUX_RENDER_SOCKET"), m_socket);
    process.setProcessEnvironment(env);
    // Nothing of the terminal it may have been started from: it outlives
    // the run, and LibreOffice, in its sandbox, would read what is typed there.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(RotatedLog(m_log), QIODevice::Append);
    // It must never keep a removable disk busy.
    process.setWorkingDirectory(QStringLiteral("/"));
    // A session of its own, so the application's end does not take it along.
    process.setChildProcessModifier([] { ::setsid(); });
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *why = QStringLiteral("%1 could not be started").arg(m_program);
        return nullptr;
    }
    return std::make_unique<ProcessHandle>(pid);
}

void WarmRenderer::prestart()
{
    if (m_starting)
        return;
    QLocalSocket socket;
    socket.connectToServer(m_socket);
    if (socket.waitForConnected(1000))
        return;
    QString why;
    m_starting = start(&why);
}

void WarmRenderer::cancelPrestart()
{
    // Told to end, it takes its sandbox along, and what it was making: it
    // is gone before this returns, so nothing of it is written after.
    if (m_starting) {
        m_starting->kill(SIGTERM);
        m_starting->waitGone(5000);
    }
    m_starting.reset();
}

bool WarmRenderer::connect(QLocalSocket& socket, QString* why) const
{
    socket.connectToServer(m_socket);
    if (socket.waitForConnected(1000)) {
        m_starting.reset();
        m_successor.reset();
        return true;
    }
    // The renderer prestart started, or the one the last renderer started
    // to take over from it, is waited for while it still runs.
    std::unique_ptr<ProcessHandle> started = std::move(m_starting);
    if (!started)
        started = std::move(m_successor);
    if (!started || started->waitGone(0))
        started = start(why);
    if (!started)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartMs) {
        socket.connectToServer(m_socket);
        if (socket.waitForConnected(200))
            return true;
        if (abandoned()) {
            started->kill(SIGKILL);
            *why = QStringLiteral("the session ended");
            return false;
        }
        if (started->waitGone(0)) {
            // Another application may have started one at the same moment.
            socket.connectToServer(m_socket);
            if (socket.waitForConnected(1000))
                return true;
            *why = LastLineOf(m_log);
            return false;
        }
        // LibreOffice's start takes a second or more; the first row waits
        // for it, so its readiness is looked for often.
        QThread::msleep(10);
    }
    *why = QStringLiteral("LibreOffice did not get ready within %1 seconds").arg(kStartMs / 1000);
    started->kill(SIGKILL);
    return false;
}

RenderedPdf WarmRenderer::render(const RenderRequest& request, const QString& workFolder) const
{
    const QString output = workFolder + QStringLiteral("/deck.pdf");
    for (int attempt = 1;; ++attempt) {
        QLocalSocket socket;
        QString why;
        if (!connect(socket, &why))
            throw Failure(failure::kAutomationError,
                          QStringLiteral("%1 could not be printed: LibreOffice could not be started (%2).")
                              .arg(request.presentation, why));
        // The request names no folder: the PDF comes back as a descriptor.
        socket.write(
            Request{request.presentation, request.links, PdfFilterData(request), request.isolated, request.passwords}
                .line());
        socket.flush();
        // The answer is read from the socket itself, so that the descriptor
        // beside it is taken.
        const int fd = static_cast<int>(socket.socketDescriptor());

        // The renderer's memory, its sandbox's included, is watched while it
        // works. It is held by a handle while it is surely the process at the
        // other end: once it has ended, its id may name another process.
        const qint64 renderer = peerOf(socket);
        const ProcessHandle process(renderer);
        QElapsedTimer clock;
        clock.start();
        Stop stop = Stop::None;
        AnswerReader answer;
        // The answer is waited for before the first look at the memory: a
        // small deck's comes before it, and the look reads every process of
        // the renderer's tree.
        do {
            // Never a negative wait, which would be one without end: the
            // watch itself may take the rest of the time.
            answer.read(fd, static_cast<int>(qBound<qint64>(0, m_timeoutMs - clock.elapsed(), qint64(kWatchMs))));
        } while (!answer.done() && clock.elapsed() < m_timeoutMs && (stop = mustStop(renderer, 0)) == Stop::None);
        if (!answer.complete()) {
            const bool hung = !answer.closed();
            // It goes with its whole tree (its sandbox's memory file systems
            // included) before the next row looks for a renderer: that row
            // gets a fresh one.
            KillTree(renderer);
            if (stop != Stop::None || hung)
                throwStopped(stop == Stop::None ? Stop::Time : stop, request.presentation, m_timeoutMs);
            // No answer, and the connection reset: a renderer that was ending
            // (idle, or making way for a fresh one) as the request came, or one
            // whose LibreOffice crashed. Tried once more on a fresh one.
            if (attempt == 1)
                continue;
            ThrowCrashed(request.presentation, QStringLiteral("crashed"));
        }
        const std::optional<boundary::Answer> said = boundary::Answer::read(answer.line());
        // A renderer that serves no further row may have started the one
        // that takes over from it.
        if (said && said->successor > 0)
            m_successor = std::make_unique<ProcessHandle>(said->successor);
        if (!said || said->result != Result::Printed) {
            if (said && said->result == Result::NotAPresentation)
                throw Failure(failure::kAutomationError,
                              QStringLiteral("LibreOffice could not print %1: it is not a presentation.")
                                  .arg(request.presentation));
            if (said && said->result == Result::TooLarge)
                ThrowTooLarge(request.presentation, PdfSizeLimit());
            if (said && said->result == Result::WrongPassword)
                ThrowWrongPassword(request.presentation);
            ThrowUnreadable(request.presentation);
        }
        RenderedPdf rendered = TakePdfFrom(answer.takeDescriptor(), output, request.presentation,
                                           PageCounterBeside(m_program), {request.letters});
        rendered.standIns = said->standIns;
        return rendered;
    }
}

} // namespace pradelux::render::client
