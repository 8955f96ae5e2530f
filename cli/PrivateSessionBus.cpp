// The run's own session bus.
#include "PrivateSessionBus.h"

#include "AutomationProtocol.h"
#include "ChildProcess.h"
#include "Files.h"
#include "Interrupts.h"
#include "PdfPrinter.h"
#include "WarmRenderer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <csignal>

namespace pradelux {

PrivateSessionBus::PrivateSessionBus()
{
    // By its address: the library would remember a failed look-up of the
    // session bus and never find the private one.
    QString current = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    // A user session's bus may be known only by its place.
    const QString userBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    if (current.isEmpty() && !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo::exists(userBus)) {
        current = QStringLiteral("unix:path=") + userBus;
        qputenv("DBUS_SESSION_BUS_ADDRESS", current.toUtf8());
    }
    const QString probe = QStringLiteral("pradelux-probe");
    const bool usable = !current.isEmpty() && QDBusConnection::connectToBus(current, probe).isConnected();
    QDBusConnection::disconnectFromBus(probe);
    if (usable)
        return;
    // Ctrl+C in the terminal must not end the bus in the middle of a
    // run: this program ends it when it ends, or the kernel does when
    // this program is killed.
    m_daemon.setChildProcessModifier(DetachAndEndWithParent);
    // An abstract socket: it leaves no file behind however the run ends
    // (the daemon does not remove the one it makes in /tmp), and the
    // sandbox, with a network of its own, cannot reach it.
    const QString name = QStringLiteral("unix:abstract=pradelux-bus-%1-%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(QRandomGenerator::system()->generate64(), 0, 16);
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1"), "--address=" + name});
    QByteArray address;
    while (m_daemon.waitForStarted(5000) && !address.contains('\n') && m_daemon.waitForReadyRead(5000))
        address += m_daemon.readAllStandardOutput();
    if (!address.trimmed().isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.trimmed());
    EndWithProgram(static_cast<pid_t>(m_daemon.processId()));
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    // The application and the LibreOffice of this bus serve no one after
    // the run, so they end with it: nothing of the run may still write in
    // its folders once the program has returned (a batch task removes
    // them next).
    using render::client::WarmRenderer;
    const qint64 rendererPid = WarmRenderer::runningRenderer(WarmRenderer::defaultSocketPath());
    const ProcessHandle renderer(rendererPid);
    const auto application =
        QDBusConnection::sessionBus().interface()->servicePid(protocol::busNameFor(kPowerPointClass));
    const ProcessHandle applicationProcess(application.isValid() ? qint64(application.value()) : 0);
    // LibreOffice keeps nothing that needs saving and its own shutdown
    // is slow: the renderer only takes its sandbox down.
    renderer.kill(SIGTERM);
    if (!renderer.waitGone(1000))
        renderer.kill(SIGKILL);
    m_daemon.terminate();
    m_daemon.waitForFinished(3000);
    // The application ends by itself once its bus has gone.
    for (const ProcessHandle* process : {&renderer, &applicationProcess}) {
        if (!process->waitGone(5000))
            process->kill(SIGKILL);
    }
    if (rendererPid > 0)
        QFile::remove(WarmRenderer::defaultSocketPath());
}

} // namespace pradelux
