// What the benchmarks share: the bare LibreOffice conversion they compare with.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QUrl>

namespace pradelux::bench {

// Converts the file to PDF in outFolder with a plain soffice call in the given
// profile folder, as anyone would by hand; returns the seconds it took.
inline double bareConversion(const QString& file, const QString& outFolder, const QString& profileFolder)
{
    QProcess soffice;
    soffice.setStandardOutputFile(QProcess::nullDevice());
    soffice.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    soffice.start(QStringLiteral("soffice"),
                  {QStringLiteral("--headless"),
                   QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profileFolder).toString(),
                   QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"), outFolder, file});
    soffice.waitForFinished(-1);
    return t.nsecsElapsed() / 1e9;
}

} // namespace pradelux::bench
