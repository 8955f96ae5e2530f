// Exports ten presentations through the window, once with LibreOffice
// started for each row and once with it kept warm, and compares in the same
// run with ten bare LibreOffice conversions of the same files: the overhead
// per row beyond the fixed pauses, the processor time the program itself
// used, and the warm renderer's rendering alone against one soffice call
// that converts all ten.
//
// usage: bench_export [ROWS]   (run it inside a session bus: bench/run.sh does)
#include "BenchSupport.h"
#include "CpuTime.h"
#include "DBusAutomation.h"
#include "Decks.h"
#include "FakeDialogs.h"
#include "FakeShell.h"
#include "Form1.h"
#include "PowerPoint1.h"
#include "Printers.h"
#include "Registry.h"
#include "SettingsStore.h"
#include "WarmRenderer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <optional>

using namespace pradelux;

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    bench::useOwnEnvironment(home);
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    UserPrinters().install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("CPW2:"));

    const QStringList kinds = {QStringLiteral("pptx"), QStringLiteral("ppt"), QStringLiteral("odp")};
    QStringList decks;
    for (int i = 0; i < rows; ++i) {
        const QString kind = kinds[i % kinds.size()];
        const QString copy = home.filePath(QStringLiteral("deck %1.%2").arg(i).arg(kind));
        QFile::copy(test::deck(kind), copy);
        decks << copy;
    }

    // Ten bare conversions, one LibreOffice start each, as the application does.
    QTemporaryDir bareOut;
    double bareSeconds = 0;
    for (const QString& deck : decks)
        bareSeconds += bench::bareConversion({deck}, bareOut.path(), bench::bareProfile());

    test::FakeDialogs dialogs;
    test::FakeShell shell;
    SettingsStore settings;
    FileRegistry registry;
    const QString bin = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    DBusAutomation automation(QDBusConnection::sessionBus(), bin);
    Form1Services services{dialogs,
                           shell,
                           settings,
                           bin,
                           [] { return 0.5; },
                           [&] { return home.path(); },
                           [](int) {},
                           &automation,
                           [&](const QString& in, const QString& pdf) {
                               return PowerPoint1(PowerPoint1::defaults(automation, registry, dialogs)).DoPPT(in, pdf);
                           }};
    Form1 form(services);
    form.Form_Load();
    form.show();
    for (const QString& deck : decks)
        form.presentations().AppendEntry(deck);

    struct Run
    {
        double seconds = 0;
        double cpu = 0;
    };
    // The whole list through "Start Exporting To PDF"; the run's figures, or
    // nothing when not every row gave its PDF.
    auto exportAll = [&]() -> std::optional<Run> {
        QTemporaryDir out;
        dialogs.boxes.clear();
        form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out.path());
        const double cpuBefore = test::processCpuSeconds();
        QElapsedTimer run;
        run.start();
        form.findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
        Run r{run.nsecsElapsed() / 1e9, test::processCpuSeconds() - cpuBefore};
        const int pdfs = static_cast<int>(QDir(out.path()).entryList({QStringLiteral("*.pdf")}, QDir::Files).size());
        if (pdfs != rows || dialogs.texts() != QStringList{QStringLiteral("Done.")}) {
            fprintf(stderr, "the run did not export every row (%d PDFs): %s\n", pdfs,
                    qPrintable(dialogs.texts().join(QLatin1Char('\n'))));
            return std::nullopt;
        }
        return r;
    };

    qputenv("PRADELUX_OFFICE_RENDERER", "soffice");
    const auto cold = exportAll();
    qunsetenv("PRADELUX_OFFICE_RENDERER");
    const auto warm = exportAll(); // its first row starts the warm LibreOffice
    if (!cold || !warm)
        return 1;

    // Rendering alone: the warm renderer, once started, against one soffice
    // process converting the same files in one call.
    QTemporaryDir renderHome;
    render::client::WarmRenderer renderer(bin + QStringLiteral("/pradelux-render"),
                                  renderHome.filePath(QStringLiteral("render.socket")), 120000,
                                  renderHome.filePath(QStringLiteral("render.log")));
    renderer.render({decks.front(), true}, renderHome.path()); // starts it
    QElapsedTimer rendering;
    rendering.start();
    for (const QString& deck : decks)
        renderer.render({deck, true}, renderHome.path());
    const double warmRendering = rendering.nsecsElapsed() / 1e9;
    const qint64 pid = render::client::WarmRenderer::runningRenderer(renderHome.filePath(QStringLiteral("render.socket")));
    if (pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    QTemporaryDir oneCallOut;
    const double oneCall = bench::bareConversion(decks, oneCallOut.path(), bench::bareProfile());

    const double pauses = 3.4 * rows;
    printf("%d rows (pptx, ppt, odp in turn)\n", rows);
    printf("ten bare soffice conversions: %.2f s (%.3f s each)\n", bareSeconds, bareSeconds / rows);
    printf("export run, LibreOffice started for each row: %.2f s (%.3f s per row), beyond pauses %+.3f s per row\n",
           cold->seconds, cold->seconds / rows, (cold->seconds - pauses) / rows);
    printf("export run, LibreOffice kept warm:           %.2f s (%.3f s per row), beyond pauses %+.3f s per row\n",
           warm->seconds, warm->seconds / rows, (warm->seconds - pauses) / rows);
    printf("warm run faster by %.1f %% (target at least 15 %%)\n", 100.0 * (1.0 - warm->seconds / cold->seconds));
    printf("processor time of the program itself in the warm run: %.3f s, %.2f %% of the wall time (target under "
           "5 %%)\n",
           warm->cpu, 100.0 * warm->cpu / warm->seconds);
    printf("rendering alone: warm renderer %.3f s for %d files; one soffice call converting them: %.3f s; ratio "
           "%.2f (goal at most 1.2)\n",
           warmRendering, rows, oneCall, warmRendering / oneCall);
    return 0;
}
