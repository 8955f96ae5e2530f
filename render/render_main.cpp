// pradelux-render: keeps one LibreOffice loaded for the presentation
// application of this session, so that printing a presentation does not
// start LibreOffice afresh. Started on demand by the application; ends by
// itself after an idle time, after many documents, past its memory ceiling,
// or when the session bus goes away. This process stays outside the
// sandbox; LibreOffice runs in a second one inside it
// (pradelux-render --render-worker FD PROGRAM PROFILE).
//
// pradelux-render --run-sandboxed PRESENTATION OUTFOLDER TEMPLATE [--link
// FILE]... -- PROGRAM ARGUMENTS... runs a LibreOffice started afresh in the
// same sandbox, shown the presentation and the files it links (named
// relative to its folder), with OUTFOLDER at the sandbox's PDF folder; there,
// pradelux-render --with-profile TEMPLATE -- PROGRAM... gives it its copy of
// the profile. pradelux-render --launcher FD starts the renderers that take
// over from this one. pradelux-render --count-pages-server counts PDFs' pages, and
// pradelux-render --make-profile FOLDER SOFFICE makes the profile's template.
#include "ChildProcess.h"
#include "ProfileTemplate.h"
#include "RenderService.h"
#include "RenderWorker.h"
#include "Renderer.h"
#include "Sandbox.h"
#include "SandboxCheck.h"
#include "TakenBack.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
}

QString programFolderOf(const QString& executable)
{
    return QFileInfo(QFileInfo(executable).canonicalFilePath()).absolutePath();
}

// Waits for the sandboxed program and answers with its exit status.
int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts pradelux-render --after PREDECESSOR twice removed, in a session of
// its own, so that it is no process of the predecessor's tree: neither
// counted in its memory nor ended with it. Its process id, or 0.
qint64 startAfter(const QByteArray& program, qint64 predecessor)
{
    const QByteArray after = QByteArray::number(predecessor);
    char* const argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--after"),
                          const_cast<char*>(after.constData()), nullptr};
    int ids[2];
    if (::pipe2(ids, O_CLOEXEC) != 0)
        return 0;
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::setsid();
        const pid_t successor = ::fork();
        if (successor == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            // Nothing of the renderer's but its log.
            ::syscall(SYS_close_range, 3U, ~0U, 0U);
            ::chdir("/");
            ::execv(argv[0], argv);
            ::_exit(127);
        }
        const qint64 id = successor;
        (void)!::write(ids[1], &id, sizeof id);
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

// pradelux-render --launcher FD: started while the renderer still stands in
// the namespaces it was started in, it starts each renderer that takes over
// from that one (asked on FD with the predecessor's id, answering with the
// new one's), so that no renderer starts inside another. It ends with the
// renderer.
int runLauncher(int socket)
{
    const QByteArray program = QFile::encodeName(ownFolder() + QStringLiteral("/pradelux-render"));
    qint64 predecessor = 0;
    while (::recv(socket, &predecessor, sizeof predecessor, 0) == sizeof predecessor) {
        const qint64 id = startAfter(program, predecessor);
        if (::send(socket, &id, sizeof id, MSG_NOSIGNAL) != sizeof id)
            break;
    }
    return 0;
}

// Starts the launcher; this end of its socket, or -1.
int startLauncher(const QByteArray& program)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    const QByteArray fd = QByteArray::number(pair[1]);
    char* const argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--launcher"),
                          const_cast<char*>(fd.constData()), nullptr};
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
            ::_exit(0);
        ::fcntl(pair[1], F_SETFD, 0);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return -1;
    }
    return pair[0];
}

int runSandboxed(int argc, char* argv[])
{
    const char* usage =
        "pradelux-render --run-sandboxed PRESENTATION OUTFOLDER TEMPLATE [--link FILE]... -- PROGRAM ARGUMENTS...\n";
    QStringList links;
    int separator = 5;
    for (; separator + 1 < argc && std::strcmp(argv[separator], "--link") == 0; separator += 2)
        links << QFile::decodeName(argv[separator + 1]);
    if (argc < separator + 2 || std::strcmp(argv[separator], "--") != 0) {
        std::fputs(usage, stderr);
        return 2;
    }
    // The program's folder, and that of a program it runs in turn (after a
    // "--" of its own: LibreOffice after its profile is copied).
    QStringList programs = {programFolderOf(QFile::decodeName(argv[separator + 1]))};
    for (int i = separator + 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            programs << programFolderOf(QFile::decodeName(argv[i + 1]));
    }
    QString why;
    pradelux::office::sandbox::Deck deck;
    std::unique_ptr<pradelux::office::sandbox::Root> root = pradelux::office::sandbox::Root::make(
        pradelux::office::sandbox::RendererPlan(programs, QFile::decodeName(argv[4])), &why);
    if (!root) {
        pradelux::office::sandbox::ForgetWorks();
        std::fprintf(stderr, "pradelux-render: LibreOffice cannot be run safely here: %s\n",
                     why.toLocal8Bit().constData());
        return 5;
    }
    if (!deck.open(QFile::decodeName(argv[2]), links, &why) ||
        !root->show(deck, QFileInfo(QFile::decodeName(argv[3])).absoluteFilePath(), &why)) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return pradelux::office::kNotShownStatus;
    }
    QStringList command;
    for (int i = separator + 1; i < argc; ++i)
        command << QFile::decodeName(argv[i]);
    // What it says goes to the error output, up to a bound.
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return 6;
    const pid_t pid = root->start(command, -1, &why, output[1]);
    ::close(output[1]);
    if (pid < 0) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return 6;
    }
    pradelux::office::OutputDrain drain(output[0], STDERR_FILENO);
    for (bool open = true; open;) {
        pollfd p{output[0], POLLIN, 0};
        if (::poll(&p, 1, -1) > 0 || errno != EINTR)
            open = drain.drain();
    }
    return waitFor(pid);
}

// The most tasks (processes and threads) one LibreOffice may run in its
// sandbox: it runs a few dozen threads, and a fork bomb stops here.
constexpr rlim_t kTasksInside = 256;

// Inside the sandbox, before LibreOffice starts: the bound on its tasks (for
// the sandbox's own user, in its own user namespace; nothing inside can
// raise it again) and its copy of the profile. False with why.
bool prepareInside(const QString& profileTemplate, QString* why)
{
    const rlimit tasks{kTasksInside, kTasksInside};
    if (::setrlimit(RLIMIT_NPROC, &tasks) != 0) {
        *why = QStringLiteral("the bound on processes could not be set: %1").arg(std::strerror(errno));
        return false;
    }
    if (!pradelux::office::CopyProfile(profileTemplate, pradelux::office::PrivateProfile())) {
        *why = QStringLiteral("LibreOffice's profile could not be copied from %1").arg(profileTemplate);
        return false;
    }
    return true;
}

// Inside the sandbox: LibreOffice, started afresh, with its own profile.
int runWithProfile(int argc, char* argv[])
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
        std::fputs("pradelux-render --with-profile TEMPLATE -- PROGRAM ARGUMENTS...\n", stderr);
        return 2;
    }
    QString why;
    if (!prepareInside(QFile::decodeName(argv[2]), &why)) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return 6;
    }
    ::execv(argv[4], argv + 4);
    std::fprintf(stderr, "pradelux-render: %s could not be started: %s\n", argv[4], std::strerror(errno));
    return 127;
}

// Whether a sandbox can be made here: exits 0, or 5 after saying why and
// what to do.
int checkSandbox()
{
    QString why;
    std::unique_ptr<pradelux::office::sandbox::Root> root =
        pradelux::office::sandbox::Root::make(pradelux::office::sandbox::CheckPlan(), &why);
    const pid_t pid = root ? root->start({QStringLiteral("/bin/true")}, -1, &why) : -1;
    if (pid > 0 && waitFor(pid) == 0)
        return 0;
    pradelux::office::sandbox::ForgetWorks();
    if (why.isEmpty())
        why = QStringLiteral("bubblewrap could not start it");
    std::fprintf(stderr, "%s\n", pradelux::office::sandbox::RefusedText(why).toLocal8Bit().constData());
    return 5;
}

int runWorker(int argc, char* argv[])
{
    if (argc != 5) {
        std::fputs("pradelux-render --render-worker FD PROGRAM TEMPLATE\n", stderr);
        return 2;
    }
    QString why;
    if (!prepareInside(QFile::decodeName(argv[4]), &why)) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        return 6;
    }
    return pradelux::office::RunRenderWorker(std::atoi(argv[2]), QFile::decodeName(argv[3]),
                                             pradelux::office::PrivateProfile());
}

} // namespace

int main(int argc, char* argv[])
{
    // The sandbox's namespaces are made first, while this process has a
    // single thread.
    if (argc > 1 && std::strcmp(argv[1], "--run-sandboxed") == 0)
        return runSandboxed(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--render-worker") == 0)
        return runWorker(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--with-profile") == 0)
        return runWithProfile(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--count-pages-server") == 0)
        return pradelux::office::RunPageCountServer();
    if (argc == 4 && std::strcmp(argv[1], "--make-profile") == 0)
        return pradelux::office::RunProfileMaker(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]));
    if (argc > 1 && std::strcmp(argv[1], "--check-sandbox") == 0)
        return checkSandbox();
    if (argc == 3 && std::strcmp(argv[1], "--launcher") == 0)
        return runLauncher(std::atoi(argv[2]));
    // pradelux-render --after PID: the renderer that PID started to take
    // over from it.
    qint64 predecessor = 0;
    if (argc == 3 && std::strcmp(argv[1], "--after") == 0)
        predecessor = std::atoll(argv[2]);
    // Started in the background: told to end, it ends, taking its sandbox.
    pradelux::UnblockInterrupts();
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
    const QString program = programFolderOf(soffice);
    const QString profile = pradelux::office::DefaultProfileTemplate();
    QString why;
    // Told to end while the profile's template is made, it gives that up
    // and leaves nothing half made.
    struct sigaction stop = {};
    stop.sa_handler = [](int) { pradelux::office::StopProfileMaking(); };
    ::sigaction(SIGTERM, &stop, nullptr);
    if (!pradelux::office::EnsureProfileTemplate(profile, soffice, ownFolder() + QStringLiteral("/pradelux-render"),
                                                 &why)) {
        if (pradelux::office::ProfileMakingStopped())
            return 0;
        err << "pradelux-render: " << why << Qt::endl;
        return 5;
    }
    // From here on, told to end, it ends at once, taking its sandbox.
    struct sigaction term = {};
    term.sa_handler = endOnTerm;
    ::sigaction(SIGTERM, &term, nullptr);
    if (pradelux::office::ProfileMakingStopped())
        return 0;
    // Before this process leaves the namespaces it was started in.
    const int launcher = startLauncher(QFile::encodeName(ownFolder() + QStringLiteral("/pradelux-render")));
    // Room for one PDF at its bound, and what tells that it went past it.
    std::unique_ptr<pradelux::office::sandbox::Root> root = pradelux::office::sandbox::Root::make(
        pradelux::office::sandbox::RendererPlan({program, ownFolder()}, profile,
                                                pradelux::office::PdfSizeLimit() + (qint64(1) << 20)),
        &why);
    int pair[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (root && (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0 || ::pipe2(output, O_CLOEXEC) != 0))
        why = QString::fromLocal8Bit(std::strerror(errno));
    // What it says on its output and error goes to the log, up to a bound.
    const pid_t worker =
        output[1] < 0 ? -1
                      : root->start({ownFolder() + QStringLiteral("/pradelux-render"),
                                     QStringLiteral("--render-worker"), QString::number(pair[1]), program, profile},
                                    pair[1], &why, output[1]);
    if (worker < 0) {
        pradelux::office::sandbox::ForgetWorks();
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
    pradelux::office::RenderLimits limits;
    bool ok = false;
    const int idle = qEnvironmentVariableIntValue("PRADELUX_RENDER_IDLE", &ok);
    if (ok && idle > 0)
        limits.idleMs = idle * 1000;
    const int documents = qEnvironmentVariableIntValue("PRADELUX_RENDER_MAX_DOCUMENTS", &ok);
    if (ok && documents > 0)
        limits.maxDocuments = documents;
    pradelux::office::RenderService service(socket, *root, pair[0], output[0], limits, predecessor, launcher);
    if (!service.start(&why)) {
        err << "pradelux-render: " << why << Qt::endl;
        return 4;
    }
    QObject::connect(&service, &pradelux::office::RenderService::finished, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    app.exec();
    // The worker ends with this process (it watches its parent); the
    // sandbox's root goes with the Root.
    return 0;
}
