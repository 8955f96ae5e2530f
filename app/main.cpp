// Pradelux: start the application and show the window, or export from a
// terminal with --export.
#include "AutomationProtocol.h"
#include "CommandLine.h"
#include "DBusAutomation.h"
#include "DesktopSignals.h"
#include "Dialogs.h"
#include "EventLoop.h"
#include "Files.h"
#include "Form1.h"
#include "Interrupts.h"
#include "PdfPrinter.h"
#include "PowerPoint1.h"
#include "Prerequisites.h"
#include "Printers.h"
#include "Registry.h"
#include "RunFolder.h"
#include "RunLock.h"
#include "SampleFiles.h"
#include "SettingsStore.h"
#include "Shell.h"
#include "Startup.h"
#include "WarmRenderer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// A session bus for a run that has none (cron, ssh, a container): started
// before anything uses the bus, ended with the run.
class PrivateSessionBus
{
public:
    PrivateSessionBus()
    {
        // By its address: the library would remember a failed look-up of the
        // session bus and never find the private one.
        QString current = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        // A user session's bus may be known only by its place.
        const QString userBus = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
        if (current.isEmpty() && !qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo::exists(userBus)) {
            current = QStringLiteral("unix:path=") + userBus;
            qputenv("DBUS_SESSION_BUS_ADDRESS", current.toUtf8());
        }
        const QString probe = QStringLiteral("pradelux-probe");
        const bool usable = !current.isEmpty() && QDBusConnection::connectToBus(current, probe).isConnected();
        QDBusConnection::disconnectFromBus(probe);
        if (usable)
            return;
        // Ctrl+C in the terminal must not end the bus in the middle of a
        // run: this program ends it when it ends, or the kernel does when
        // this program is killed.
        m_daemon.setChildProcessModifier(pradelux::DetachAndEndWithParent);
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        QByteArray address;
        while (m_daemon.waitForStarted(5000) && !address.contains('\n') && m_daemon.waitForReadyRead(5000))
            address += m_daemon.readAllStandardOutput();
        if (!address.trimmed().isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", address.trimmed());
        pradelux::EndWithProgram(static_cast<pid_t>(m_daemon.processId()));
    }
    ~PrivateSessionBus()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        // The application and the LibreOffice of this bus serve no one after
        // the run, so they end with it: nothing of the run may still write in
        // its folders once the program has returned (a batch task removes
        // them next).
        using pradelux::office::WarmRenderer;
        const qint64 rendererPid = WarmRenderer::runningRenderer(WarmRenderer::defaultSocketPath());
        const pradelux::ProcessHandle renderer(rendererPid);
        const auto application = QDBusConnection::sessionBus().interface()->servicePid(
            pradelux::protocol::busNameFor(pradelux::kPowerPointClass));
        const pradelux::ProcessHandle applicationProcess(application.isValid() ? qint64(application.value()) : 0);
        // LibreOffice keeps nothing that needs saving and its own shutdown
        // is slow: the renderer only takes its sandbox down.
        renderer.kill(SIGTERM);
        if (!renderer.waitGone(1000))
            renderer.kill(SIGKILL);
        m_daemon.terminate();
        m_daemon.waitForFinished(3000);
        // The application ends by itself once its bus has gone.
        for (const pradelux::ProcessHandle* process : {&renderer, &applicationProcess}) {
            if (!process->waitGone(5000))
                process->kill(SIGKILL);
        }
        if (rendererPid > 0)
            QFile::remove(WarmRenderer::defaultSocketPath());
    }

private:
    QProcess m_daemon;
};

// A display the window can be shown on: X11 or Wayland, or a platform the
// user chose (QT_QPA_PLATFORM, -platform: offscreen, vnc…).
bool HasDisplay(const QStringList& arguments)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return arguments.contains(QStringLiteral("-platform")) || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// pradelux --export: no window and no display.
int runInTerminal(int argc, char* argv[], const QStringList& arguments)
{
    using namespace pradelux;
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
    QTextStream err(stderr);
    CommandLineServices services{automation,
                                 registry,
                                 settings,
                                 out,
                                 err,
                                 ::isatty(STDERR_FILENO) == 1,
                                 [] { return DefaultOutputFolder(XdgDesktopFolder); },
                                 ExportLockPath(registry),
                                 {},
                                 {}};
    services.printersFile = UserPrinters::defaultFile();
    services.prerequisites = [&] {
        const QString missing = WhyPowerPointIsMissing(automation);
        return missing.isEmpty() ? WhyPdfPrinterIsMissing(printers) : missing;
    };
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
    // Without a display Qt would abort with a text of its own; the user is
    // told what does work instead.
    if (!HasDisplay(arguments)) {
        std::fputs("pradelux: there is no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "pradelux --export works without one.\n",
                   stderr);
        return 1;
    }

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
