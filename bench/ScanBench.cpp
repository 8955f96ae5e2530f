// Measures the folder scan of a large tree against `find DIR -iname '*.ppt'`
// on the same tree in the same run, how long the window went without
// handling events during the scan, and whether appending rows slows down as
// the list grows.
//
// usage: bench_scan [FOLDERS [FILES_PER_FOLDER]]   (defaults 10000 and 10)
#include "AddFolder.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "FakeDialogs.h"
#include "PresentationList.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace pradelux;

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int folders = argc > 1 ? atoi(argv[1]) : 10000;
    const int perFolder = argc > 2 ? atoi(argv[2]) : 10;

    // 100 folders at the top, the rest spread below them; half the files match.
    QTemporaryDir root;
    const int top = 100;
    int made = 0;
    for (int t = 0; t < top && made < folders; ++t) {
        for (int s = 0; s < folders / top && made < folders; ++s, ++made) {
            const QString dir = s == 0 ? root.filePath(QStringLiteral("t%1").arg(t))
                                       : root.filePath(QStringLiteral("t%1/s%2").arg(t).arg(s));
            QDir().mkpath(dir);
            for (int f = 0; f < perFolder; ++f) {
                QFile file(
                    dir +
                    QStringLiteral("/deck %1.%2").arg(f).arg(f % 2 ? QStringLiteral("PPT") : QStringLiteral("txt")));
                file.open(QIODevice::WriteOnly);
            }
        }
    }

    auto timeFind = [&] {
        QProcess find;
        find.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer t;
        t.start();
        find.start(QStringLiteral("find"), {root.path(), QStringLiteral("-iname"), QStringLiteral("*.ppt")});
        find.waitForFinished(-1);
        return t.nsecsElapsed() / 1e9;
    };
    timeFind(); // both sides start from a warm cache

    QTableWidget view(0, 1);
    view.show();
    PresentationList list(&view);
    test::FakeDialogs dialogs;
    qint64 longestGapMs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });

    QElapsedTimer scan;
    scan.start();
    sinceTick.start();
    ticker.start(5);
    FolderList found{root.path() + QLatin1Char('/')};
    ThrottledYield yield(DoEvents);
    FolderScanState state{dialogs, std::ref(yield), {}, {}};
    QElapsedTimer phase;
    phase.start();
    GetSubDirectories2016(found, true, state);
    const double foldersSeconds = phase.nsecsElapsed() / 1e9;
    ErrorTrap trap(dialogs, tags::kFolderScan);
    AppendMatchingFiles(
        found, QStringLiteral("*.ppt"), [&](const QStringList& rows) { list.AppendEntries(rows); }, std::ref(trap),
        std::ref(yield));
    printf("folders %.3f s, files %.3f s\n", foldersSeconds, phase.nsecsElapsed() / 1e9 - foldersSeconds);
    const double scanSeconds = scan.nsecsElapsed() / 1e9;
    ticker.stop();
    longestGapMs = std::max(longestGapMs, sinceTick.elapsed());
    const double findSeconds = timeFind();

    printf("tree: %d folders, %d files; %d rows added\n", static_cast<int>(found.size()), folders * perFolder,
           list.Count());
    printf("scan: %.3f s, find: %.3f s, ratio %.2f (target at most 3)\n", scanSeconds, findSeconds,
           scanSeconds / findSeconds);
    printf("longest time without handling events during the scan: %lld ms\n", static_cast<long long>(longestGapMs));

    // Appending: the time of each block of 10,000 rows, first to last.
    QTableWidget bigView(0, 1);
    bigView.show();
    PresentationList big(&bigView);
    printf("appending 100,000 rows, ms per block of 10,000:");
    for (int block = 0; block < 10; ++block) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 10000; ++i) {
            big.AppendEntry(QStringLiteral("/data/talks/presentation %1.pptx").arg(block * 10000 + i));
            if (i % 256 == 255)
                DoEvents();
        }
        printf(" %lld", static_cast<long long>(t.elapsed()));
    }
    printf("\n");
    return 0;
}
