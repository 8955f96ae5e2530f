// pradelux-render's service.
#include "RenderService.h"

#include "HiddenDocuments.h"
#include "Renderer.h"
#include "Sandbox.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTextStream>
#include <QUrl>

#include <unistd.h>

namespace pradelux::office {

namespace {
// What getDocumentType answers for a presentation (LOK_DOCTYPE_PRESENTATION,
// which the headers only name with their unstable interface).
constexpr int kPresentationDocument = 2;
// A request line is short; a client that sends nothing in this time is dropped.
constexpr int kRequestWaitMs = 5000;

bool programReplaced()
{
    char target[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
    return n > 0 && QByteArrayView(target, n).endsWith(" (deleted)");
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
}

QByteArray reply(bool ok, const QString& error = QString())
{
    QJsonObject o{{QStringLiteral("ok"), ok}};
    if (!ok)
        o.insert(QStringLiteral("error"), error);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QString filterOptions(bool hiddenSlides, bool notesPages)
{
    const auto flag = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringLiteral("{\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"%1\"},"
                          "\"ExportNotesPages\":{\"type\":\"boolean\",\"value\":\"%2\"}}")
        .arg(flag(hiddenSlides), flag(notesPages));
}
} // namespace

RenderService::RenderService(QString socketPath, QString programFolder, QString profileFolder, RenderLimits limits)
    : m_socketPath(std::move(socketPath)), m_programFolder(std::move(programFolder)),
      m_profileFolder(std::move(profileFolder)), m_limits(limits)
{
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
    // LibreOffice's own shutdown can take long or fail; the process ends
    // without it (see render_main), so the office object is let go here.
    (void)m_hidden.release();
    (void)m_office.release();
}

bool RenderService::start(QString* why)
{
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(500)) {
        *why = QStringLiteral("another renderer already answers on %1").arg(m_socketPath);
        return false;
    }
    QDir().mkpath(m_profileFolder);
    m_office.reset(lok::lok_cpp_init(QFile::encodeName(m_programFolder).constData(),
                                     QUrl::fromLocalFile(m_profileFolder).toEncoded().constData()));
    if (!m_office) {
        *why = QStringLiteral("LibreOffice could not be loaded from %1").arg(m_programFolder);
        return false;
    }
    m_hidden = HiddenDocuments::attach(m_programFolder);
    if (!m_hidden)
        QTextStream(stderr) << "pradelux-render: LibreOffice's component interface is not offered; presentations "
                               "are opened with a view, which is slower."
                            << Qt::endl;
    QLocalServer::removeServer(m_socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_socketPath)) {
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
    if (client->canReadLine()) {
        client->write(render(client->readLine()));
        client->waitForBytesWritten(kRequestWaitMs);
    }
    client->disconnectFromServer();
    client->deleteLater();
    // The answer is out: LibreOffice takes the presentation down meanwhile.
    if (m_hidden)
        m_hidden->close();
    m_idle.start();
    // A renderer that has done much, or grown large, makes way for a fresh
    // one: the next request starts it.
    if (m_documents >= m_limits.maxDocuments || residentBytes() > m_limits.maxResidentBytes)
        finish();
}

QByteArray RenderService::render(const QByteArray& line)
{
    const QJsonObject request = QJsonDocument::fromJson(line).object();
    const QString presentation = request.value(QStringLiteral("presentation")).toString();
    const QString pdf = request.value(QStringLiteral("pdf")).toString();
    if (presentation.isEmpty() || pdf.isEmpty())
        return reply(false, QStringLiteral("request"));
    ++m_documents;
    QFile::remove(pdf);
    // LibreOffice sees the presentation's folder and the folder the PDF goes
    // to for as long as this rendering lasts.
    const sandbox::View view(presentation, QFileInfo(pdf).absolutePath());
    if (!view.failure().isEmpty())
        return reply(false, view.failure());
    const bool hiddenSlides = request.value(QStringLiteral("hiddenSlides")).toBool();
    const bool notesPages = request.value(QStringLiteral("notesPages")).toBool();
    if (m_hidden) {
        switch (m_hidden->print(presentation, pdf, hiddenSlides, notesPages)) {
        case HiddenDocuments::Result::Printed:
            return reply(true);
        case HiddenDocuments::Result::NotLoaded:
            return reply(false, QStringLiteral("load"));
        case HiddenDocuments::Result::NotAPresentation:
            return reply(false, QStringLiteral("type"));
        case HiddenDocuments::Result::NotSaved:
            return reply(false, QStringLiteral("save"));
        }
    }
    std::unique_ptr<lok::Document> document(
        m_office->documentLoad(QUrl::fromLocalFile(presentation).toEncoded().constData(), ""));
    if (!document)
        return reply(false, QStringLiteral("load"));
    // Whatever the file looked like, only what LibreOffice took for a
    // presentation is printed as one.
    if (document->getDocumentType() != kPresentationDocument)
        return reply(false, QStringLiteral("type"));
    const QByteArray options = filterOptions(hiddenSlides, notesPages).toUtf8();
    const bool saved = document->saveAs(QUrl::fromLocalFile(pdf).toEncoded().constData(), "pdf", options.constData());
    return saved ? reply(true) : reply(false, QStringLiteral("save"));
}

void RenderService::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_server.close();
    QLocalServer::removeServer(m_socketPath);
    emit finished();
}

} // namespace pradelux::office
