// How LibreOffice is started in every sandbox.
#include "LibreOffice.h"

#include "Files.h"
#include "SandboxPlan.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace pradelux::render::boundary {

QString FindSoffice()
{
    const QString configured = qEnvironmentVariable("PRADELUX_OFFICE_SOFFICE");
    if (!configured.isEmpty())
        return QFileInfo(configured).isExecutable() ? configured : QString();
    return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

QString OfficeProgram(const QString& soffice)
{
    const QString beside = ProgramFolderOf(soffice) + QStringLiteral("/soffice.bin");
    return QFileInfo(beside).isExecutable() ? beside : soffice;
}

bool PrintsColourFontsBlank(const QString& soffice)
{
    QFile version(ProgramFolderOf(OfficeProgram(soffice)) + QStringLiteral("/versionrc"));
    if (soffice.isEmpty() || !version.open(QIODevice::ReadOnly))
        return false;
    // UpdateID=LibreOffice_7_en-US_...: the major version.
    const QRegularExpression major(QStringLiteral("^UpdateID=LibreOffice_(\\d+)_"),
                                   QRegularExpression::MultilineOption);
    const QRegularExpressionMatch found = major.match(QString::fromUtf8(version.read(64 * 1024)));
    return found.hasMatch() && found.captured(1).toInt() <= 7;
}

QString MissingSofficeText()
{
    return QStringLiteral("LibreOffice Impress, which prints the presentations, is not installed (no soffice was "
                          "found). Install it with: sudo apt install libreoffice-impress");
}

QStringList StartFlags(const QString& profileFolder)
{
    return {QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profileFolder).toString(),
            QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
            QStringLiteral("--nolockcheck")};
}

QString PrivateProfile()
{
    return QLatin1String(kInsideHome) + QStringLiteral("/.pradelux-profile");
}

} // namespace pradelux::render::boundary
