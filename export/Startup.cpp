// The plain routines of the window's start-up.
#include "Startup.h"

#include "Files.h"

#include "Failure.h"
#include "Shell.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTime>

namespace pradelux {

QString ApplicationTitle(const QString& title)
{
    QString result = title;
    do {
        const int blank = result.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            return result;
        result.truncate(blank);
    } while (result.size() > 40);
    return result;
}

QString DefaultOutputFolder(const std::function<QString()>& desktopFolder, const QString& homeFolder)
{
    QString desktop = desktopFolder ? desktopFolder() : QString();
    // Minimal installs and servers have no desktop folder: the first export
    // must not stop at a folder that does not exist.
    if (!IsFolder(desktop))
        desktop = homeFolder;
    if (desktop.isEmpty())
        throw Failure(failure::kInvalidArgument,
                      QStringLiteral("Invalid procedure call or argument: no desktop folder"));
    return desktop + QLatin1Char('/');
}

QString XdgDesktopFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

void VisitWebSiteNowAndThen(const std::function<double()>& random, Shell& shell)
{
    const double r = random();
    const int n = static_cast<int>(r * 100) + 1;
    if (n == 7)
        shell.openUrl(kWebAddress);
}

double TimeSeededRandom()
{
    QRandomGenerator generator(static_cast<quint32>(QTime::currentTime().msecsSinceStartOfDay()));
    return generator.generateDouble();
}

} // namespace pradelux
