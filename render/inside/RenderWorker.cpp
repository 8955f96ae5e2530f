// LibreOffice inside the sandbox.
#include "RenderWorker.h"

#include "Channel.h"
#include "ChildStart.h"
#include "Files.h"
#include "HiddenDocuments.h"
#include "Inside.h"
#include "LibreOffice.h"
#include "ProcessTree.h"
#include "Protocol.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pradelux::render::inside {

using namespace boundary;

namespace {
// What getDocumentType answers for a presentation (LOK_DOCTYPE_PRESENTATION,
// which the headers only name with their unstable interface).
constexpr int kPresentationDocument = 2;

bool writeLine(int socket, const QByteArray& line)
{
    return ::write(socket, line.constData(), static_cast<size_t>(line.size())) == line.size();
}

// A job's line is short, but names two paths.
constexpr qsizetype kJobMax = 1 << 20;

// An allocator made for many small objects (tcmalloc), for LibreOffice's
// process, where it is installed.
QByteArray fastAllocator()
{
#ifdef PRADELUX_TCMALLOC
    if (::access(PRADELUX_TCMALLOC, R_OK) == 0)
        return QByteArrayLiteral(PRADELUX_TCMALLOC);
#endif
    return QByteArray();
}

// LibreOffice as a program of its own, headless, accepting connections of
// its remote bridge on the named pipe (in the sandbox's private /tmp). It
// ends with this process. -1 when it could not be started at all.
pid_t StartOffice(const QString& programFolder, const QString& profileFolder, const QString& pipe)
{
    const QByteArray program = QFile::encodeName(programFolder + QStringLiteral("/soffice.bin"));
    QList<QByteArray> arguments{program};
    for (const QString& flag : StartFlags(profileFolder))
        arguments << flag.toUtf8();
    arguments << "--invisible"
              << "--nodefault"
              << "--accept=pipe,name=" + pipe.toUtf8() + ";urp;StarOffice.ComponentContext";
    const QByteArray allocator = fastAllocator();
    const QByteArray preload = "LD_PRELOAD=" + allocator;
    // Its standard streams are the worker's; nothing else of the worker's
    // is.
    ChildStart how{{{STDIN_FILENO, STDIN_FILENO}, {STDOUT_FILENO, STDOUT_FILENO}}};
    how.prepare = [&] { return allocator.isEmpty() || ::putenv(const_cast<char*>(preload.constData())) == 0; };
    return StartProgram(arguments, how);
}

// Waits for LibreOffice to answer on its bridge. Null when it ended first
// (once restarted, when it asks for that), did not answer in time, or the
// process outside that started the sandbox ended meanwhile (the standard
// input, whose other end only it holds, closed): nobody would be served.
std::unique_ptr<HiddenDocuments> ConnectOffice(pid_t soffice, const QString& programFolder,
                                               const QString& profileFolder, const QString& pipe)
{
    // LibreOffice takes about a second to load; a slow machine much longer.
    constexpr int kStartMs = 60000;
    bool restarted = false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartMs) {
        if (std::unique_ptr<HiddenDocuments> hidden = HiddenDocuments::connect(programFolder, pipe))
            return hidden;
        pollfd outside{STDIN_FILENO, POLLIN, 0};
        if (::poll(&outside, 1, 0) == 1 && (outside.revents & (POLLHUP | POLLERR)))
            return nullptr;
        int status = 0;
        if (::waitpid(soffice, &status, WNOHANG) != 0) {
            if (restarted || !WIFEXITED(status) || WEXITSTATUS(status) != kRestartStatus)
                return nullptr;
            restarted = true;
            soffice = StartOffice(programFolder, profileFolder, pipe);
            if (soffice < 0)
                return nullptr;
        }
        ::usleep(20000);
    }
    return nullptr;
}

// LibreOffice's own shutdown is slow and sometimes crashes; nothing of it
// needs keeping, so the worker ends at once, and with it everything
// LibreOffice started (a process it forked has no bond to the worker).
[[noreturn]] void leave()
{
    EndSandbox();
    std::_Exit(0);
}

Result render(lok::Office* office, HiddenDocuments* hidden, const Job& job, QList<StandIn>* standIns)
{
    QFile::remove(job.pdf);
    // The PDF filter's options, as LibreOffice takes them as text.
    const QByteArray options = QJsonDocument(job.filter).toJson(QJsonDocument::Compact);
    if (hidden) {
        switch (hidden->print(job.presentation, job.pdf, options, job.passwords, standIns)) {
        case HiddenDocuments::Result::Printed:
            return Result::Printed;
        case HiddenDocuments::Result::NotLoaded:
            return Result::NotLoaded;
        case HiddenDocuments::Result::NotAPresentation:
            return Result::NotAPresentation;
        case HiddenDocuments::Result::NotSaved:
            return Result::NotSaved;
        case HiddenDocuments::Result::WrongPassword:
            return Result::WrongPassword;
        }
    }
    // The kit's own load asks for a password through a callback that no
    // one here answers.
    if (!office || !job.passwords.isEmpty())
        return Result::NotLoaded;
    std::unique_ptr<lok::Document> document(
        office->documentLoad(QUrl::fromLocalFile(job.presentation).toEncoded().constData(), ""));
    if (!document)
        return Result::NotLoaded;
    // Whatever the file looked like, only what LibreOffice took for a
    // presentation is printed as one.
    if (document->getDocumentType() != kPresentationDocument)
        return Result::NotAPresentation;
    const bool saved =
        document->saveAs(QUrl::fromLocalFile(job.pdf).toEncoded().constData(), "pdf", options.constData());
    return saved ? Result::Printed : Result::NotSaved;
}
} // namespace

int RunRenderWorker(int socket, const QString& programFolder, const QString& profileFolder)
{
    // LibreOffice is started first, while this process is small to fork.
    const QString pipe = QStringLiteral("pradelux-%1").arg(::getpid());
    pid_t soffice = StartOffice(programFolder, profileFolder, pipe);
    const QString why = HiddenDocuments::preload(
        ProgramFolderOf(QStringLiteral("/proc/self/exe")) + QStringLiteral("/pradelux-hidden.so"), programFolder);
    if (!why.isEmpty()) {
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
        if (soffice > 0) {
            ::kill(soffice, SIGKILL);
            ::waitpid(soffice, nullptr, 0);
            soffice = -1;
        }
    }
    std::unique_ptr<HiddenDocuments> hidden;
    std::unique_ptr<lok::Office> office;
    if (soffice > 0) {
        hidden = ConnectOffice(soffice, programFolder, profileFolder, pipe);
        if (!hidden) {
            writeLine(socket, Ready{false, QStringLiteral("LibreOffice did not answer on its bridge")}.line());
            return 4;
        }
    } else {
        // No program to start (a LibreOffice that offers only its kit):
        // the kit's own documentLoad serves, with a view.
        std::fputs("pradelux-render: LibreOffice could not be started as a program of its own; presentations are "
                   "opened through its kit, with a view, which is slower.\n",
                   stderr);
        office.reset(lok::lok_cpp_init(QFile::encodeName(programFolder).constData(),
                                       QUrl::fromLocalFile(profileFolder).toEncoded().constData()));
        if (!office) {
            writeLine(
                socket,
                Ready{false, QStringLiteral("LibreOffice could not be loaded from %1").arg(programFolder)}.line());
            return 4;
        }
    }
    if (!writeLine(socket, Ready{true, {}}.line()))
        leave();
    QByteArray buffer;
    for (;;) {
        const QByteArray line = ReadLine(socket, &buffer, kJobMax);
        // The service is gone.
        if (line.isEmpty())
            leave();
        const std::optional<Job> job = Job::read(line);
        Done done{job ? job->id : 0, Result::BadRequest, {}};
        if (job)
            done.result = render(office.get(), hidden.get(), *job, &done.standIns);
        if (!writeLine(socket, done.line()))
            leave();
        // The answer is out: LibreOffice takes the presentation down meanwhile.
        if (hidden)
            hidden->close();
    }
}

} // namespace pradelux::render::inside
