// The port "CPW2:" of the PDF printer.
#include "PdfWriterPort.h"

#include "Failure.h"
#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace pradelux::office {

PdfWriterPort::PdfWriterPort(Registry& registry, QString documentsFolder)
    : m_registry(registry), m_documents(std::move(documentsFolder))
{
}

QString PdfWriterPort::unusedName(const QString& title) const
{
    const QString base = title.isEmpty() ? QStringLiteral("Document") : title;
    QString candidate = QDir(m_documents).filePath(base + QStringLiteral(".pdf"));
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = QDir(m_documents).filePath(QStringLiteral("%1 (%2).pdf").arg(base).arg(n));
    return candidate;
}

QString PdfWriterPort::write(const PrintJob& job) const
{
    const QString key = QStringLiteral("Software\\") + job.printer;
    const QString bypass = m_registry.readString(key, QStringLiteral("BypassSaveAs")).value_or(QString());
    QString target;
    if (bypass == QLatin1String("1")) {
        target = m_registry.readString(key, QStringLiteral("OutputFile")).value_or(QString());
        if (target.isEmpty())
            throw Failure(failure::kPathNotFound, QStringLiteral("no output file is set for %1").arg(job.printer));
    } else {
        QDir().mkpath(m_documents);
        target = unusedName(job.title);
    }
    const QFileInfo targetInfo(target);
    if (!targetInfo.absoluteDir().exists())
        throw Failure(failure::kPathNotFound,
                      QStringLiteral("the folder %1 does not exist").arg(targetInfo.absolutePath()));
    if (targetInfo.isDir())
        throw Failure(failure::kPathFileAccess, QStringLiteral("%1 is a folder").arg(target));

    QFile source(job.pdf);
    if (!source.open(QIODevice::ReadOnly))
        throw Failure(failure::kPathFileAccess, QStringLiteral("the job's pages are gone (%1)").arg(job.pdf));
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        throw Failure(failure::kPermissionDenied,
                      QStringLiteral("the folder %1 is not writable").arg(targetInfo.absolutePath()));
    out.write(source.readAll());
    if (!out.commit())
        throw Failure(failure::kPermissionDenied,
                      QStringLiteral("%1 could not be written: %2").arg(target, out.errorString()));
    return target;
}

} // namespace pradelux::office
