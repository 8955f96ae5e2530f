// pradelux-office: the presentation application the program drives. It is
// started on demand by the first client that creates "PowerPoint.Application"
// and ends when its last client lets go, or when told to quit.
#include "ChildProcess.h"
#include "LibreOffice.h"
#include "PdfWriterPort.h"
#include "PowerPointServer.h"
#include "Printers.h"
#include "ProfileTemplate.h"
#include "Registry.h"
#include "Renderer.h"
#include "SandboxCheck.h"
#include "WarmRenderer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

int main(int argc, char* argv[])
{
    // Started in the background by a program that held Ctrl+C and SIGTERM
    // back for itself: this server still ends when told to.
    pradelux::UnblockInterrupts();
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    const QString soffice = pradelux::render::boundary::FindSoffice();
    if (soffice.isEmpty()) {
        err << "pradelux-office: " << pradelux::render::boundary::MissingSofficeText() << Qt::endl;
        return 3;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        err << "pradelux-office: there is no session bus (" << bus.lastError().message()
            << "). Start Pradelux inside a desktop session, or install dbus-user-session." << Qt::endl;
        return 4;
    }

    bool ok = false;
    int timeoutSeconds = qEnvironmentVariableIntValue("PRADELUX_OFFICE_RENDER_TIMEOUT", &ok);
    if (!ok || timeoutSeconds <= 0)
        timeoutSeconds = 120;
    const QString profile = pradelux::render::boundary::DefaultProfileTemplate();

    pradelux::FileRegistry registry;
    pradelux::UserPrinters printers;
    // LibreOffice stays loaded in pradelux-render across presentations;
    // PRADELUX_OFFICE_RENDERER=soffice starts it afresh for each instead.
    const QString cache =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/pradelux-office");
    pradelux::render::client::Renderer coldRenderer(soffice, profile, timeoutSeconds * 1000,
                                                    QCoreApplication::applicationDirPath() +
                                                        QStringLiteral("/pradelux-render"));
    pradelux::render::client::WarmRenderer warmRenderer(QCoreApplication::applicationDirPath() +
                                                            QStringLiteral("/pradelux-render"),
                                                        pradelux::render::client::WarmRenderer::defaultSocketPath(),
                                                        timeoutSeconds * 1000, cache + QStringLiteral("/render.log"));
    const bool cold = qEnvironmentVariable("PRADELUX_OFFICE_RENDERER") == QLatin1String("soffice");
    pradelux::render::client::PdfRenderer& renderer =
        cold ? static_cast<pradelux::render::client::PdfRenderer&>(coldRenderer) : warmRenderer;
    // LibreOffice loads while the sandbox is checked and the application
    // gets ready: the first presentation comes within a fraction of a second.
    if (!cold)
        warmRenderer.prestart();
    // Nothing is ever rendered outside the sandbox: where none can be made,
    // the application does not start, and says why once. One is made to see
    // whether it can be only where that was not seen under the same
    // conditions before.
    if (!pradelux::render::boundary::KnownToWork()) {
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pradelux-render"),
                    {QStringLiteral("--check-sandbox")});
        if (!check.waitForFinished(30000) || check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) {
            const QString said = QString::fromLocal8Bit(check.readAll()).trimmed();
            err << "pradelux-office: "
                << (said.isEmpty() ? QStringLiteral("pradelux-render could not check LibreOffice's sandbox.") : said)
                << Qt::endl;
            warmRenderer.cancelPrestart();
            return 5;
        }
        pradelux::render::boundary::RememberWorks();
    }
    pradelux::office::PdfWriterPort port(registry, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    pradelux::office::PowerPointServer server(bus, printers, renderer, port, registry);
    // A session bus that has gone, or an application that is ending, leaves
    // no one to take a PDF: a rendering or a renderer's start that is waited
    // for ends at once.
    for (pradelux::render::client::PdfRenderer* r :
         {static_cast<pradelux::render::client::PdfRenderer*>(&coldRenderer),
          static_cast<pradelux::render::client::PdfRenderer*>(&warmRenderer)})
        r->setAbandoned([&bus, &server] { return !bus.isConnected() || server.ending(); });
    QObject::connect(&server, &pradelux::office::PowerPointServer::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!server.start()) {
        err << "pradelux-office: another presentation application is already running." << Qt::endl;
        warmRenderer.cancelPrestart();
        return 2;
    }
    const int status = app.exec();
    // An application that printed nothing (a check that it can be started)
    // leaves no LibreOffice behind that nobody will print with.
    warmRenderer.cancelPrestart();
    return status;
}
