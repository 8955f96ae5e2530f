// The export of one presentation: print it through the presentation
// application to the PDF printer and wait for the PDF.
#pragma once

#include <QString>
#include <functional>

namespace pradelux {

class Automation;
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
};

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
