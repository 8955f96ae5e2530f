// What the benchmarks share: the bare LibreOffice conversion they compare with.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace pradelux::bench {

// Before the application object exists: no display needed, settings and
// printers in the given folder of the run's own, LibreOffice's profile kept
// between runs with the tests' cache.
inline void useOwnEnvironment(const QTemporaryDir& home)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CACHE_HOME", QByteArray(PRADELUX_TEST_CACHE "/xdg-cache"));
}

// The profile folder of the bare conversions, made once and kept.
inline QString bareProfile()
{
    return QStringLiteral(PRADELUX_TEST_CACHE "/bench-profile");
}

// Converts the files to PDF in outFolder with one plain soffice call in the
// given profile folder, as anyone would by hand; returns the seconds it took.
inline double bareConversion(const QStringList& files, const QString& outFolder, const QString& profileFolder)
{
    QProcess soffice;
    soffice.setStandardOutputFile(QProcess::nullDevice());
    soffice.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    const QStringList arguments{QStringLiteral("--headless"),
                                QStringLiteral("-env:UserInstallation=") +
                                    QUrl::fromLocalFile(profileFolder).toString(),
                                QStringLiteral("--convert-to"),
                                QStringLiteral("pdf"),
                                QStringLiteral("--outdir"),
                                outFolder};
    soffice.start(QStringLiteral("soffice"), arguments + files);
    soffice.waitForFinished(-1);
    return t.nsecsElapsed() / 1e9;
}

} // namespace pradelux::bench
