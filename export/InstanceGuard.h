// The guard before an export run: a presentation application already running
// would be quit by the export, so the user is asked first.
#pragma once

#include <QString>

namespace pradelux {

class Automation;
class Dialogs;

inline const QString kApplicationName = QStringLiteral("Microsoft PowerPoint");
inline const QString kApplicationOpenWarning = QStringLiteral(
    "PowerPoint may be open. It is recommended that you close PowerPoint first.\r"
    "It is the program pradelux-office: in a terminal, ''pgrep -u \"$USER\" -a pradelux-office'' finds it and "
    "''pkill -u \"$USER\" pradelux-office'' ends it, if necessary.\r\n\r\n"
    "Would you like to proceed anyway?");

// True when a running application answers with the expected name. Every
// failure means "not running".
bool IsPowerPointRunning(Automation& automation);

// True when the run must not start: an application runs and the user said No.
bool WarnIfPowerPointOpen(Automation& automation, Dialogs& dialogs);

} // namespace pradelux
