// Pradelux: start the application and show the window, or export from a
// terminal with --export.
#include "CommandLine.h"
#include "DBusAutomation.h"
#include "DesktopSignals.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "Files.h"
#include "Form1.h"
#include "PowerPoint1.h"
#include "PdfPrinter.h"
#include "Prerequisites.h"
#include "Printers.h"
#include "Registry.h"
#include "RunLock.h"
#include "SampleFiles.h"
#include "SettingsStore.h"
#include "Shell.h"
#include "Startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTextStream>
#include <QTimer>

#include <cstdlib>
#include <unistd.h>

namespace {

// pradelux --export: no window and no display.
int runInTerminal(int argc, char* argv[], const QStringList& arguments)
{
    using namespace pradelux;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrande"));
    QCoreApplication::setApplicationName(QStringLiteral("Pradelux"));
    SettingsStore settings;
    FileRegistry registry;
    DBusAutomation automation(QDBusConnection::sessionBus(), AppFolder());
    QTextStream out(stdout);
    QTextStream err(stderr);
    CommandLineServices services{automation, registry, settings, out, err, ::isatty(STDERR_FILENO) == 1, [] {
                                     return DefaultOutputFolder(XdgDesktopFolder);
                                 }, ExportLockPath(registry)};
    return RunCommandLine(arguments, services);
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace pradelux;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (WantsCommandLine(arguments))
        return runInTerminal(argc, argv, arguments);

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrande"));
    QCoreApplication::setApplicationName(QStringLiteral("Pradelux"));

    QtDialogs dialogs;
    DesktopShell shell;
    SettingsStore settings;
    FileRegistry registry;
    UserPrinters printers;
    DBusAutomation automation(QDBusConnection::sessionBus(), AppFolder());
    RunLock exportLock(ExportLockPath(registry));
    // Every setting is already stored, so the program can end on the spot.
    const auto exitProgram = [](int code) { std::_Exit(code); };

    Form1Services services{
        dialogs,
        shell,
        settings,
        AppFolder(),
        TimeSeededRandom,
        XdgDesktopFolder,
        exitProgram,
        &automation,
        [&](const QString& presentation, const QString& pdf) {
            return PowerPoint1(PowerPoint1::defaults(automation, registry, dialogs)).DoPPT(presentation, pdf);
        }};
    services.exportLock = &exportLock;
    SessionDesktopSignals desktopSignals(QDBusConnection::sessionBus(), QStringLiteral("org.pradelux.Pradelux.desktop"));
    services.desktopSignals = &desktopSignals;
    StartupSteps steps;
    steps.recordSampleFiles = [&] { RecordSampleFiles(AppFolder(), settings, ThrottledYield(DoEvents)); };
    steps.checkPowerPointInstalled = [&] { return CheckPowerPointInstalled(automation, dialogs, exitProgram); };
    steps.checkPdfPrinterInstalled = [&] { CheckPdfPrinterInstalled(printers, dialogs); };

    Form1 window(services, steps);
    dialogs.setParent(&window);
    window.Form_Load();
    window.show();
    // What a file manager's "Open With" passes: added once the window is up.
    // Qt has already taken its own options out of argv.
    QStringList paths;
    for (int i = 1; i < argc; ++i)
        paths << QString::fromLocal8Bit(argv[i]);
    if (!paths.isEmpty())
        QTimer::singleShot(0, &window, [&window, paths] { window.AddCommandLinePaths(paths); });
    return app.exec();
}
