// The plain routines of the window's start-up: title, default output folder,
// the occasional visit of our web site.
#pragma once

#include <QDir>
#include <QString>
#include <functional>

namespace pradelux {

class Shell;

inline const QString kProductTitle = QStringLiteral("Pradelux");
inline const QString kWebAddress = QStringLiteral("https://pradelux.veltrande.example/");

// Cuts the title before its last blank until it is at most 40 characters
// long, at least once. A title without a blank is kept whole.
QString ApplicationTitle(const QString& title);

// The desktop folder followed by "/", or the home folder when there is no
// desktop folder; throws when neither is known.
QString DefaultOutputFolder(const std::function<QString()>& desktopFolder,
                            const QString& homeFolder = QDir::homePath());

// The user's desktop folder as the desktop's settings name it.
QString XdgDesktopFolder();

// In about one start of a hundred (the draw is 7 of 1 to 100), opens our web
// site. random draws a number r with 0 <= r < 1.
void VisitWebSiteNowAndThen(const std::function<double()>& random, Shell& shell);

// Draws from a generator seeded with the time of day.
double TimeSeededRandom();

} // namespace pradelux
