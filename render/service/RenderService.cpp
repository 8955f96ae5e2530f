// pradelux-render's service.
#include "RenderService.h"

#include "Files.h"
#include "ProcessTree.h"
#include "Root.h"
#include "Service.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::render::service {

using namespace boundary;

namespace {
// A request line is short; a client that sends nothing in this time is dropped.
constexpr int kRequestWaitMs = 5000;
// A request names a presentation and the files it links.
constexpr qint64 kRequestMax = 1 << 20;

bool programReplaced()
{
    char target[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    return n > 0 && QByteArrayView(target, n).endsWith(" (deleted)");
}

} // namespace

bool PeerIsOutside(int socket)
{
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid() || peer.pid <= 0)
        return false;
    // Every sandbox has a process namespace of its own below this one's, and
    // nothing inside may make another: a process there has an id in each
    // namespace from the host's down to its own, one more than a process
    // beside this one. (What the status tells needs no right to trace it,
    // which this process, in a user namespace of its own, has over none.)
    const auto depth = [](const QByteArray& status) {
        QFile file(QString::fromLatin1(status));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("NSpid:"))
                return static_cast<int>(line.mid(6).simplified().split(' ').size());
        }
        return -1;
    };
    const int own = depth("/proc/self/status");
    return own > 0 && depth("/proc/" + QByteArray::number(peer.pid) + "/status") == own;
}

RenderService::RenderService(QString socketPath, Root& root, int worker, int output, RenderLimits limits,
                             qint64 predecessor, int launcher)
    : m_socketPath(std::move(socketPath)), m_root(root), m_worker(worker), m_output(output), m_launcher(launcher),
      m_drain(output, STDERR_FILENO), m_outputReady(output, QSocketNotifier::Read), m_limits(limits),
      m_predecessor(predecessor)
{
    // What LibreOffice says goes to the log, up to a bound; the rest is
    // read and dropped.
    connect(&m_outputReady, &QSocketNotifier::activated, this, [this] {
        if (!m_drain.drain())
            m_outputReady.setEnabled(false);
    });
    m_idle.setSingleShot(true);
    m_idle.setInterval(m_limits.idleMs);
    connect(&m_idle, &QTimer::timeout, this, &RenderService::finish);
    // The renderer belongs to one session: when its bus goes, so does it.
    // A renderer whose program was replaced or removed (an upgrade, a purge)
    // makes way for the new one once it is idle.
    m_sessionCheck.setInterval(2000);
    connect(&m_sessionCheck, &QTimer::timeout, this, [this] {
        if ((m_watchBus && !QDBusConnection::sessionBus().isConnected()) || programReplaced())
            finish();
    });
    connect(&m_listening, &QSocketNotifier::activated, this, [this] {
        for (int client; !m_finished && (client = ::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            serve(client);
    });
}

RenderService::~RenderService() {}

bool RenderService::start(QString* why)
{
    const QString answering = QStringLiteral("another renderer already answers on %1").arg(m_socketPath);
    if (m_predecessor == 0 && LocalSocketAnswers(m_socketPath)) {
        *why = answering;
        return false;
    }
    const std::optional<Ready> ready = Ready::read(ReadLine(m_worker.get(), &m_buffer, kAnswerMax, &m_drain));
    if (!ready || !ready->ready) {
        *why = ready && !ready->error.isEmpty() ? ready->error : QStringLiteral("LibreOffice ended in its sandbox");
        return false;
    }
    if (m_predecessor != 0) {
        // Started ahead for a session that has ended meanwhile (a run's
        // private bus goes with the run): nobody will come.
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && !QDBusConnection::sessionBus().isConnected()) {
            *why = QStringLiteral("the session ended before this renderer was needed");
            return false;
        }
        WaitForPredecessor(m_predecessor, m_socketPath, m_limits.idleMs);
    }
    // Another may have begun to listen while LibreOffice loaded here (one
    // started ahead for a run that has ended, and one started for the next
    // run): the later would take the socket's name from the earlier between
    // two rows of one folder.
    if (LocalSocketAnswers(m_socketPath)) {
        *why = answering;
        return false;
    }
    // The renderers' own folder in the temporary folder goes with the last
    // of them, which may be the one this one replaces, ending as it starts:
    // made again (twice at most, should it go in between), and used only
    // while it is a folder of this user's alone.
    const QFileInfo folder(QFileInfo(m_socketPath).path());
    const bool ours = folder.fileName().startsWith(QLatin1String("pradelux-render-"));
    const QByteArray path = QFile::encodeName(m_socketPath);
    for (int attempt = 0; attempt < 2 && m_listener.get() < 0; ++attempt) {
        if (ours && !PrivateFolder(folder.filePath())) {
            *why = QStringLiteral("%1 is not a folder of this user's alone").arg(folder.filePath());
            return false;
        }
        ::unlink(path.constData());
        m_listener.reset(ListenLocal(m_socketPath));
    }
    if (m_listener.get() < 0) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(m_socketPath, ReasonOf(errno));
        return false;
    }
    m_listening.setSocket(m_listener.get());
    m_listening.setEnabled(true);
    m_idle.start();
    m_watchBus = QDBusConnection::sessionBus().isConnected();
    m_sessionCheck.start();
    return true;
}

void RenderService::serve(int fd)
{
    const UniqueFd client(fd);
    m_idle.stop();
    // Only a process outside every sandbox, of this user's, is served: code
    // running as LibreOffice that reaches this socket gets nothing.
    const QByteArray line =
        PeerIsOutside(client.get()) ? ReadLineWithin(client.get(), kRequestWaitMs, kRequestMax) : QByteArray();
    if (line.endsWith('\n')) {
        UniqueFd pdf;
        const std::optional<Request> request = Request::read(line);
        const std::optional<Answer> answer = request ? render(*request, &pdf) : Answer{Result::BadRequest, 0, {}};
        // A renderer that serves no further row stops listening before it
        // answers: the next row finds the one that takes over, or none.
        if (!answer || m_outOfStep || m_last)
            finish();
        // The PDF goes with the answer, as a descriptor: the client never
        // names a folder, and none of its own is shown.
        if (answer)
            SendWith(client.get(), answer->line(), pdf.get());
    }
    m_idle.start();
    // One that has grown large makes way for a fresh one too (one that
    // crashed, or served its last row, has already): the next request
    // starts it.
    if (!m_finished && TreeMemory(::getpid()) > m_limits.maxResidentBytes)
        finish();
}

std::optional<Answer> RenderService::render(const Request& request, UniqueFd* pdf)
{
    if (!QFileInfo(request.presentation).isAbsolute())
        return Answer{Result::BadRequest, 0, {}};
    Deck deck;
    QString why;
    if (!deck.open(request.presentation, request.links, &why))
        return Answer{Result::NotLoaded, 0, {}};
    // A LibreOffice is shown the files of one folder, known by its device
    // and inode, and never another's: what a deck there did to it reaches no
    // deck of another folder, whatever the folders are called meanwhile.
    // Such a row gets no answer here, and the client tries it once more on
    // a fresh renderer, which this one makes way for. A row to be printed
    // alone is served only by a LibreOffice that printed nothing before, and
    // it is the last this one serves.
    if (m_documents > 0 && (request.alone || !(deck.folder() == m_folder)))
        return std::nullopt;
    m_folder = deck.folder();
    m_last = request.alone || m_documents + 1 >= m_limits.maxDocuments;
    // The one that takes over loads while this row renders.
    const qint64 successor = m_last ? StartSuccessor(m_launcher.get()) : 0;
    // A job's number is drawn at random: nothing inside can answer one
    // ahead of time.
    const Job job{qint64(QRandomGenerator::system()->bounded(quint64(1) << 52)) + 1, deck.path(),
                  QString::fromLatin1(kInsideOutput) + QStringLiteral("/deck.pdf"), request.filter, request.passwords};
    const QString folder = m_root.newJobFolder();
    m_drain.allowMore();
    ++m_documents;
    // LibreOffice sees the presentation, the files it links and an empty
    // folder for its PDF for as long as this rendering lasts.
    if (folder.isEmpty() || !m_root.show(deck, folder, &why)) {
        if (!folder.isEmpty())
            RemoveTree(folder);
        std::fprintf(stderr, "pradelux-render: %s\n", qPrintable(why));
        return Answer{Result::NotLoaded, successor, {}};
    }
    const QByteArray line = job.line();
    const bool sent =
        ::send(m_worker.get(), line.constData(), static_cast<size_t>(line.size()), MSG_NOSIGNAL) == line.size();
    const QByteArray said = sent ? ReadLine(m_worker.get(), &m_buffer, kAnswerMax, &m_drain) : QByteArray();
    m_root.hide();
    // What the rendering wrote, under any name, counts against the bound.
    const bool tooLarge = TreeBytes(folder) > PdfSizeLimit();
    UniqueFd made(::open(QFile::encodeName(folder + QStringLiteral("/deck.pdf")).constData(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    // Looked at while it still has its name: one link, and no other.
    struct stat st = {};
    const bool sound = made.get() >= 0 && ::fstat(made.get(), &st) == 0 && PdfFileSound(st, 1);
    RemoveTree(folder);
    // What the worker said is taken only if it answers this job, and
    // nothing came beside it; a worker that says anything else is not
    // trusted again.
    const std::optional<Done> done = Done::read(said);
    Result result = Result::Printed;
    if (!done || done->id != job.id || !m_buffer.isEmpty()) {
        m_outOfStep = true;
        result = Result::OutOfStep;
    } else if (tooLarge) {
        result = Result::TooLarge;
    } else if (done->result != Result::Printed) {
        // Only a worker given passwords can say none of them opened it.
        result = done->result == Result::NotAPresentation                                ? Result::NotAPresentation
                 : done->result == Result::WrongPassword && !request.passwords.isEmpty() ? Result::WrongPassword
                                                                                         : Result::NotLoaded;
    } else if (!sound) {
        result = Result::NotLoaded;
    }
    if (result != Result::Printed) {
        if (said.isEmpty())
            return std::nullopt;
        return Answer{result, successor, {}};
    }
    *pdf = std::move(made);
    // The fonts that stood in, as the worker said them: words for the
    // report, never acted on.
    return Answer{Result::Printed, successor, done->standIns};
}

void RenderService::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_listener.get() >= 0) {
        m_listening.setEnabled(false);
        m_listener.reset();
        ::unlink(QFile::encodeName(m_socketPath).constData());
    }
    // A folder of the renderers' own in the temporary folder (where there
    // is no runtime folder) goes with the last of them.
    const QFileInfo folder(QFileInfo(m_socketPath).path());
    if (folder.fileName().startsWith(QLatin1String("pradelux-render-")))
        ::rmdir(QFile::encodeName(folder.filePath()).constData());
    emit finished();
}

} // namespace pradelux::render::service
