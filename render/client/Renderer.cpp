// Renders a presentation to PDF with LibreOffice.
#include "Renderer.h"

#include "ChildStart.h"

#include "Failure.h"
#include "Failures.h"
#include "Files.h"
#include "LibreOffice.h"
#include "ProcessTree.h"
#include "ProfileTemplate.h"
#include "SandboxPlan.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <csignal>
#include <unistd.h>

namespace pradelux::render::client {

using namespace boundary;

Renderer::Renderer(QString soffice, QString profileTemplate, int timeoutMs, QString sandbox)
    : m_soffice(std::move(soffice)), m_profile(std::move(profileTemplate)), m_timeoutMs(timeoutMs),
      m_sandbox(std::move(sandbox))
{
}

RenderedPdf Renderer::render(const RenderRequest& request, const QString& workFolder) const
{
    // A presentation that is a link, or lies below one, is named by its real
    // path: the link would lead nowhere inside the sandbox.
    const QString real = QFileInfo(request.presentation).canonicalFilePath();
    const QString presentation = real.isEmpty() ? QFileInfo(request.presentation).absoluteFilePath() : real;
    // LibreOffice names its PDF after the presentation, in a folder that
    // holds nothing else.
    const QString outFolder = workFolder + QStringLiteral("/pdf");
    // Its command line, which every user of the machine can read, takes no
    // password.
    if (!request.passwords.isEmpty())
        throw Failure(failure::kAutomationError,
                      QStringLiteral("PowerPoint can't open %1: %2, which LibreOffice's own converter cannot be given.")
                          .arg(request.presentation, failure::kProtectedByPassword));
    RemoveTree(outFolder);
    if (!QDir().mkpath(outFolder))
        throw Failure(failure::kPathFileAccess,
                      QStringLiteral("%1 could not be printed: the presentation application cannot write to its work "
                                     "folder %2.")
                          .arg(request.presentation, workFolder));
    QString why;
    if (!EnsureProfileTemplate(m_profile, m_soffice, m_sandbox, &why))
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 could not be printed: %2.").arg(request.presentation, why));

    const QString filter = QStringLiteral("pdf:impress_pdf_Export:") + PdfFilterOptions(request);
    // LibreOffice runs in the sandbox and reads the presentation at its own
    // path, with the files it links beside and below it, named by
    // its URL so that odd names (leading dashes, "#", new lines) cannot
    // confuse its command line. It works in a copy of the profile's
    // template in the sandbox's private home, made as it starts.
    QStringList arguments = {QStringLiteral("--run-sandboxed"), presentation, outFolder, m_profile};
    for (const QString& link : request.links)
        arguments << QStringLiteral("--link") << link;
    arguments += {QStringLiteral("--"),    QFileInfo(m_sandbox).path() + QStringLiteral("/pradelux-inside"),
                  QStringLiteral("--run"), m_profile,
                  QStringLiteral("--"),    OfficeProgram(m_soffice)};
    arguments += StartFlags(PrivateProfile());
    arguments += {QStringLiteral("--convert-to"), filter, QStringLiteral("--outdir"),
                  QString::fromLatin1(kInsideOutput), QUrl::fromLocalFile(presentation).toString(QUrl::FullyEncoded)};
    QProcess process;
    process.setProgram(m_sandbox);
    process.setArguments(arguments);
    process.setWorkingDirectory(QStringLiteral("/"));
    // Nothing it says is taken; what it says on its error output (bounded
    // by pradelux-render) goes to the application's log.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Its own session, so that a hung LibreOffice goes with all its
    // children; and it goes with this process.
    const pid_t self = ::getpid();
    process.setChildProcessModifier([self] {
        ::setsid();
        if (!DiesWithParent(self))
            ::_exit(127);
    });
    process.start();
    if (!process.waitForStarted(10000))
        throw Failure(failure::kFileNotFound,
                      QStringLiteral("%2 could not be printed: LibreOffice (%1) could not be started.")
                          .arg(m_soffice, request.presentation));
    const pid_t session = static_cast<pid_t>(process.processId());
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(kWatchMs)) {
        const Stop stop = clock.elapsed() >= m_timeoutMs ? Stop::Time : mustStop(session, TreeBytes(outFolder));
        if (stop != Stop::None) {
            ::kill(-session, SIGKILL);
            KillTree(session);
            process.waitForFinished(5000);
            RemoveTree(outFolder);
            throwStopped(stop, request.presentation, m_timeoutMs);
        }
    }

    // A LibreOffice that crashed may have left part of a PDF: that is its
    // fault, not the presentation's, and the part is never printed.
    const bool crashed = process.exitStatus() == QProcess::CrashExit || process.exitCode() >= 128;
    if (!crashed && process.exitCode() == kNotShownStatus) {
        RemoveTree(outFolder);
        ThrowUnreadable(request.presentation);
    }
    if (crashed || process.exitCode() != 0) {
        RemoveTree(outFolder);
        ThrowCrashed(request.presentation, crashed ? QStringLiteral("crashed")
                                                   : QStringLiteral("failed (exit status %1)").arg(process.exitCode()));
    }
    return TakePdf(outFolder, QString(), request.presentation, PageCounterBeside(m_sandbox), {request.letters});
}

} // namespace pradelux::render::client
