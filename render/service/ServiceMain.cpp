// The renderer kept for a session: it keeps one LibreOffice loaded for the
// presentation application, so that printing a presentation does not start
// LibreOffice afresh. Started on demand by the application; ends by itself
// after an idle time, after many documents, past its memory ceiling, or when
// the session bus goes away. This process stays outside the sandbox;
// LibreOffice runs in a second one inside it (pradelux-inside
// --render-worker FD PROGRAM PROFILE).
#include "ChildProcess.h"
#include "Files.h"
#include "LibreOffice.h"
#include "ProfileTemplate.h"
#include "Protocol.h"
#include "RenderService.h"
#include "Root.h"
#include "SandboxCheck.h"
#include "Service.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pradelux::render::service {

namespace {
// The sandbox's root and the PDFs' folder beside it, removed when this
// process is told to end.
char g_root[4096];
char g_jobs[4096];

void endOnTerm(int)
{
    ::umount2(g_root, MNT_DETACH);
    ::rmdir(g_root);
    ::umount2(g_jobs, MNT_DETACH);
    ::rmdir(g_jobs);
    ::_exit(0);
}

QString ownFolder()
{
    return ProgramFolderOf(QStringLiteral("/proc/self/exe"));
}
} // namespace

int RunService(int argc, char* argv[], qint64 predecessor, int launcherSocket)
{
    // Started in the background: told to end, it ends, taking its sandbox.
    pradelux::UnblockInterrupts();
    QTextStream err(stderr);
    const QString socket = qEnvironmentVariable("PRADELUX_RENDER_SOCKET");
    if (socket.isEmpty()) {
        err << "pradelux-render: PRADELUX_RENDER_SOCKET names no socket; the presentation application starts me."
            << Qt::endl;
        return 2;
    }
    const QString soffice = boundary::FindSoffice();
    if (soffice.isEmpty()) {
        err << "pradelux-render: " << boundary::MissingSofficeText() << Qt::endl;
        return 3;
    }
    const QString program = ProgramFolderOf(soffice);
    const QString profile = boundary::DefaultProfileTemplate();
    QString why;
    // Told to end while the profile's template is made, it gives that up
    // and leaves nothing half made.
    struct sigaction stop = {};
    stop.sa_handler = [](int) { boundary::StopProfileMaking(); };
    ::sigaction(SIGTERM, &stop, nullptr);
    if (!boundary::EnsureProfileTemplate(profile, soffice, ownFolder() + QStringLiteral("/pradelux-render"), &why)) {
        if (boundary::ProfileMakingStopped())
            return 0;
        err << "pradelux-render: " << why << Qt::endl;
        return 5;
    }
    // From here on, told to end, it ends at once, taking its sandbox.
    struct sigaction term = {};
    term.sa_handler = endOnTerm;
    ::sigaction(SIGTERM, &term, nullptr);
    if (boundary::ProfileMakingStopped())
        return 0;
    // Before this process leaves the namespaces it was started in.
    const int launcher = launcherSocket >= 0 ? launcherSocket : StartLauncher();
    if (launcher >= 0)
        ::fcntl(launcher, F_SETFD, FD_CLOEXEC);
    // Room for one PDF at its bound, and what tells that it went past it.
    std::unique_ptr<Root> root = Root::make(
        boundary::RendererPlan({program, ownFolder()}, profile, boundary::PdfSizeLimit() + (qint64(1) << 20)), &why);
    int pair[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (root && (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0 || ::pipe2(output, O_CLOEXEC) != 0))
        why = QString::fromLocal8Bit(std::strerror(errno));
    // What it says on its output and error goes to the log, up to a bound.
    const pid_t worker =
        output[1] < 0 ? -1
                      : root->start({ownFolder() + QStringLiteral("/pradelux-inside"),
                                     QStringLiteral("--render-worker"), QString::number(pair[1]), program, profile},
                                    pair[1], &why, output[1]);
    if (worker < 0) {
        boundary::ForgetWorks();
        err << "pradelux-render: LibreOffice cannot be run safely here: " << why << Qt::endl;
        return 5;
    }
    ::close(pair[1]);
    ::close(output[1]);
    // Told to end (a run's private bus ends with it), the root goes too;
    // the worker ends with this process.
    std::strncpy(g_root, root->path().constData(), sizeof g_root - 1);
    std::strncpy(g_jobs, (root->path() + ".jobs").constData(), sizeof g_jobs - 1);

    QCoreApplication app(argc, argv);
    RenderLimits limits;
    bool ok = false;
    const int idle = qEnvironmentVariableIntValue("PRADELUX_RENDER_IDLE", &ok);
    if (ok && idle > 0)
        limits.idleMs = idle * 1000;
    const int documents = qEnvironmentVariableIntValue("PRADELUX_RENDER_MAX_DOCUMENTS", &ok);
    if (ok && documents > 0)
        limits.maxDocuments = documents;
    RenderService service(socket, *root, pair[0], output[0], limits, predecessor, launcher);
    if (!service.start(&why)) {
        err << "pradelux-render: " << why << Qt::endl;
        return 4;
    }
    QObject::connect(&service, &RenderService::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    app.exec();
    // The worker ends with this process (it watches its parent); the
    // sandbox's root goes with the Root.
    return 0;
}

} // namespace pradelux::render::service
