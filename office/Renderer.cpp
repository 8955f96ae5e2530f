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

int Renderer::pageCount(const QByteArray& pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    int pages = 0;
    for (auto it = page.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next())
        ++pages;
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
                      QStringLiteral("PowerPoint could not prepare %1 for printing.").arg(request.presentation));
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
        throw Failure(failure::kFileNotFound, QStringLiteral("PowerPoint could not start LibreOffice (%1) to print %2.")
                                                  .arg(m_soffice, request.presentation));
    if (!process.waitForFinished(m_timeoutMs)) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        QFile::remove(link);
        throw Failure(failure::kAutomationError,
                      QStringLiteral("LibreOffice did not finish printing %1 within %2 seconds and was stopped.")
                          .arg(request.presentation)
                          .arg(m_timeoutMs / 1000));
    }
    QFile::remove(link);

    QFile pdf(output);
    if (!pdf.open(QIODevice::ReadOnly))
        throw Failure(failure::kAutomationError,
                      QStringLiteral("LibreOffice could not print %1: the file is damaged, protected by a password, "
                                     "or not a presentation it can read.")
                          .arg(request.presentation));
    if (pageCount(pdf.readAll()) == 0)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 has no slides to print.").arg(request.presentation));
    return output;
}

} // namespace pradelux::office
