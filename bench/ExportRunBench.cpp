// Exports ten presentations through the window and compares, in the same
// run, with ten bare LibreOffice conversions of the same files: the overhead
// per row beyond the fixed pauses, and the processor time the program itself
// used during the run.
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

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>

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
        bareSeconds += bench::bareConversion(deck, bareOut.path(), bench::bareProfile());

    test::FakeDialogs dialogs;
    test::FakeShell shell;
    SettingsStore settings;
    FileRegistry registry;
    DBusAutomation automation(QDBusConnection::sessionBus(),
                              QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"));
    Form1Services services{dialogs,
                           shell,
                           settings,
                           QCoreApplication::applicationDirPath() + QStringLiteral("/../bin"),
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
    QTemporaryDir out;
    for (const QString& deck : decks)
        form.presentations().AppendEntry(deck);
    form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out.path());

    const double cpuBefore = test::processCpuSeconds();
    QElapsedTimer run;
    run.start();
    form.findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
    const double runSeconds = run.nsecsElapsed() / 1e9;
    const double cpu = test::processCpuSeconds() - cpuBefore;

    const int pdfs = static_cast<int>(QDir(out.path()).entryList({QStringLiteral("*.pdf")}, QDir::Files).size());
    if (pdfs != rows || dialogs.texts() != QStringList{QStringLiteral("Done.")}) {
        fprintf(stderr, "the run did not export every row (%d PDFs): %s\n", pdfs,
                qPrintable(dialogs.texts().join(QLatin1Char('\n'))));
        return 1;
    }
    const double pauses = 3.4 * rows;
    printf("%d rows (pptx, ppt, odp in turn)\n", rows);
    printf("ten bare soffice conversions: %.2f s (%.3f s each)\n", bareSeconds, bareSeconds / rows);
    printf("export run through the window: %.2f s (%.3f s per row)\n", runSeconds, runSeconds / rows);
    printf("per-row overhead beyond the 3.4 s of pauses and bare LibreOffice: %+.3f s\n",
           (runSeconds - pauses - bareSeconds) / rows);
    printf("processor time of the program itself: %.3f s, %.2f %% of the wall time (target under 5 %%)\n", cpu,
           100.0 * cpu / runSeconds);
    return 0;
}
