// Renders a presentation to PDF with LibreOffice.
#include "Renderer.h"

#include "Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

#include <poppler-qt6.h>

#include <memory>

#include <csignal>
#include <unistd.h>

namespace pradelux::office {

Renderer::Renderer(QString soffice, QString profile, int timeoutMs)
    : m_soffice(std::move(soffice)), m_profile(std::move(profile)), m_timeoutMs(timeoutMs)
{
}

QString Renderer::findSoffice()
{
    const QString configured = qEnvironmentVariable("PRADELUX_OFFICE_SOFFICE");
    if (!configured.isEmpty())
        return QFileInfo(configured).isExecutable() ? configured : QString();
    return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

QString Renderer::missingSofficeText()
{
    return QStringLiteral("LibreOffice Impress, which prints the presentations, is not installed (no soffice was "
                          "found). Install it with: sudo apt install libreoffice-impress");
}

int Renderer::pageCount(const QByteArray& pdf)
{
    // A PDF cut short loses its end-of-file marker; Poppler would read
    // around the gap, so the marker is checked first.
    if (!pdf.startsWith("%PDF-") || !pdf.right(1024).contains("%%EOF"))
        return -1;
    // Poppler's complaints about a PDF it repairs are no use on the error output.
    static const bool quiet = [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
        return true;
    }();
    Q_UNUSED(quiet);
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->isLocked())
        return -1;
    const int pages = document->numPages();
    for (int i = 0; i < pages; ++i) {
        if (!document->page(i))
            return -1;
    }
    return pages;
}

QString Renderer::render(const RenderRequest& request, const QString& workFolder) const
{
    const QFileInfo source(request.presentation);
    // LibreOffice names its output after its input, so it reads the file under
    // a plain name of ours: odd names (leading dashes, "#", new lines) then
    // cannot confuse its command line.
    QString suffix = source.suffix().toLower();
    suffix.remove(QRegularExpression(QStringLiteral("[^a-z0-9]")));
    const QString link =
        workFolder + QStringLiteral("/deck") + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    QFile::remove(link);
    if (!QFile::link(source.absoluteFilePath(), link))
        throw Failure(failure::kPathFileAccess,
                      QStringLiteral("%1 could not be printed: the presentation application cannot write to its work "
                                     "folder %2.")
                          .arg(request.presentation, workFolder));
    const QString output = workFolder + QStringLiteral("/deck.pdf");
    QFile::remove(output);

    const QString filter =
        QStringLiteral("pdf:impress_pdf_Export:{\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"%1\"},"
                       "\"ExportNotesPages\":{\"type\":\"boolean\",\"value\":\"%2\"}}")
            .arg(request.hiddenSlides ? QLatin1String("true") : QLatin1String("false"),
                 request.notesPages ? QLatin1String("true") : QLatin1String("false"));
    QProcess process;
    process.setProgram(m_soffice);
    process.setArguments({QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                          QStringLiteral("--nolockcheck"),
                          QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(m_profile).toString(),
                          QStringLiteral("--convert-to"), filter, QStringLiteral("--outdir"), workFolder, link});
    // LibreOffice's own chatter is of no use to anyone here.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // Its own process group, so that a hung LibreOffice goes with all its children.
    process.setChildProcessModifier([] { ::setsid(); });
    process.start();
    if (!process.waitForStarted(10000))
        throw Failure(failure::kFileNotFound,
                      QStringLiteral("%2 could not be printed: LibreOffice (%1) could not be started.")
                          .arg(m_soffice, request.presentation));
    if (!process.waitForFinished(m_timeoutMs)) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        QFile::remove(link);
        QFile::remove(output);
        ThrowTimedOut(request.presentation, m_timeoutMs);
    }
    QFile::remove(link);

    // A LibreOffice that crashed may have left part of a PDF: that is its
    // fault, not the presentation's, and the part is never printed.
    const bool crashed = process.exitStatus() == QProcess::CrashExit || process.exitCode() >= 128;
    if (crashed || process.exitCode() != 0) {
        QFile::remove(output);
        ThrowCrashed(request.presentation, crashed ? QStringLiteral("crashed")
                                                   : QStringLiteral("failed (exit status %1)").arg(process.exitCode()));
    }
    return CheckedPdf(output, request.presentation);
}

QString RenderPidFile(const QString& socketPath)
{
    return socketPath + QStringLiteral(".pid");
}

void ThrowCrashed(const QString& presentation, const QString& how)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice %1 while printing %2, so no PDF was made. Try again; if it happens "
                                 "again, the file may be one LibreOffice cannot handle.")
                      .arg(how, presentation));
}

void ThrowTimedOut(const QString& presentation, int timeoutMs)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice did not finish printing %1 within %2 seconds and was stopped.")
                      .arg(presentation)
                      .arg(timeoutMs / 1000));
}

void ThrowUnreadable(const QString& presentation)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice could not print %1: the file is damaged, protected by a password, "
                                 "or not a presentation it can read.")
                      .arg(presentation));
}

QString CheckedPdf(const QString& output, const QString& presentation)
{
    QFile pdf(output);
    if (!pdf.open(QIODevice::ReadOnly))
        ThrowUnreadable(presentation);
    const int pages = Renderer::pageCount(pdf.readAll());
    pdf.close();
    if (pages < 0) {
        QFile::remove(output);
        throw Failure(
            failure::kAutomationError,
            QStringLiteral("LibreOffice made an incomplete PDF of %1, so it was not printed.").arg(presentation));
    }
    if (pages == 0)
        throw Failure(failure::kAutomationError, QStringLiteral("%1 has no slides to print.").arg(presentation));
    return output;
}

} // namespace pradelux::office
