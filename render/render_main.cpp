// pradelux-render: keeps one LibreOffice loaded for the presentation
// application of this session, so that printing a presentation does not
// start LibreOffice afresh. Started on demand by the application; ends by
// itself after an idle time, after many documents, past its memory ceiling,
// or when the session bus goes away. LibreOffice runs inside the sandbox.
//
// pradelux-render --run-sandboxed PRESENTATION OUTFOLDER PROFILE -- PROGRAM
// ARGUMENTS... runs a LibreOffice started afresh in the same sandbox.
#include "HiddenDocuments.h"
#include "RenderService.h"
#include "Renderer.h"
#include "Sandbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The session bus's socket, when it is a file: the renderer watches the bus
// from inside the sandbox.
QString busSocket()
{
    for (const QString& part : qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").split(QLatin1Char(','))) {
        const int at = part.indexOf(QLatin1String("path="));
        if (at >= 0)
            return part.mid(at + 5);
    }
    return QString();
}

int runSandboxed(int argc, char* argv[])
{
    if (argc < 7 || std::strcmp(argv[5], "--") != 0) {
        std::fputs("pradelux-render --run-sandboxed PRESENTATION OUTFOLDER PROFILE -- PROGRAM ARGUMENTS...\n", stderr);
        return 2;
    }
    const QString presentation = QFile::decodeName(argv[2]);
    pradelux::office::sandbox::Plan plan;
    plan.writable = {QFile::decodeName(argv[3]), QFile::decodeName(argv[4])};
    plan.shown = {presentation};
    plan.readable = {QFileInfo(QFileInfo(QFile::decodeName(argv[6])).canonicalFilePath()).absolutePath()};
    QString why;
    if (!pradelux::office::sandbox::Enter(plan, &why)) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return 5;
    }
    ::execv(argv[6], argv + 6);
    std::fprintf(stderr, "pradelux-render: %s could not be started: %s\n", argv[6], std::strerror(errno));
    return 6;
}

} // namespace

int main(int argc, char* argv[])
{
    // The sandbox is entered first, while this process has a single thread.
    if (argc > 1 && std::strcmp(argv[1], "--run-sandboxed") == 0)
        return runSandboxed(argc, argv);
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
    const QString program = QFileInfo(QFileInfo(soffice).canonicalFilePath()).absolutePath();
    // LibreOffice's interface, loaded while this program's folder can still be seen.
    const QString hidden = pradelux::office::HiddenDocuments::preload(
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath() +
            QStringLiteral("/pradelux-hidden.so"),
        program);
    if (!hidden.isEmpty())
        err << "pradelux-render: " << hidden << Qt::endl;
    const QString profile = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                            QStringLiteral("/pradelux-office/render-profile");
    pradelux::office::PrepareProfile(profile);
    pradelux::office::sandbox::Plan plan;
    plan.writable = {profile, QFileInfo(socket).absolutePath(), busSocket()};
    plan.readable = {program};
    plan.helper = true;
    QString why;
    if (!pradelux::office::sandbox::Enter(plan, &why)) {
        err << "pradelux-render: LibreOffice cannot be run safely here: " << why << Qt::endl;
        return 5;
    }

    QCoreApplication app(argc, argv);
    pradelux::office::RenderLimits limits;
    bool ok = false;
    const int idle = qEnvironmentVariableIntValue("PRADELUX_RENDER_IDLE", &ok);
    if (ok && idle > 0)
        limits.idleMs = idle * 1000;
    const int documents = qEnvironmentVariableIntValue("PRADELUX_RENDER_MAX_DOCUMENTS", &ok);
    if (ok && documents > 0)
        limits.maxDocuments = documents;
    pradelux::office::RenderService service(socket, program, profile, limits);
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
