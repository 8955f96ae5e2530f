// The window's services and its start.
#include "WindowMain.h"

#include "DBusAutomation.h"
#include "DesktopSignals.h"
#include "EventLoop.h"
#include "Files.h"
#include "Form1.h"
#include "PdfChoices.h"
#include "PdfPrinter.h"
#include "PowerPoint1.h"
#include "Prerequisites.h"
#include "Printers.h"
#include "QtDialogs.h"
#include "Registry.h"
#include "RunLock.h"
#include "RunPasswords.h"
#include "SampleFiles.h"
#include "SettingsStore.h"
#include "Shell.h"
#include "Startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTimer>

#include <cstdlib>

namespace pradelux {

bool HasDisplay(const QStringList& arguments)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return arguments.contains(QStringLiteral("-platform")) || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int RunWindow(int argc, char* argv[])
{
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

    // The passwords typed in during a run, tried first on its later
    // presentations, and forgotten when it ends.
    RunPasswords passwords(
        {}, [&](const QString& presentation, bool again) { return dialogs.askPassword(presentation, again); });
    Form1Services services{dialogs,
                           shell,
                           settings,
                           AppFolder(),
                           TimeSeededRandom,
                           XdgDesktopFolder,
                           exitProgram,
                           &automation,
                           [&](const QString& presentation, const QString& pdf) {
                               // The window's choices (PDF Options), as they stand at each row.
                               PowerPoint1Services steps = PowerPoint1::defaults(automation, registry, dialogs);
                               ApplyPrintChoices(ReadPdfChoices(settings), registry, steps);
                               steps.passwords = [&](const QString& deck, int attempt) {
                                   return passwords.next(deck, attempt);
                               };
                               return PowerPoint1(steps).DoPPT(presentation, pdf);
                           }};
    services.exportLock = &exportLock;
    services.runEnded = [&] { passwords.forget(); };
    SessionDesktopSignals desktopSignals(QDBusConnection::sessionBus(),
                                         QStringLiteral("org.pradelux.Pradelux.desktop"));
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

} // namespace pradelux
