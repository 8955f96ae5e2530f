// Opens addresses and folders through the desktop's URL opener.
#include "Failure.h"
#include "Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace pradelux {

void DesktopShell::openUrl(const QString& url)
{
    if (!QDesktopServices::openUrl(QUrl(url)))
        throw Failure(failure::kFileNotFound, QStringLiteral("The desktop could not open %1").arg(url));
}

void DesktopShell::openFolder(const QString& path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        throw Failure(failure::kFileNotFound, QStringLiteral("The desktop could not open the folder %1").arg(path));
}

} // namespace pradelux
