// The export of one presentation: print it through the presentation
// application to the PDF printer and wait for the PDF.
#pragma once

#include "Automation.h"
#include "PrintOutput.h"

#include <QString>
#include <functional>
#include <optional>

namespace pradelux {

class Dialogs;
class Registry;

struct PowerPoint1Services
{
    Automation& automation;
    Registry& registry;
    Dialogs& dialogs;
    // Waits that many seconds while the window keeps working.
    std::function<void(double)> pause;
    // What stands at a path (FileIdentity): empty when nothing does.
    std::function<QString(const QString&)> identity;
    // A monotonic clock in milliseconds; bounds the wait for the PDF.
    std::function<qint64()> now;
    // How long the wait for the PDF may last once the job was handed over.
    qint64 waitBoundMs = 60000;
    // The window keeps the fixed pauses between the steps; a script, which
    // nobody watches, passes false: the presentation application has
    // printed before PrintOut returns, so they wait for nothing.
    bool fixedPauses = true;
    // Where the presentation application goes once the presentation was
    // printed. Empty, as in the window: it is told to quit. A script's run
    // keeps it for its next row instead, which saves starting it again for
    // each one; the run lets go of it at its end, and one that ended
    // meanwhile is started afresh by the next row.
    std::function<void(ObjectRef)> keepApplication = {};
    // PrintHiddenSlides as the print options get it: the window prints every
    // slide, hidden ones too; a script may leave them out (0).
    qint16 printHiddenSlides = 1;
    // OutputType: the slides, the notes pages, or both (printoutput).
    qint16 outputType = printoutput::kSlides;
    // The slides printed, numbered as in the presentation; none: every one.
    QList<printoutput::SlideRange> slides = {};
    // For a presentation protected by a password: the passwords to open it
    // with, one a line, asked again (attempt 1, 2…) while none opens it;
    // nothing when there are no more to try, and the row fails as
    // protected. Unset: none are ever tried.
    std::function<std::optional<QString>(const QString& presentation, int attempt)> passwords = {};
};

struct PrintChoices;

// Sets what the choices make of the next row: which LibreOffice prints it
// and how the printer makes its PDF (the application's and the printer's
// settings, which a run writes for each row while it holds the lock), and
// what is printed (steps' print options).
void ApplyPrintChoices(const PrintChoices& choices, Registry& registry, PowerPoint1Services& steps);

class PowerPoint1
{
public:
    explicit PowerPoint1(PowerPoint1Services services) : m_services(std::move(services)) {}

    // Prints the presentation to a PDF at outputPath. Each failing step is
    // reported and the next one runs. Returns whether this call's PDF stands
    // at outputPath at the end: a file that stood there before does not count.
    bool DoPPT(const QString& presentationPath, const QString& outputPath);

    // The default services of the running program.
    static PowerPoint1Services defaults(Automation& automation, Registry& registry, Dialogs& dialogs);

private:
    PowerPoint1Services m_services;
};

} // namespace pradelux
