// The guard before an export run.
#include "InstanceGuard.h"

#include "Automation.h"
#include "Dialogs.h"
#include "PdfPrinter.h"

namespace pradelux {

bool IsPowerPointRunning(Automation& automation)
{
    try {
        const ObjectRef running = automation.getObject(kPowerPointClass);
        return running && running->get(QString()).toText() == kApplicationName;
    } catch (...) {
        return false;
    }
}

bool WarnIfPowerPointOpen(Automation& automation, Dialogs& dialogs)
{
    if (!IsPowerPointRunning(automation))
        return false;
    return dialogs.msgBox(kApplicationOpenWarning, msgbox::kYesNo) != msgbox::kYes;
}

} // namespace pradelux
