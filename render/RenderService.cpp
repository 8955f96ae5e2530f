// pradelux-render's service.
#include "RenderService.h"

#include "Files.h"
#include "Renderer.h"
#include "Sandbox.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
} // namespace

RenderService::RenderService(QString socketPath, sandbox::Root& root, int worker, int output, RenderLimits limits,
                             qint64 predecessor)
    : m_socketPath(std::move(socketPath)), m_root(root), m_worker(worker), m_output(output),
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
        if (answers(m_socketPath)) {
            *why = answering;
            return false;
        }
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
    while (!client->canReadLine() && client->waitForReadyRead(kRequestWaitMs)) {
    }
    bool workerGone = false;
    if (client->canReadLine()) {
        const QByteArray answer = render(client->readLine());
        workerGone = answer.isEmpty();
        // A renderer that serves no further row stops listening before it
        // answers: the next row finds the one that takes over, or none.
        if (workerGone || m_outOfStep || m_last)
            finish();
        client->write(answer);
        client->waitForBytesWritten(kRequestWaitMs);
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

QByteArray RenderService::render(const QByteArray& received)
{
    const QJsonObject request = QJsonDocument::fromJson(received).object();
    // A presentation that is a link, or lies below one, is shown by its
    // real path: the link would lead nowhere inside the sandbox.
    const QString named = request.value(QStringLiteral("presentation")).toString();
    const QString presentation = QFileInfo(named).canonicalFilePath();
    const QString pdf = request.value(QStringLiteral("pdf")).toString();
    if (named.isEmpty() || pdf.isEmpty() || !QFileInfo(named).isAbsolute() || !QFileInfo(pdf).isAbsolute())
        return reply(false, QStringLiteral("request"));
    if (presentation.isEmpty())
        return reply(false, QStringLiteral("load"));
    // A LibreOffice is shown one folder (or one presentation shown alone)
    // and never another: what a deck there did to it reaches no deck of
    // another folder. Such a row gets no answer here, and the client tries
    // it once more on a fresh renderer, which this one makes way for.
    // A row to be printed alone is served only by a LibreOffice that
    // printed nothing before, and it is the last this one serves.
    const QString shown = sandbox::ShownPath(presentation);
    const bool alone = request.value(QStringLiteral("alone")).toBool();
    if (m_documents > 0 && (alone || shown != m_shown))
        return QByteArray();
    m_shown = shown;
    m_last = alone || m_documents + 1 >= m_limits.maxDocuments;
    // The one that takes over loads while this row renders.
    const qint64 successor = m_last ? startSuccessor() : 0;
    QJsonObject forwarded = request;
    forwarded.insert(QStringLiteral("presentation"), presentation);
    forwarded.insert(QStringLiteral("id"), ++m_request);
    m_drain.allowMore();
    ++m_documents;
    // LibreOffice sees the presentation (and its folder) and the folder the
    // PDF goes to for as long as this rendering lasts.
    QString why;
    if (!m_root.show(presentation, QFileInfo(pdf).absolutePath(), &why))
        return reply(false, why);
    const QByteArray line = QJsonDocument(forwarded).toJson(QJsonDocument::Compact) + '\n';
    const bool sent = ::send(m_worker, line.constData(), static_cast<size_t>(line.size()), MSG_NOSIGNAL) == line.size();
    QByteArray answer = sent ? ReadAnswerLine(m_worker, &m_buffer, &m_drain) : QByteArray();
    m_root.hide();
    // An answer is taken only if it answers this request, and nothing came
    // beside it; a worker that says anything else is not trusted again.
    if (!AnswersRequest(answer, m_request, m_buffer)) {
        m_outOfStep = true;
        return answer.isEmpty() ? QByteArray() : reply(false, QStringLiteral("out of step"));
    }
    // Passed on in words of the service's own: whether it printed, and why not.
    const QJsonObject said = QJsonDocument::fromJson(answer).object();
    if (said.value(QStringLiteral("ok")).toBool())
        return reply(true, QString(), successor);
    const QString error = said.value(QStringLiteral("error")).toString();
    return reply(false, error == QLatin1String("type") ? error : QStringLiteral("load"), successor);
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
    if (!roomForAnother())
        return 0;
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray after = QByteArray::number(::getpid());
    char* const argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--after"),
                          const_cast<char*>(after.constData()), nullptr};
    int ids[2];
    if (::pipe2(ids, O_CLOEXEC) != 0)
        return 0;
    // Started twice removed, in a session of its own, so that it is no
    // process of this one's tree: it is neither counted in this renderer's
    // memory nor ended with it. Its error output is this one's log.
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::setsid();
        const pid_t successor = ::fork();
        if (successor == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            // Nothing of this renderer's but its log.
            ::syscall(SYS_close_range, 3U, ~0U, 0U);
            ::chdir("/");
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        const qint64 id = successor;
        ::write(ids[1], &id, sizeof id);
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
