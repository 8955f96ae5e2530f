// pradelux-render's service.
#include "RenderService.h"

#include "Renderer.h"
#include "Sandbox.h"

#include <QDBusConnection>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

#include <sys/socket.h>
#include <sys/stat.h>
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

QByteArray reply(bool ok, const QString& error = QString())
{
    QJsonObject o{{QStringLiteral("ok"), ok}};
    if (!ok)
        o.insert(QStringLiteral("error"), error);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}
} // namespace

RenderService::RenderService(QString socketPath, sandbox::Root& root, int worker, int output, RenderLimits limits)
    : m_socketPath(std::move(socketPath)), m_root(root), m_worker(worker), m_output(output),
      m_drain(output, STDERR_FILENO), m_outputReady(output, QSocketNotifier::Read), m_limits(limits)
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
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(500)) {
        *why = QStringLiteral("another renderer already answers on %1").arg(m_socketPath);
        return false;
    }
    const QJsonObject ready = QJsonDocument::fromJson(ReadAnswerLine(m_worker, &m_buffer, &m_drain)).object();
    if (!ready.value(QStringLiteral("ready")).toBool()) {
        *why = ready.value(QStringLiteral("error")).toString(QStringLiteral("LibreOffice ended in its sandbox"));
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
    while (!client->canReadLine() && client->waitForReadyRead(kRequestWaitMs)) {
    }
    bool workerGone = false;
    if (client->canReadLine()) {
        const QByteArray answer = render(client->readLine());
        workerGone = answer.isEmpty();
        client->write(answer);
        client->waitForBytesWritten(kRequestWaitMs);
    }
    client->disconnectFromServer();
    client->deleteLater();
    m_idle.start();
    // A LibreOffice that crashed is never trusted with the next presentation;
    // one that has done much, or grown large, makes way for a fresh one: the
    // next request starts it.
    if (workerGone || m_outOfStep || m_documents >= m_limits.maxDocuments ||
        TreeMemory(::getpid()) > m_limits.maxResidentBytes)
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
    const QString shown = sandbox::ShownPath(presentation);
    if (m_documents > 0 && shown != m_shown)
        return QByteArray();
    m_shown = shown;
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
        return reply(true);
    const QString error = said.value(QStringLiteral("error")).toString();
    return reply(false, error == QLatin1String("type") ? error : QStringLiteral("load"));
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
