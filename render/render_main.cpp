// pradelux-render: keeps one LibreOffice loaded for the presentation
// application of this session, so that printing a presentation does not
// start LibreOffice afresh. Started on demand by the application; ends by
// itself after an idle time, after many documents, past its memory ceiling,
// or when the session bus goes away.
#include "RenderService.h"
#include "Renderer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdlib>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QString socket = qEnvironmentVariable("PRADELUX_RENDER_SOCKET");
    if (socket.isEmpty()) {
        err << "pradelux-render: PRADELUX_RENDER_SOCKET names no socket; the presentation application starts me."
            << Qt::endl;
        return 2;
    }
    const QString soffice = pradelux::office::Renderer::findSoffice();
    if (soffice.isEmpty()) {
        err << "pradelux-render: " << pradelux::office::Renderer::missingSofficeText() << Qt::endl;
        return 3;
    }
    pradelux::office::RenderLimits limits;
    bool ok = false;
    const int idle = qEnvironmentVariableIntValue("PRADELUX_RENDER_IDLE", &ok);
    if (ok && idle > 0)
        limits.idleMs = idle * 1000;
    const int documents = qEnvironmentVariableIntValue("PRADELUX_RENDER_MAX_DOCUMENTS", &ok);
    if (ok && documents > 0)
        limits.maxDocuments = documents;
    const QString profile = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                            QStringLiteral("/pradelux-office/render-profile");
    pradelux::office::RenderService service(socket, QFileInfo(QFileInfo(soffice).canonicalFilePath()).absolutePath(),
                                            profile, limits);
    QString why;
    if (!service.start(&why)) {
        err << "pradelux-render: " << why << Qt::endl;
        return 4;
    }
    QObject::connect(&service, &pradelux::office::RenderService::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    app.exec();
    // LibreOffice's own shutdown is slow and sometimes crashes; nothing of it
    // needs keeping, so the process ends here.
    std::_Exit(0);
}
