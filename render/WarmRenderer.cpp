// Renders through pradelux-render.
#include "WarmRenderer.h"

#include "Failure.h"
#include "Files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <unistd.h>

namespace pradelux::office {

namespace {
// LibreOffice takes about a second to load; a slow machine gets much longer.
constexpr int kStartMs = 60000;
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
        folder = QDir::tempPath() + QStringLiteral("/pradelux-render-%1").arg(::geteuid());
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QByteArray session =
        QCryptographicHash::hash(qgetenv("DBUS_SESSION_BUS_ADDRESS"), QCryptographicHash::Sha1).toHex().left(12);
    return folder + QStringLiteral("/pradelux-render-") + QString::fromLatin1(session);
}

bool WarmRenderer::connect(QLocalSocket& socket, QString* why) const
{
    socket.connectToServer(m_socket);
    if (socket.waitForConnected(1000))
        return true;
    QDir().mkpath(QFileInfo(m_log).absolutePath());
    QProcess process;
    process.setProgram(m_program);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PRADELUX_RENDER_SOCKET"), m_socket);
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(m_log, QIODevice::Append);
    // A session of its own, so the application's end does not take it along.
    process.setChildProcessModifier([] { ::setsid(); });
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        *why = QStringLiteral("%1 could not be started").arg(m_program);
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartMs) {
        socket.connectToServer(m_socket);
        if (socket.waitForConnected(200))
            return true;
        if (::kill(static_cast<pid_t>(pid), 0) != 0) {
            // Another application may have started one at the same moment.
            socket.connectToServer(m_socket);
            if (socket.waitForConnected(1000))
                return true;
            *why = LastLineOf(m_log);
            return false;
        }
        QThread::msleep(50);
    }
    *why = QStringLiteral("LibreOffice did not get ready within %1 seconds").arg(kStartMs / 1000);
    stop();
    return false;
}

void WarmRenderer::stop() const
{
    QFile pidFile(RenderPidFile(m_socket));
    if (pidFile.open(QIODevice::ReadOnly)) {
        const pid_t pid = static_cast<pid_t>(pidFile.readAll().trimmed().toLongLong());
        if (pid > 0)
            ::kill(pid, SIGKILL);
    }
    QFile::remove(RenderPidFile(m_socket));
    QFile::remove(m_socket);
}

QString WarmRenderer::render(const RenderRequest& request, const QString& workFolder) const
{
    const QString output = workFolder + QStringLiteral("/deck.pdf");
    QFile::remove(output);
    QLocalSocket socket;
    QString why;
    if (!connect(socket, &why))
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 could not be printed: LibreOffice could not be started (%2).")
                          .arg(request.presentation, why));
    const QJsonObject message{{QStringLiteral("presentation"), request.presentation},
                              {QStringLiteral("pdf"), output},
                              {QStringLiteral("hiddenSlides"), request.hiddenSlides},
                              {QStringLiteral("notesPages"), request.notesPages}};
    socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();

    QElapsedTimer clock;
    clock.start();
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState && clock.elapsed() < m_timeoutMs)
        socket.waitForReadyRead(static_cast<int>(qMin<qint64>(1000, m_timeoutMs - clock.elapsed())));
    if (!socket.canReadLine()) {
        const bool hung = socket.state() == QLocalSocket::ConnectedState;
        stop();
        QFile::remove(output);
        if (hung)
            ThrowTimedOut(request.presentation, m_timeoutMs);
        ThrowCrashed(request.presentation, QStringLiteral("crashed"));
    }
    const QJsonObject answer = QJsonDocument::fromJson(socket.readLine()).object();
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        QFile::remove(output);
        if (answer.value(QStringLiteral("error")).toString() == QLatin1String("type"))
            throw Failure(failure::kAutomationError,
                          QStringLiteral("LibreOffice could not print %1: it is not a presentation.")
                              .arg(request.presentation));
        ThrowUnreadable(request.presentation);
    }
    return CheckedPdf(output, request.presentation);
}

} // namespace pradelux::office
