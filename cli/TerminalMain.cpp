// pradelux --export: the command line's services, on the session bus there
// is or on one of the run's own.
#include "TerminalMain.h"

#include "CommandLine.h"
#include "DBusAutomation.h"
#include "Files.h"
#include "InstanceGuard.h"
#include "Interrupts.h"
#include "PdfPrinter.h"
#include "Prerequisites.h"
#include "Printers.h"
#include "PrivateSessionBus.h"
#include "Registry.h"
#include "RunFolder.h"
#include "SettingsStore.h"
#include "Startup.h"
#include "TerminalText.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTextStream>

#include <unistd.h>

namespace pradelux {

int RunTerminal(int argc, char* argv[], const QStringList& arguments)
{
    CatchInterrupts();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrande"));
    QCoreApplication::setApplicationName(QStringLiteral("Pradelux"));
    PrivateSessionBus privateBus;
    // What runs that were killed left in the temporary folder.
    RunFolder::removeDeadRuns();
    SettingsStore settings;
    FileRegistry registry;
    UserPrinters printers;
    DBusAutomation automation(QDBusConnection::sessionBus(), AppFolder());
    QTextStream out(stdout);
    // On a terminal, names' control characters are shown as escapes.
    TerminalDevice errTerminal(STDERR_FILENO);
    const bool errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    QTextStream err(stderr);
    if (errIsTerminal)
        err.setDevice(&errTerminal);
    CommandLineServices services{automation,
                                 registry,
                                 settings,
                                 out,
                                 err,
                                 errIsTerminal,
                                 [] { return DefaultOutputFolder(XdgDesktopFolder); },
                                 ExportLockPath(registry),
                                 {},
                                 {},
                                 {}};
    services.printersFile = UserPrinters::defaultFile();
    services.errTerminal = errIsTerminal ? &errTerminal : nullptr;
    services.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    services.prerequisites = [&] {
        const bool running = IsPowerPointRunning(automation);
        const QString missing = WhyPowerPointIsMissing(automation, running ? nullptr : &services.startedApplication);
        return missing.isEmpty() ? WhyPdfPrinterIsMissing(printers) : missing;
    };
    const int status = RunCommandLine(arguments, services);
    HoldWhileEndingAtOnce();
    return status;
}

} // namespace pradelux
