// pradelux-render's service.
#include "RenderService.h"

#include "Files.h"
#include "Renderer.h"
#include "Sandbox.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QRandomGenerator>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::office {

namespace {
// A request line is short; a client that sends nothing in this time is dropped.
constexpr int kRequestWaitMs = 5000;

bool programReplaced()
{
    char target[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    return n > 0 && QByteArrayView(target, n).endsWith(" (deleted)");
}

QByteArray reply(bool ok, const QString& error = QString(), qint64 successor = 0)
{
    QJsonObject o{{QStringLiteral("ok"), ok}};
    if (!ok)
        o.insert(QStringLiteral("error"), error);
    if (successor > 0)
        o.insert(QStringLiteral("successor"), successor);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// A second LibreOffice is started ahead only while the machine has this
// much memory available, and the run's own limit, where it has one, is at
// least twice as much.
constexpr qint64 kAheadMemory = 1LL << 30;

bool roomForAnother()
{
    const qint64 own = CgroupMemoryLimit();
    return AvailableMemory() >= kAheadMemory && (own <= 0 || own >= 2 * kAheadMemory);
}

bool answers(const QString& socketPath)
{
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    return probe.waitForConnected(500);
}

// Sends line, with fd beside it when it is not -1.
bool sendWith(int socket, const QByteArray& line, int fd)
{
    DescriptorMessage message;
    message.setData(const_cast<char*>(line.constData()), static_cast<size_t>(line.size()));
    if (fd >= 0)
        message.carry(fd);
    else
        message.carryNone();
    return ::sendmsg(socket, message.header(), MSG_NOSIGNAL) == line.size();
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

RenderService::RenderService(QString socketPath, sandbox::Root& root, int worker, int output, RenderLimits limits,
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
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server.nextPendingConnection())
            serve(client);
    });
}

RenderService::~RenderService()
{
    ::close(m_worker);
    ::close(m_output);
    if (m_launcher >= 0)
        ::close(m_launcher);
}

bool RenderService::start(QString* why)
{
    const QString answering = QStringLiteral("another renderer already answers on %1").arg(m_socketPath);
    if (m_predecessor == 0 && answers(m_socketPath)) {
        *why = answering;
        return false;
    }
    const QJsonObject ready = QJsonDocument::fromJson(ReadAnswerLine(m_worker, &m_buffer, &m_drain)).object();
    if (!ready.value(QStringLiteral("ready")).toBool()) {
        *why = ready.value(QStringLiteral("error")).toString(QStringLiteral("LibreOffice ended in its sandbox"));
        return false;
    }
    if (m_predecessor != 0) {
        // Started ahead for a session that has ended meanwhile (a run's
        // private bus goes with the run): nobody will come.
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") && !QDBusConnection::sessionBus().isConnected()) {
            *why = QStringLiteral("the session ended before this renderer was needed");
            return false;
        }
        waitForPredecessor();
    }
    // Another may have begun to listen while LibreOffice loaded here (one
    // started ahead for a run that has ended, and one started for the next
    // run): the later would take the socket's name from the earlier between
    // two rows of one folder.
    if (answers(m_socketPath)) {
        *why = answering;
        return false;
    }
    // The renderers' own folder in the temporary folder goes with the last
    // of them, which may be the one this one replaces, ending as it starts:
    // made again (twice at most, should it go in between), and used only
    // while it is a folder of this user's alone.
    const QFileInfo folder(QFileInfo(m_socketPath).path());
    const bool ours = folder.fileName().startsWith(QLatin1String("pradelux-render-"));
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    bool listening = false;
    for (int attempt = 0; attempt < 2 && !listening; ++attempt) {
        if (ours) {
            const QByteArray path = QFile::encodeName(folder.filePath());
            struct stat st;
            ::mkdir(path.constData(), 0700);
            if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
                (st.st_mode & 0777) != 0700) {
                *why = QStringLiteral("%1 is not a folder of this user's alone").arg(folder.filePath());
                return false;
            }
        }
        QLocalServer::removeServer(m_socketPath);
        listening = m_server.listen(m_socketPath);
    }
    if (!listening) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(m_socketPath, m_server.errorString());
        return false;
    }
    m_idle.start();
    m_watchBus = QDBusConnection::sessionBus().isConnected();
    m_sessionCheck.start();
    return true;
}

void RenderService::serve(QLocalSocket* client)
{
    m_idle.stop();
    // Only a process outside every sandbox, of this user's, is served: code
    // running as LibreOffice that reaches this socket gets nothing.
    if (!PeerIsOutside(static_cast<int>(client->socketDescriptor()))) {
        client->abort();
        client->deleteLater();
        m_idle.start();
        return;
    }
    while (!client->canReadLine() && client->waitForReadyRead(kRequestWaitMs)) {
    }
    bool workerGone = false;
    if (client->canReadLine()) {
        int pdf = -1;
        const QByteArray answer = render(client->readLine(kAnswerMax), &pdf);
        workerGone = answer.isEmpty();
        // A renderer that serves no further row stops listening before it
        // answers: the next row finds the one that takes over, or none.
        if (workerGone || m_outOfStep || m_last)
            finish();
        // The PDF goes with the answer, as a descriptor: the client never
        // names a folder, and none of its own is shown.
        if (!answer.isEmpty())
            sendWith(static_cast<int>(client->socketDescriptor()), answer, pdf);
        if (pdf >= 0)
            ::close(pdf);
    }
    client->disconnectFromServer();
    client->deleteLater();
    m_idle.start();
    // One that has grown large makes way for a fresh one too (one that
    // crashed, or served its last row, has already): the next request
    // starts it.
    if (!m_finished && TreeMemory(::getpid()) > m_limits.maxResidentBytes)
        finish();
}

QByteArray RenderService::render(const QByteArray& received, int* pdf)
{
    const QJsonObject request = QJsonDocument::fromJson(received).object();
    const QString named = request.value(QStringLiteral("presentation")).toString();
    if (named.isEmpty() || !QFileInfo(named).isAbsolute())
        return reply(false, QStringLiteral("request"));
    QStringList links;
    for (const QJsonValue& link : request.value(QStringLiteral("links")).toArray())
        links << link.toString();
    sandbox::Deck deck;
    QString why;
    if (!deck.open(named, links, &why))
        return reply(false, QStringLiteral("load"));
    // A LibreOffice is shown the files of one folder, known by its device
    // and inode, and never another's: what a deck there did to it reaches no
    // deck of another folder, whatever the folders are called meanwhile.
    // Such a row gets no answer here, and the client tries it once more on
    // a fresh renderer, which this one makes way for. A row to be printed
    // alone is served only by a LibreOffice that printed nothing before, and
    // it is the last this one serves.
    const bool alone = request.value(QStringLiteral("alone")).toBool();
    if (m_documents > 0 && (alone || !(deck.folder() == m_folder)))
        return QByteArray();
    m_folder = deck.folder();
    m_last = alone || m_documents + 1 >= m_limits.maxDocuments;
    // The one that takes over loads while this row renders.
    const qint64 successor = m_last ? startSuccessor() : 0;
    // A request's number is drawn at random: nothing inside can answer one
    // ahead of time.
    m_request = qint64(QRandomGenerator::system()->bounded(quint64(1) << 52)) + 1;
    const QString job = m_root.newJobFolder();
    const QString inside = QString::fromLatin1(sandbox::kInsideOutput) + QStringLiteral("/deck.pdf");
    const QJsonObject forwarded{{QStringLiteral("presentation"), deck.path()},
                                {QStringLiteral("pdf"), inside},
                                {QStringLiteral("filter"), request.value(QStringLiteral("filter"))},
                                {QStringLiteral("id"), m_request}};
    m_drain.allowMore();
    ++m_documents;
    // LibreOffice sees the presentation, the files it links and an empty
    // folder for its PDF for as long as this rendering lasts.
    if (job.isEmpty() || !m_root.show(deck, job, &why)) {
        if (!job.isEmpty())
            RemoveTree(job);
        return reply(false, why.isEmpty() ? QStringLiteral("load") : why);
    }
    const QByteArray line = QJsonDocument(forwarded).toJson(QJsonDocument::Compact) + '\n';
    const bool sent = ::send(m_worker, line.constData(), static_cast<size_t>(line.size()), MSG_NOSIGNAL) == line.size();
    QByteArray answer = sent ? ReadAnswerLine(m_worker, &m_buffer, &m_drain) : QByteArray();
    m_root.hide();
    // What the rendering wrote, under any name, counts against the bound.
    const bool tooLarge = TreeBytes(job) > PdfSizeLimit();
    const int made = ::open(QFile::encodeName(job + QStringLiteral("/deck.pdf")).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    // Looked at while it still has its name: one link, and no other.
    struct stat st = {};
    const bool sound = made >= 0 && ::fstat(made, &st) == 0 && PdfFileSound(st, 1);
    RemoveTree(job);
    // An answer is taken only if it answers this request, and nothing came
    // beside it; a worker that says anything else is not trusted again.
    const QJsonObject said = QJsonDocument::fromJson(answer).object();
    QString error;
    if (!AnswersRequest(answer, m_request, m_buffer)) {
        m_outOfStep = true;
        error = QStringLiteral("out of step");
    } else if (tooLarge) {
        error = QStringLiteral("size");
    } else if (!said.value(QStringLiteral("ok")).toBool()) {
        error = said.value(QStringLiteral("error")).toString() == QLatin1String("type") ? QStringLiteral("type")
                                                                                        : QStringLiteral("load");
    }
    if (error.isEmpty() && !sound)
        error = QStringLiteral("load");
    if (!error.isEmpty()) {
        if (made >= 0)
            ::close(made);
        return answer.isEmpty() ? QByteArray() : reply(false, error, successor);
    }
    *pdf = made;
    return reply(true, QString(), successor);
}

void RenderService::waitForPredecessor() const
{
    // It stops listening before it answers its last row, or ends; waited
    // for at most as long as a renderer stays without work.
    const ProcessHandle predecessor(m_predecessor);
    const QByteArray socket = QFile::encodeName(m_socketPath);
    const bool watchBus = QDBusConnection::sessionBus().isConnected();
    QElapsedTimer clock;
    clock.start();
    struct stat st;
    while (predecessor.isValid() && ::lstat(socket.constData(), &st) == 0 && clock.elapsed() < m_limits.idleMs &&
           (!watchBus || QDBusConnection::sessionBus().isConnected()) && !predecessor.waitGone(10)) {
    }
}

qint64 RenderService::startSuccessor() const
{
    if (!roomForAnother() || m_launcher < 0)
        return 0;
    // Started by the launcher, which stands outside this renderer's
    // namespaces: each renderer starts from the top, never inside the one
    // before it.
    const qint64 predecessor = ::getpid();
    qint64 id = 0;
    if (::send(m_launcher, &predecessor, sizeof predecessor, MSG_NOSIGNAL) != sizeof predecessor)
        return 0;
    pollfd p{m_launcher, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1 || ::recv(m_launcher, &id, sizeof id, 0) != sizeof id)
        return 0;
    return id > 0 ? id : 0;
}

void RenderService::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_server.close();
    QLocalServer::removeServer(m_socketPath);
    // A folder of the renderers' own in the temporary folder (where there
    // is no runtime folder) goes with the last of them.
    const QFileInfo folder(QFileInfo(m_socketPath).path());
    if (folder.fileName().startsWith(QLatin1String("pradelux-render-")))
        ::rmdir(QFile::encodeName(folder.filePath()).constData());
    emit finished();
}

} // namespace pradelux::office
