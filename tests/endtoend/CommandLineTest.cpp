// pradelux --export as a script runs it: the real program, application and
// LibreOffice, no display; what it prints, where, and its exit status.
#include "Decks.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "RunLock.h"
#include "ServerFixture.h"
#include "SettingsStore.h"
#include "WarmRenderer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace pradelux;

namespace {

class CommandLineTest : public test::ServerFixture
{
protected:
    QString in = config.path(QStringLiteral("Vorträge"));
    QString out = config.path(QStringLiteral("PDF out"));

    struct Result
    {
        int status = -1;
        QStringList written; // standard output, a line each
        QString errors;
    };

    static void start(QProcess& program, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(display));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), arguments);
    }

    Result run(const QStringList& arguments)
    {
        QProcess program;
        start(program, arguments);
        return finish(program);
    }

    // A run with a session bus of its own, so that its application renders
    // with renderer (empty: the kept one).
    static Result runAlone(const QStringList& arguments, const QString& renderer)
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        if (!renderer.isEmpty())
            env.insert(QStringLiteral("PRADELUX_OFFICE_RENDERER"), renderer);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), arguments);
        return finish(program);
    }

    static Result finish(QProcess& program)
    {
        EXPECT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(300000));
        Result r;
        r.status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        r.written = QString::fromUtf8(program.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        r.errors = QString::fromUtf8(program.readAllStandardError());
        return r;
    }
};

TEST_F(CommandLineTest, FolderOfGoodAndBrokenPresentationsGivesThePdfsTheSummaryAndStatusOne)
{
    QDir().mkpath(in + QStringLiteral("/sub"));
    QDir().mkpath(out);
    QFile::copy(test::deck(QStringLiteral("pptx")), in + QStringLiteral("/Plan.pptx"));
    QFile::copy(test::deck(QStringLiteral("odp")), in + QStringLiteral("/sub/Tour.odp"));
    QFile::copy(test::deck(QStringLiteral("odp")), in + QStringLiteral("/~lock.odp"));
    ASSERT_TRUE(test::writeFile(in + QStringLiteral("/broken.pptx"), {}, "PK\x03\x04 not really"));

    const Result mixed = run({"--export", "--output", out, in});
    EXPECT_EQ(mixed.status, 1) << mixed.errors.toStdString();
    EXPECT_EQ(mixed.written, QStringList({out + "/Plan.pdf", out + "/Tour.pdf"}));
    for (const QString& pdf : mixed.written)
        EXPECT_EQ(test::pdfPages(pdf), 3) << pdf.toStdString();
    EXPECT_TRUE(mixed.errors.contains(QStringLiteral("1/3 Processing: Plan.pptx\n")));
    EXPECT_TRUE(
        mixed.errors.contains(QStringLiteral("PowerPoint can't open %1/broken.pptx: the file is damaged").arg(in)));
    EXPECT_TRUE(
        mixed.errors.contains(QStringLiteral("Done.\n\n1 of 3 presentations gave no PDF:\n%1/broken.pptx\n").arg(in)))
        << mixed.errors.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList({"Plan.pdf", "Tour.pdf"}));
    // One application printed the rows before and after the broken one (its
    // log starts afresh with each start), and it ended with the run.
    const QString log = test::readFile(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                                       QStringLiteral("/pradelux-office/server.log"));
    for (const QString& pdf : mixed.written)
        EXPECT_TRUE(log.contains(QStringLiteral(": wrote %1 (rendered in ").arg(pdf))) << log.toStdString();
    EXPECT_TRUE(waitUntilGone(5000));

    // Only the presentations of one type, every one of which is good.
    const Result good = run({"--export", "--extension", "odp", "--output=" + out, in + "/sub"});
    EXPECT_EQ(good.status, 0) << good.errors.toStdString();
    EXPECT_EQ(good.written, QStringList({out + "/Tour.pdf"}));
    EXPECT_TRUE(good.errors.contains(QStringLiteral("Done.\n")));
    // No PowerPoint of the user's is open, so the run asks nothing about one.
    EXPECT_FALSE(good.errors.contains(QStringLiteral("PowerPoint may be open"))) << good.errors.toStdString();
    // Nothing of it is stored in the window's settings.
    EXPECT_FALSE(QFile::exists(config.path(QStringLiteral("config/Veltrande/Pradelux.ini"))));
}

// What a script or a batch system relies on, with the real program: paths
// streamed as they are written (NUL-separated with --null), a report line
// per row, one block per failed row, paths from standard input, shares that
// split the rows, no session bus needed, and status 3 without a printer.
TEST_F(CommandLineTest, ScriptsGetStreamedPathsAReportOneBlockPerFailureAndDisjointShares)
{
    QDir().mkpath(in + "/sub");
    QDir().mkpath(out);
    QFile::copy(test::deck(QStringLiteral("odp")), in + "/same.odp");
    QFile::copy(test::deck(QStringLiteral("pptx")), in + "/sub/same.pptx"); // replaces same.pdf later
    ASSERT_TRUE(test::writeFile(in + "/broken.pptx", {}, "PK\x03\x04 broken"));
    ASSERT_TRUE(test::writeFile(in + "/notes.txt", {}, "not a presentation, not a row"));
    QStringList slides;
    for (int i = 1; i <= 200; ++i)
        slides << QStringLiteral("Slide %1").arg(i);
    ASSERT_TRUE(test::writeFile(in + "/sub/zlong.fodp", {}, test::flatPresentation(slides)));

    QProcess program;
    start(program, {"--export", "--null", "--report", out + "/report.jsonl", "--output", out, in});
    QByteArray streamed;
    bool beforeTheEnd = false;
    while (program.state() != QProcess::NotRunning || program.bytesAvailable() > 0) {
        program.waitForReadyRead(100);
        const QByteArray chunk = program.readAllStandardOutput();
        beforeTheEnd = beforeTheEnd || (!chunk.isEmpty() && program.state() == QProcess::Running);
        streamed += chunk;
    }
    const Result r = finish(program);
    EXPECT_EQ(r.status, 1) << r.errors.toStdString();
    EXPECT_TRUE(beforeTheEnd);
    EXPECT_EQ(QString::fromUtf8(streamed),
              out + "/same.pdf" + QChar(0) + out + "/same.pdf" + QChar(0) + out + "/zlong.pdf" + QChar(0));
    // A failed row is one line, as cp and rsync say it, whose reason names
    // the file once; the window's report comes with --verbose alone.
    const QString failedLine =
        QStringLiteral("\npradelux: PowerPoint can't open %1/broken.pptx: the file is damaged").arg(in);
    EXPECT_EQ(r.errors.count(failedLine), 1) << r.errors.toStdString();
    EXPECT_FALSE(r.errors.contains(QStringLiteral("Application Error:"))) << r.errors.toStdString();
    const struct
    {
        QStringList options;
        bool oneLine, report, progress; // the row's one line, the window's report, progress lines
    } words[] = {
        {{"-q"}, true, false, false},
        {{"--verbose", "--report", out + "/verbose.jsonl"}, false, true, true},
        {{"-j", "2", "--quiet"}, true, false, false},
        {{"--jobs=2", "--verbose"}, false, true, true},
    };
    for (const auto& w : words) {
        const Result said = run(QStringList{"--export", "-o", out} + w.options + QStringList{in + "/broken.pptx"});
        EXPECT_EQ(said.status, 1) << said.errors.toStdString();
        EXPECT_EQ(said.errors.contains(failedLine.mid(1)), w.oneLine) << said.errors.toStdString();
        EXPECT_EQ(said.errors.contains(QStringLiteral("Application Error:\nPowerPoint can't open")), w.report)
            << said.errors.toStdString();
        EXPECT_EQ(said.errors.contains(QStringLiteral("1/1 ")), w.progress) << said.errors.toStdString();
        EXPECT_TRUE(said.errors.contains(QStringLiteral("1 of 1 presentations gave no PDF")))
            << said.errors.toStdString();
    }
    EXPECT_TRUE(test::readFile(out + "/verbose.jsonl").contains(QStringLiteral("\"error\":\"PowerPoint can't open")));
    // In a fresh home, two jobs get copies of one template of LibreOffice's
    // profile, made whole by the run before them; nothing half made stays.
    {
        QProcess jobs;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), config.path(QStringLiteral("fresh-cache")));
        jobs.setProcessEnvironment(env);
        jobs.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"),
                   {"--export", "-j", "2", "-q", "-o", out, in + "/same.odp", in + "/sub/same.pptx"});
        const Result two = finish(jobs);
        EXPECT_EQ(two.status, 1) << two.errors.toStdString(); // the second replaced the first
        const QDir cache(config.path(QStringLiteral("fresh-cache/pradelux-office")));
        EXPECT_TRUE(QFileInfo(cache.filePath(QStringLiteral("profile-template/user"))).isDir());
        EXPECT_EQ(cache.entryList({QStringLiteral(".profile-template-*")}, QDir::AllEntries | QDir::Hidden),
                  QStringList());
    }
    QFile report(out + "/report.jsonl");
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    QMap<QString, QJsonObject> rows;
    for (const QByteArray& line : report.readAll().split('\n')) {
        if (!line.isEmpty()) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            rows.insert(o.value("presentation").toString().mid(in.size() + 1), o);
        }
    }
    EXPECT_EQ(rows.keys(), QStringList({"broken.pptx", "same.odp", "sub/same.pptx", "sub/zlong.fodp"}));
    const QList<QPair<QString, QString>> statuses = {{"broken.pptx", "failed"},
                                                     {"same.odp", "replaced"},
                                                     {"sub/same.pptx", "written"},
                                                     {"sub/zlong.fodp", "written"}};
    for (const auto& [row, status] : statuses)
        EXPECT_EQ(rows[row].value("status").toString(), status) << row.toStdString();
    EXPECT_EQ(rows["sub/zlong.fodp"].value("pages").toInt(), 200);
    EXPECT_TRUE(rows["broken.pptx"].value("error").toString().contains("damaged"));

    // Ctrl+C once the first PDF was named, to the whole process group as a
    // terminal sends it, with a session bus of the program's own: the row in
    // hand ends, the last row is not started, and every PDF in the folder was
    // named.
    const QString stopped = config.path(QStringLiteral("stopped"));
    QDir().mkpath(stopped);
    QProcess interrupted;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    interrupted.setProcessEnvironment(env);
    interrupted.start(QStringLiteral("setsid"),
                      {QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), "--export", "--output", stopped, in});
    ASSERT_TRUE(interrupted.waitForReadyRead(120000));
    ::kill(-static_cast<pid_t>(interrupted.processId()), SIGINT);
    const QByteArray first = interrupted.readAllStandardOutput();
    const Result cut = finish(interrupted);
    EXPECT_EQ(cut.status, 130) << cut.errors.toStdString();
    QStringList named = (QString::fromUtf8(first) + QLatin1Char('\n') + cut.written.join(QLatin1Char('\n')))
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    named.removeDuplicates();
    QStringList inFolder;
    for (const QString& name : QDir(stopped).entryList(QDir::Files))
        inFolder << stopped + QLatin1Char('/') + name;
    EXPECT_EQ(named, inFolder);
    EXPECT_FALSE(QFile::exists(stopped + QStringLiteral("/zlong.pdf")));
    // The signal may come before the third row began, or while it ran.
    EXPECT_TRUE(cut.errors.contains(QRegularExpression(QStringLiteral("pradelux: interrupted after [23] of 4 "))))
        << cut.errors.toStdString();

    // Two shares of the same rows: apart, and together every row.
    QStringList taken;
    for (const char* shard : {"1/2", "2/2"}) {
        const Result s = run({"--export", "--shard", shard, "--report", out + "/share.jsonl", "--output", out, in});
        QFile share(out + "/share.jsonl");
        ASSERT_TRUE(share.open(QIODevice::ReadOnly));
        for (const QByteArray& line : share.readAll().split('\n'))
            if (!line.isEmpty())
                taken << QJsonDocument::fromJson(line).object().value("presentation").toString().mid(in.size() + 1);
    }
    taken.sort();
    EXPECT_EQ(taken, rows.keys());
    // One presentation's two shares: one of them is empty, and that task has
    // done its part as well as the other.
    int reported = 0;
    for (const char* shard : {"1/2", "2/2"}) {
        const Result s = run({"--export", "--shard", shard, "--report", out + "/one.jsonl", "--output", out,
                              test::deck(QStringLiteral("odp"))});
        EXPECT_EQ(s.status, 0) << shard << s.errors.toStdString();
        reported += test::readFile(out + "/one.jsonl").count(QLatin1Char('\n'));
    }
    EXPECT_EQ(reported, 1);

    // Two jobs at once, each with its own application and LibreOffice: the
    // same rows end as they did in one run, also from a temporary folder so
    // deep that a job's runtime folder has no room for a socket's path.
    const QString deep = config.path(QStringLiteral("tmp/") + QString(90, QLatin1Char('d')));
    QDir().mkpath(deep);
    const test::ScopedEnv tmp("TMPDIR", deep.toUtf8());
    const Result jobs = run({"--export", "--jobs", "2", "--report", out + "/jobs.jsonl", "--output", out, in});
    EXPECT_EQ(jobs.status, 1) << jobs.errors.toStdString();
    QFile jobsReport(out + "/jobs.jsonl");
    ASSERT_TRUE(jobsReport.open(QIODevice::ReadOnly));
    QStringList jobRows;
    for (const QByteArray& line : jobsReport.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.isEmpty())
            jobRows << o.value("presentation").toString().mid(in.size() + 1) + ' ' + o.value("status").toString();
    }
    jobRows.sort();
    EXPECT_EQ(jobRows, QStringList({"broken.pptx failed", "same.odp replaced", "sub/same.pptx written",
                                    "sub/zlong.fodp written"}));
    EXPECT_TRUE(test::pdfText(out + "/zlong.pdf").contains(QStringLiteral("Slide 200")));
    EXPECT_EQ(jobs.errors.count(QStringLiteral("\nDone.")), 1) << jobs.errors.toStdString();

    // Paths from standard input, no session bus, and then no printer.
    QProcess piped;
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    noBus.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const QString runtime = config.path(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    noBus.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    piped.setProcessEnvironment(noBus);
    piped.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"),
                {"--export", "--files-from", "-", "--null", "--output", out});
    piped.write((in + "/same.odp\0").toUtf8());
    piped.closeWriteChannel();
    const Result fromStdin = finish(piped);
    EXPECT_EQ(fromStdin.status, 0) << fromStdin.errors.toStdString();
    EXPECT_EQ(test::pdfPages(out + "/same.pdf"), 3);
    // What it started on its own bus ended with it: a batch task that removes
    // its folders next finds nothing still writing in them.
    QStringList left;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QByteArray environment = test::readFile("/proc/" + pid + "/environ").toUtf8();
        if (environment.contains(("XDG_RUNTIME_DIR=" + runtime).toUtf8() + '\0') && !ProcessGone(pid.toLongLong()))
            left << test::readFile("/proc/" + pid + "/comm").trimmed();
    }
    EXPECT_EQ(left, QStringList()) << "still running after the run";
    EXPECT_EQ(QDir(runtime).entryList({QStringLiteral("pradelux-render-*")}, QDir::System), QStringList());
    ASSERT_TRUE(printers.remove(QStringLiteral("Veltrande PDF Writer")));
    const Result noPrinter = run({"--export", "--output", out, in});
    EXPECT_EQ(noPrinter.status, 3) << noPrinter.errors.toStdString();
    EXPECT_TRUE(noPrinter.errors.contains(QStringLiteral("Veltrande PDF Writer is not installed")));
    EXPECT_EQ(run({"--version"}).written, QStringList({"pradelux 0.1"}));
}

// However a run is cut off, what it started ends with it within 10 s, and
// its temporary folders go: a reader of its output that goes away, a closed
// terminal, SIGTERM twice, SIGKILL, and SIGKILL of a --jobs run.
TEST_F(CommandLineTest, RunCutOffAnyWayLeavesNothingRunningOrLyingAround)
{
    QDir().mkpath(in);
    // Decks that take a while, so that a second signal comes while the run
    // still finishes the deck in hand after the first.
    QStringList slides;
    for (int i = 1; i <= 200; ++i)
        slides << QStringLiteral("Slide %1").arg(i);
    for (int i = 1; i <= 40; ++i)
        ASSERT_TRUE(test::writeFile(in + QStringLiteral("/deck%1.fodp").arg(i), {}, test::flatPresentation(slides)));
    const struct
    {
        const char* how;
        QStringList extra;
        QList<int> sent; // signals sent once the first PDF is printed
        int status;      // -1: killed
        const char* said;
    } rows[] = {
        {"reader gone", {}, {}, 141, "pradelux: the standard output was closed; stopped after"},
        {"terminal closed", {}, {SIGHUP}, 130, "pradelux: interrupted after"},
        {"SIGTERM twice", {}, {SIGTERM, SIGTERM}, 128 + SIGTERM, ""},
        {"SIGKILL", {}, {SIGKILL}, -1, ""},
        {"SIGKILL of --jobs 2", {"--jobs", "2"}, {SIGKILL}, -1, ""},
        {"Ctrl+C twice of --jobs 2", {"--jobs", "2"}, {SIGINT, SIGINT}, 128 + SIGINT, ""},
    };
    int n = 0;
    for (const auto& row : rows) {
        // Short: a job's renderer socket lies four folders below.
        const QString base = config.path(QStringLiteral("c%1").arg(++n));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (const char* folder : {"runtime", "cache", "tmp", "out"}) {
            QDir().mkpath(base + QLatin1Char('/') + QLatin1String(folder));
            if (QLatin1String(folder) != QLatin1String("out"))
                env.insert(QLatin1String(folder == QByteArray("runtime") ? "XDG_RUNTIME_DIR"
                                         : folder == QByteArray("cache") ? "XDG_CACHE_HOME"
                                                                         : "TMPDIR"),
                           base + QLatin1Char('/') + QLatin1String(folder));
        }
        QFile::setPermissions(base + "/runtime",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcess program;
        QByteArray said; // the error output read while the signals were sent
        program.setProcessEnvironment(env);
        const QStringList arguments = QStringList{"--export", "--output", base + "/out", in} + row.extra;
        if (row.sent.isEmpty()) // its output read by a pipe that closes after one line
            program.start(QStringLiteral("bash"),
                          QStringList{QStringLiteral("-c"),
                                      QStringLiteral("\"$0\" \"$@\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}"),
                                      QStringLiteral(PRADELUX_APPFOLDER "/pradelux")} +
                              arguments);
        else
            program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), arguments);
        ASSERT_TRUE(program.waitForStarted());
        if (!row.sent.isEmpty()) {
            while (program.state() == QProcess::Running && !program.canReadLine())
                program.waitForReadyRead(100);
            ASSERT_EQ(program.state(), QProcess::Running)
                << row.how << ' ' << program.readAllStandardError().toStdString();
            for (int i = 0; i < row.sent.size(); ++i) {
                ASSERT_GT(program.processId(), 0) << row.how;
                ::kill(static_cast<pid_t>(program.processId()), row.sent[i]);
                // The next one once this one was taken: two pending at once
                // are one. A small deck is done within a few milliseconds.
                QElapsedTimer clock;
                clock.start();
                while (i + 1 < row.sent.size() && !said.contains("stopping after") && clock.elapsed() < 5000) {
                    program.waitForReadyRead(5);
                    said += program.readAllStandardError();
                }
            }
        }
        Result r = finish(program);
        r.errors.prepend(QString::fromUtf8(said));
        EXPECT_EQ(r.status, row.status) << row.how << ' ' << r.errors.toStdString();
        EXPECT_TRUE(r.errors.contains(QLatin1String(row.said))) << row.how << ' ' << r.errors.toStdString();
        // Nothing of the run is left: its bus, application, renderer,
        // LibreOffice and jobs (and theirs) all had folders below base.
        QStringList left;
        QElapsedTimer clock;
        clock.start();
        do {
            QTest::qWait(200);
            left.clear();
            for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
                const QByteArray environment = test::readFile("/proc/" + pid + "/environ").toUtf8();
                if (environment.contains(("=" + base + "/").toUtf8()) && !ProcessGone(pid.toLongLong()))
                    left << test::readFile("/proc/" + pid + "/comm").trimmed();
            }
        } while (!left.isEmpty() && clock.elapsed() < 10000);
        EXPECT_EQ(left, QStringList()) << row.how << ": still running 10 s after the run";
        // A killed run cannot tidy up: the next run of the user does.
        if (row.status == -1) {
            program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"),
                          {"--export", "--output", base + "/out", in + "/deck1.fodp"});
            EXPECT_EQ(finish(program).status, 0) << row.how;
        }
        EXPECT_EQ(QDir(base + "/tmp").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
            << row.how;
    }
}

// A nightly run over an archive with --update renders only what changed.
TEST_F(CommandLineTest, UpdateExportsOnlyPresentationsNewerThanTheirPdfs)
{
    QDir().mkpath(in);
    QDir().mkpath(out);
    for (const char* name : {"a.odp", "b.pptx", "c.odp"})
        ASSERT_TRUE(QFile::copy(test::deck(QFileInfo(QLatin1String(name)).suffix()), in + '/' + QLatin1String(name)));
    const QString report = config.path(QStringLiteral("report.jsonl"));
    const auto statuses = [&] {
        QStringList seen;
        for (const QString& line : test::readFile(report).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject row = QJsonDocument::fromJson(line.toUtf8()).object();
            seen << QFileInfo(row.value("presentation").toString()).fileName() + ' ' + row.value("status").toString();
        }
        seen.sort();
        return seen;
    };
    const QStringList update = {"--export", "--update", "--report", report, "--output", out, in};
    const Result first = run(update);
    EXPECT_EQ(first.status, 0) << first.errors.toStdString();
    EXPECT_EQ(statuses(), QStringList({"a.odp written", "b.pptx written", "c.odp written"}));
    // Unchanged: nothing is rendered, nothing printed, no failure.
    const QString log = qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/pradelux-office/server.log");
    const qsizetype rendered = test::readFile(log).count(QStringLiteral(": wrote "));
    // With no LibreOffice kept from the first run, the one the application
    // starts as it starts is ended with it when nothing was rendered.
    const QString socket = render::client::WarmRenderer::defaultSocketPath();
    for (const qint64 pid : renderersOf(socket))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(renderersGone(socket, 5000));
    const Result again = run(update);
    EXPECT_EQ(again.status, 0) << again.errors.toStdString();
    EXPECT_EQ(again.written, QStringList());
    EXPECT_EQ(statuses(), QStringList({"a.odp skipped", "b.pptx skipped", "c.odp skipped"}));
    // The application's log is begun anew or added to: either way no PDF more.
    const qsizetype after = test::readFile(log).count(QStringLiteral(": wrote "));
    EXPECT_TRUE(after == 0 || after == rendered) << after;
    EXPECT_TRUE(waitUntilGone(5000));
    EXPECT_TRUE(renderersGone(socket, 5000));
    // One deck changed after its PDF: only it is exported again.
    const QDateTime later = QFileInfo(out + "/b.pdf").lastModified().addSecs(5);
    QFile touched(in + "/b.pptx");
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite) && touched.setFileTime(later, QFileDevice::FileModificationTime));
    touched.close();
    const Result third = run(update);
    EXPECT_EQ(third.status, 0) << third.errors.toStdString();
    EXPECT_EQ(third.written, QStringList({out + "/b.pdf"}));
    EXPECT_EQ(statuses(), QStringList({"a.odp skipped", "b.pptx written", "c.odp skipped"}));
}

// An archive's folder tree: the same name in two folders gives two PDFs with
// --keep-folders, in every way the run can be split; without it one replaces
// the other, and the run says how to keep them apart.
TEST_F(CommandLineTest, KeepFoldersGivesEachFoldersPdfsTheirOwnFolder)
{
    const QString archive = in + QStringLiteral("/lectures");
    for (const char* deck : {"physics/week01.pptx", "chemistry/week01.pptx", "chemistry/lab/week02.odp"}) {
        QDir().mkpath(QFileInfo(archive + '/' + QLatin1String(deck)).path());
        ASSERT_TRUE(
            QFile::copy(test::deck(QFileInfo(QLatin1String(deck)).suffix()), archive + '/' + QLatin1String(deck)));
    }
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("odp")), in + QStringLiteral("/alone.odp")));
    const QStringList expected = {out + "/alone.pdf", out + "/chemistry/lab/week02.pdf", out + "/chemistry/week01.pdf",
                                  out + "/physics/week01.pdf"};
    const QStringList given = {"--export", "--keep-folders", "--output", out, archive, in + "/alone.odp"};
    const struct
    {
        const char* how;
        QList<QStringList> runs; // what is added to the arguments, run after run
    } rows[] = {
        {"one run", {{}}},
        {"two shares", {{"--shard", "1/2"}, {"--shard", "2/2"}}},
        {"two jobs", {{"--jobs", "2"}}},
    };
    for (const auto& row : rows) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QStringList written;
        for (const QStringList& extra : row.runs) {
            const Result r = run(given + extra);
            EXPECT_EQ(r.status, 0) << row.how << ' ' << r.errors.toStdString();
            written += r.written;
        }
        written.sort();
        EXPECT_EQ(written, expected) << row.how;
        for (const QString& pdf : expected)
            EXPECT_EQ(test::pdfPages(pdf), 3) << row.how << ' ' << pdf.toStdString();
    }
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const Result flat = run({"--export", "--output", out, archive});
    EXPECT_EQ(flat.status, 1) << flat.errors.toStdString();
    EXPECT_TRUE(flat.errors.contains(
        QStringLiteral("\nRows of the same name replace each other; --keep-folders keeps each folder's PDFs apart.\n")))
        << flat.errors.toStdString();
}

// One file's trouble costs that row and no more, in a batch task's bare
// environment (LANG=C): a pipe and a package of 4,096 entries over one
// stream fail at once with their reasons; names outside ASCII, a linked deck,
// a deck below a linked folder and a deck named twice export, once each.
TEST_F(CommandLineTest, OneFilesTroubleIsThatRowsAloneWhateverTheLocale)
{
    const QString real = config.path(QStringLiteral("elsewhere"));
    for (const QString& folder : {in + "/real", real, out})
        QDir().mkpath(folder);
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/strange_files.py"),
                                 test::deck(QStringLiteral("odp")), test::deck(QStringLiteral("pptx")),
                                 config.path(QStringLiteral("strange"))}),
              0);
    ASSERT_TRUE(QFile::copy(config.path(QStringLiteral("strange/bomb4096.pptx")), in + "/bomb4096.pptx"));
    ASSERT_TRUE(QFile::copy(config.path(QStringLiteral("strange/locked.pptx")), in + "/locked.pptx"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(in + "/pipe.pptx").constData(), 0600), 0);
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("odp")), in + QStringLiteral("/Einführung.odp")));
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("pptx")), in + QStringLiteral("/Q3 plan – Überblick.pptx")));
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("odp")), in + "/real/deck.odp"));
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("ppt")), real + "/talk.ppt"));
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("odp")), real + "/target.odp"));
    ASSERT_TRUE(QFile::link(real + "/target.odp", in + "/linked.odp"));
    ASSERT_TRUE(QFile::link(real, in + "/talks"));
    const QStringList arguments = {"--export",
                                   "--output",
                                   out,
                                   "--report",
                                   config.path("rows.jsonl"),
                                   in + "/bomb4096.pptx",
                                   in + "/locked.pptx",
                                   in + "/pipe.pptx",
                                   in + QStringLiteral("/Einführung.odp"),
                                   in + QStringLiteral("/Q3 plan – Überblick.pptx"),
                                   in + "/linked.odp",
                                   in + "/talks/talk.ppt",
                                   in + "/real",
                                   in + "/real/deck.odp"};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* locale : {"LC_ALL", "LC_CTYPE", "LANGUAGE"})
        env.remove(QLatin1String(locale));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const char* lang : {"C", ""}) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        if (*lang)
            env.insert(QStringLiteral("LANG"), QLatin1String(lang));
        else
            env.remove(QStringLiteral("LANG"));
        QProcess program;
        program.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), arguments);
        const Result r = finish(program);
        EXPECT_LT(clock.elapsed(), 60000) << lang;
        EXPECT_EQ(r.status, 1) << lang << r.errors.toStdString();
        QStringList written = r.written;
        written.sort();
        EXPECT_EQ(written, QStringList({out + QStringLiteral("/Einführung.pdf"),
                                        out + QStringLiteral("/Q3 plan – Überblick.pdf"), out + "/deck.pdf",
                                        out + "/linked.pdf", out + "/talk.pdf"}))
            << "LANG=" << lang << r.errors.toStdString();
        EXPECT_TRUE(r.errors.contains(in + "/pipe.pptx: it is not a regular file.")) << r.errors.toStdString();
        EXPECT_TRUE(r.errors.contains(in + "/bomb4096.pptx: the file is damaged (the part \""))
            << r.errors.toStdString();
        // A protected deck is named so, and the report tells it from a damaged one.
        EXPECT_TRUE(r.errors.contains(in + "/locked.pptx: it is protected by a password.")) << r.errors.toStdString();
        QStringList marked;
        for (const QByteArray& line : test::readFile(config.path("rows.jsonl")).toUtf8().split('\n')) {
            const QJsonObject row = QJsonDocument::fromJson(line).object();
            if (row.value("protected").toBool())
                marked << QFileInfo(row.value("presentation").toString()).fileName();
        }
        EXPECT_EQ(marked, QStringList({"locked.pptx"}));
        EXPECT_TRUE(r.errors.contains(QStringLiteral("3 of 8 presentations gave no PDF"))) << r.errors.toStdString();
        EXPECT_FALSE(r.errors.contains(QStringLiteral("replaced"))) << r.errors.toStdString();
    }
}

// A kernel that refuses the sandbox's namespaces (Ubuntu's restriction; here
// a user namespace whose own limit forbids nested ones): nothing is rendered
// and the run says why, once, with status 3.
TEST_F(CommandLineTest, WhereNoSandboxCanBeMadeNothingIsRenderedAndItIsSaidOnce)
{
    QDir().mkpath(in);
    QDir().mkpath(out);
    ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("odp")), in + "/a.odp"));
    QProcess program;
    program.start(QStringLiteral("unshare"),
                  {QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("sh"),
                   QStringLiteral("-c"),
                   QStringLiteral("echo 0 > /proc/sys/user/max_user_namespaces && exec \"$0\" \"$@\""),
                   QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), QStringLiteral("--export"),
                   QStringLiteral("--output"), out, in});
    const Result r = finish(program);
    EXPECT_EQ(r.status, 3) << r.errors.toStdString();
    EXPECT_EQ(r.errors.count(QStringLiteral("Presentations cannot be printed safely here")), 1)
        << r.errors.toStdString();
    EXPECT_TRUE(r.written.isEmpty());
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList());
}

TEST_F(CommandLineTest, WrongUsageExportsNothingAndSaysWhatIsWrong)
{
    QDir().mkpath(out);
    const QString deck = test::deck(QStringLiteral("odp"));
    QList<QPair<QStringList, QString>> cases = {
        {{"--export", "--output", out, deck, in + "/missing.pptx"}, "No such file or folder: " + in + "/missing.pptx"},
        {{"--export", "--colour", deck}, "Unknown option: --colour"},
        {{"--export", deck, "-j"}, "-j needs a value."},
        {{"--export", "--output", in + "/nowhere", deck}, "The output folder does not exist: " + in + "/nowhere"},
        {{"--export"}, "No presentation or folder was given."},
        // What LibreOffice would refuse, or quietly make otherwise.
        {{"--export", "--pdfua", "--pdfa", "1", deck}, "--pdfua cannot be combined with --pdfa 1"},
        {{"--export", "--pdfua", "--no-tags", deck}, "--pdfua needs the tags"},
        {{"--export", "--pdfa", "2", "--no-tags", deck}, "--no-tags cannot be combined with --pdfa"},
        {{"--export", "--pdfa", "4", deck}, "--pdfa takes 1, 2 or 3"},
        {{"--export", "--jpeg-quality", "80", "--lossless-images", deck}, "--jpeg-quality has no effect"},
        {{"--export", "--notes", "--notes-only", deck}, "--notes and --notes-only cannot be combined"},
        {{"--export", "--slides", "3-1", deck}, "the range 3-1 ends before it starts"},
        {{"--export", "--slides", "1,,2", deck}, "--slides takes a list like 1-3,7"},
        {{"--export", "--slides", "0", deck}, "--slides takes a list like 1-3,7"},
    };
    // A list past every presentation's last slide, counted from each kind
    // of file as it lists its slides (three, one of them hidden).
    for (const QString kind : {"fodp", "odp", "pptx", "ppt"})
        cases.append({{"--export", "--output", out, "--slides", "2,4-9", test::deck(kind)},
                      "--slides 2,4-9 starts past the last slide of every presentation: slide 4 was asked for, and "
                      "the longest has 3 slides."});
    for (const auto& [arguments, why] : cases) {
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 2) << why.toStdString();
        EXPECT_TRUE(r.errors.contains(why)) << r.errors.toStdString();
        EXPECT_TRUE(r.written.isEmpty());
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList());
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.written.join('\n').startsWith(QStringLiteral("Usage: pradelux --export")));
    // The window without a display says so, and what works without one.
    const Result window = run({deck});
    EXPECT_EQ(window.status, 1) << window.errors.toStdString();
    EXPECT_EQ(window.errors, QStringLiteral("pradelux: there is no display to show the window on (neither DISPLAY nor "
                                            "WAYLAND_DISPLAY is set); pradelux --export works without one.\n"));
}

// The PDF choices, in both renderers, checked with Poppler's and qpdf's
// tools: tagged by default with the slides' text in its structure tree and
// a title (the file's name), PDF/A's and PDF/UA's marks with every font
// embedded, and the report saying what each PDF is.
TEST_F(CommandLineTest, PdfsAreTaggedByDefaultAndArchivesAndAccessibilityGetTheirMarks)
{
    const struct
    {
        QStringList options;
        bool tagged;
        int pdfa; // the part its metadata names
        bool pdfua;
        int pages = 3;             // the deck's three slides, the hidden one included
        bool notes = false;        // notes pages (portrait) first, not the slides (landscape)
        const char* shown = "123"; // the slides whose text the PDF holds
    } cases[] = {
        {{}, true, 0, false},
        {{"--no-tags"}, false, 0, false},
        {{"--pdfa", "1"}, true, 1, false},
        {{"--pdfa", "2"}, true, 2, false},
        {{"--pdfa", "3"}, true, 3, false},
        {{"--pdfua"}, true, 0, true},
        {{"--no-hidden-slides"}, true, 0, false, 2, false, "13"},
        {{"--notes-only"}, true, 0, false, 3, true},
        {{"--notes"}, true, 0, false, 6},
        {{"--slides", "2-3"}, true, 0, false, 2, false, "23"},
        {{"--slides", "3,1-2", "--no-hidden-slides", "--notes-only"}, true, 0, false, 2, true, "13"},
        // The window keeps PDF/A-2 (below): only this run asks for it.
        {{"--window-choices"}, true, 2, false},
    };
    SettingsStore window;
    window.WriteSetting(pdfsettings::kPdfA, QStringLiteral("2"));
    for (const QString& renderer : {QString(), QStringLiteral("soffice")}) {
        for (const auto& c : cases) {
            const std::string what = (renderer.isEmpty() ? "kept " : "cold ") + c.options.join(' ').toStdString();
            const QString folder = config.path(QStringLiteral("choices"));
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
            const QString deck = folder + QStringLiteral("/Quarterly talk.pptx");
            QFile::copy(test::deck(QStringLiteral("pptx")), deck);
            const Result r = runAlone(QStringList{"--export", "--report", folder + "/report.json", "--output", folder} +
                                          c.options + QStringList{deck},
                                      renderer);
            ASSERT_EQ(r.status, 0) << what << r.errors.toStdString();
            const QString pdf = folder + QStringLiteral("/Quarterly talk.pdf");
            const QString info = test::outputOf(QStringLiteral("pdfinfo"), {pdf});
            const QString meta = test::outputOf(QStringLiteral("pdfinfo"), {QStringLiteral("-meta"), pdf});
            EXPECT_EQ(info.contains(QRegularExpression(QStringLiteral("Tagged: +yes"))), c.tagged) << what;
            if (c.tagged) {
                EXPECT_TRUE(test::outputOf(QStringLiteral("pdfinfo"), {QStringLiteral("-struct-text"), pdf})
                                .contains(QStringLiteral("Slide three")))
                    << what;
            }
            // The kept renderer names an untitled presentation's PDF after
            // its file; the cold one leaves the presentation's own title.
            if (renderer.isEmpty() && c.tagged) {
                EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title: +Quarterly talk\\n")))) << what;
            }
            EXPECT_EQ(meta.contains(QStringLiteral("pdfaid:part>%1<").arg(c.pdfa)) ||
                          meta.contains(QStringLiteral("pdfaid:part=\"%1\"").arg(c.pdfa)),
                      c.pdfa > 0)
                << what << meta.toStdString();
            if (c.pdfa > 0) {
                // Level B, or A, which holds B's rules and the tags.
                EXPECT_TRUE(meta.contains(QRegularExpression(QStringLiteral("pdfaid:conformance(>|=\")[AB]"))))
                    << what << meta.toStdString();
                // Every font embedded, and nothing qpdf finds wrong.
                const QStringList fonts =
                    test::outputOf(QStringLiteral("pdffonts"), {pdf}).split('\n', Qt::SkipEmptyParts).mid(2);
                EXPECT_FALSE(fonts.isEmpty()) << what;
                for (const QString& font : fonts)
                    EXPECT_EQ(font.mid(80, 3), QStringLiteral("yes")) << what << font.toStdString();
                QProcess check;
                check.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf});
                check.waitForFinished(60000);
                EXPECT_EQ(check.exitCode(), 0) << what << check.readAllStandardOutput().toStdString();
            }
            EXPECT_EQ(meta.contains(QStringLiteral("pdfuaid:part>1<")) ||
                          meta.contains(QStringLiteral("pdfuaid:part=\"1\"")),
                      c.pdfua)
                << what;
            // The report says what each PDF is, as the check outside found it.
            QFile report(folder + QStringLiteral("/report.json"));
            ASSERT_TRUE(report.open(QIODevice::ReadOnly));
            const QJsonObject row = QJsonDocument::fromJson(report.readLine()).object();
            EXPECT_EQ(row.value(QStringLiteral("tagged")).toBool(), c.tagged) << what;
            EXPECT_EQ(row.value(QStringLiteral("pdfa")).toInt(), c.pdfa) << what;
            EXPECT_EQ(row.value(QStringLiteral("pages")).toInt(), c.pages) << what;
            const QString text = test::pdfText(pdf);
            for (const auto& [slide, words] :
                 {std::pair{'1', "Slide one"}, {'2', "Slide two, hidden"}, {'3', "Slide three"}})
                EXPECT_EQ(text.contains(QLatin1String(words)), QByteArray(c.shown).contains(slide)) << what << words;
            const QRegularExpressionMatch size =
                QRegularExpression(QStringLiteral("Page size: +([0-9.]+) x ([0-9.]+)")).match(info);
            ASSERT_TRUE(size.hasMatch()) << what;
            EXPECT_EQ(size.captured(2).toDouble() > size.captured(1).toDouble(), c.notes) << what;
            EXPECT_TRUE(info.contains(
                QRegularExpression(QStringLiteral("PDF version: +%1")
                                       .arg(QRegularExpression::escape(row.value("pdfVersion").toString())))))
                << what;
        }
    }
    // A range past one presentation's last slide fails that row alone.
    const QString folder = config.path(QStringLiteral("ranges"));
    QDir().mkpath(folder);
    test::writeFile(folder + QStringLiteral("/five.fodp"), {},
                    test::flatPresentation({"One", "Two", "Three", "Four", "Five"}));
    QFile::copy(test::deck(QStringLiteral("pptx")), folder + QStringLiteral("/three.pptx"));
    const Result r = runAlone(
        {"--export", "--output", folder, "--slides", "4-9", folder + "/three.pptx", folder + "/five.fodp"}, {});
    EXPECT_EQ(r.status, 1) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(folder + "/three.pptx cannot be printed from slide 4: it has 3 slides."))
        << r.errors.toStdString();
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/three.pdf")));
    EXPECT_EQ(test::pdfPages(folder + QStringLiteral("/five.pdf")), 2);
}

// The image options on a deck that is one large photograph: each gives the
// file size it promises against the default, in both renderers.
TEST_F(CommandLineTest, ImageOptionsMakeAPictureHeavyDeckSmallerOrLossless)
{
    // A photograph's worth of detail: smooth colours with fine noise.
    QImage photo(1000, 750, QImage::Format_RGB32);
    quint32 noise = 12345;
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            noise = noise * 1103515245 + 12345;
            const int n = static_cast<int>((noise >> 16) % 40);
            photo.setPixel(x, y, qRgb((x / 7 + n) % 256, (y / 5 + n) % 256, ((x + y) / 11 + n) % 256));
        }
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    photo.save(&png, "PNG");
    const QByteArray deck =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.3\" "
        "office:mimetype=\"application/vnd.oasis.opendocument.presentation\"><office:body><office:presentation>"
        "<draw:page draw:name=\"s1\"><draw:frame svg:x=\"1cm\" svg:y=\"1cm\" svg:width=\"20cm\" "
        "svg:height=\"15cm\"><draw:image><office:binary-data>" +
        png.data().toBase64() +
        "</office:binary-data></draw:image></draw:frame></draw:page></office:presentation></office:body>"
        "</office:document>\n";
    const QString folder = config.path(QStringLiteral("pictures"));
    QDir().mkpath(folder);
    test::writeFile(folder + QStringLiteral("/photo.fodp"), {}, deck);
    for (const QString& renderer : {QString(), QStringLiteral("soffice")}) {
        QMap<QString, qint64> sizes;
        for (const QString& option : {QString(), QStringLiteral("--image-dpi=75"), QStringLiteral("--jpeg-quality=20"),
                                      QStringLiteral("--lossless-images")}) {
            const QString out = folder + QStringLiteral("/out");
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            const Result r = runAlone(QStringList{"--export", "--output", out, folder + "/photo.fodp"} +
                                          (option.isEmpty() ? QStringList() : QStringList{option}),
                                      renderer);
            ASSERT_EQ(r.status, 0) << option.toStdString() << r.errors.toStdString();
            sizes[option] = QFileInfo(out + QStringLiteral("/photo.pdf")).size();
        }
        const std::string what = renderer.isEmpty() ? "kept" : "cold";
        EXPECT_LT(sizes["--image-dpi=75"], sizes[""] / 2) << what;
        EXPECT_LT(sizes["--jpeg-quality=20"], sizes[""]) << what;
        EXPECT_GT(sizes["--lossless-images"], sizes[""]) << what;
    }
}

// A folder that is also the output folder, as a careful user meets it: what
// the run leaves there is exactly what its final message says, nothing else
// is touched, and nothing from outside the decks gets in or out.
TEST_F(CommandLineTest, FolderThatIsAlsoTheOutputFolderKeepsEverythingTheRunDidNotReplace)
{
    QTcpServer server; // counts every request a deck makes
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    int requests = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            ++requests;
            s->close();
        }
    });
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/hostile_decks.py"),
                                 test::deck(QStringLiteral("pptx")), in, config.path(QStringLiteral("outside")),
                                 QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())}),
              0);
    QFile::rename(in + "/links.pptx", in + "/linked.pptx");
    QFile::copy(test::deck(QStringLiteral("pptx")), in + "/good.pptx");
    QFile::copy(test::deck(QStringLiteral("odp")), in + "/twin.odp");
    QDir().mkpath(in + "/sub");
    ASSERT_TRUE(test::writeFile(in + "/sub/twin.pptx", {}, "PK\x03\x04 broken")); // the later twin
    ASSERT_TRUE(test::writeFile(in + "/invoice.pdf", {}, "%PDF-1.4 an invoice"));
    ASSERT_TRUE(test::writeFile(in + "/notes.txt", {}, "just notes"));
    QFile odp(test::deck(QStringLiteral("odp")));
    ASSERT_TRUE(odp.open(QIODevice::ReadOnly));
    const QByteArray whole = odp.readAll();
    ASSERT_TRUE(test::writeFile(in + "/refail.odp", {}, whole.left(whole.size() / 2))); // damaged now
    ASSERT_TRUE(test::writeFile(in + "/refail.pdf", {}, "%PDF-1.4 its good PDF of last week"));
    QByteArray flipped = whole;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
    ASSERT_TRUE(test::writeFile(in + "/damaged.odp", {}, flipped));
    const QByteArray undecodable = QFile::encodeName(in) + "/bad\xff.pptx"; // not valid UTF-8
    QFile::copy(test::deck(QStringLiteral("pptx")), in + "/bad.tmp");
    ASSERT_EQ(::rename(QFile::encodeName(in + "/bad.tmp").constData(), undecodable.constData()), 0);
    // Listed by the system's names: Qt 6.8's QDirIterator ends its listing
    // at a name that is not valid UTF-8.
    const auto snapshot = [&] {
        QMap<QString, QByteArray> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(QFile::encodeName(in).toStdString())) {
            if (entry.is_directory())
                continue;
            std::ifstream f(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(f), {}};
            files.insert(QFile::decodeName(entry.path().c_str()),
                         f.is_open() ? QByteArray::fromStdString(bytes) : QByteArray("unreadable"));
        }
        return files;
    };
    const auto before = snapshot();

    // The command line's default output folder may be the folder itself;
    // every file of it is a row.
    QProcess program;
    start(program, {"--export", "--extension", "*", "--output", in, in});
    while (program.state() != QProcess::NotRunning)
        QTest::qWait(50); // the server above answers meanwhile
    const Result r = finish(program);

    const QStringList written = {in + "/good.pdf", in + "/linked.pdf", in + "/links.pdf", in + "/macro.pdf",
                                 in + "/twin.pdf"};
    EXPECT_EQ(r.status, 1) << r.errors.toStdString();
    QStringList sorted = r.written;
    sorted.sort();
    EXPECT_EQ(sorted, written) << r.errors.toStdString();
    const auto after = snapshot();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString() << " changed";
    QStringList added = after.keys();
    for (const QString& old : before.keys())
        added.removeOne(old);
    EXPECT_EQ(added, written);
    // Every row that gave no PDF is named, and no PDF is said to be replaced.
    for (const char* failed :
         {"invoice.pdf", "refail.pdf", "notes.txt", "refail.odp", "sub/twin.pptx", "damaged.odp", "beside.png"})
        EXPECT_TRUE(r.errors.contains('\n' + in + '/' + QLatin1String(failed) + '\n')) << failed;
    EXPECT_TRUE(r.errors.contains(QStringLiteral("8 of 13 presentations gave no PDF:"))) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(in + QStringLiteral("/bad\uFFFD.pptx (its name is not valid UTF-8)")));
    struct stat st;
    EXPECT_EQ(::stat(undecodable.constData(), &st), 0); // untouched
    // Given as an argument, it is named the same way instead of "No such file".
    QProcess named;
    named.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                       QStringLiteral("exec \"$0\" --export --output \"$1\" "
                                                      "\"$(printf '%s/bad\\377.pptx' \"$1\")\""),
                                       QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), in});
    const Result one = finish(named);
    EXPECT_EQ(one.status, 1) << one.errors.toStdString();
    EXPECT_TRUE(one.errors.contains(QStringLiteral("(its name is not valid UTF-8)"))) << one.errors.toStdString();
    ::unlink(undecodable.constData()); // the temporary folder cannot name it to remove it
    EXPECT_FALSE(r.errors.contains(QStringLiteral("replaced")));
    EXPECT_TRUE(r.errors.contains(in + "/invoice.pdf is itself the PDF that its export would write"));
    EXPECT_TRUE(r.errors.contains(QStringLiteral("%1/refail.odp: the file is damaged").arg(in)));

    // Nothing was fetched, nothing from outside the decks' folder was read,
    // no macro ran; the picture beside the decks is in their PDFs.
    EXPECT_EQ(requests, 0);
    for (const QString& pdf : written)
        EXPECT_FALSE(test::pdfText(pdf).contains(QStringLiteral("OUTSIDE-SECRET-TEXT"))) << pdf.toStdString();
    EXPECT_FALSE(test::pdfText(in + "/macro.pdf").contains(QStringLiteral("MACRO RAN")));
    EXPECT_FALSE(QFile::exists(in + "/macro-ran.txt"));
    for (const QString& linked : {in + "/links.pdf", in + "/linked.pdf"}) {
        QProcess images;
        images.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), linked});
        ASSERT_TRUE(images.waitForFinished(30000));
        const QString list = QString::fromUtf8(images.readAllStandardOutput());
        EXPECT_EQ(list.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 3) << list.toStdString(); // one image
    }
}

TEST_F(CommandLineTest, TwoExportsAtOnceTakeTurnsAndEachWritesOnlyItsOwnDecks)
{
    // One run holds a long deck, so the two may well overlap.
    QStringList longDeck;
    for (int i = 1; i <= 300; ++i)
        longDeck << QStringLiteral("Long deck slide %1").arg(i);
    const QStringList first = {in + "/first", out + "/first"};
    const QStringList second = {in + "/second", out + "/second"};
    for (const QString& folder : first + second)
        QDir().mkpath(folder);
    ASSERT_TRUE(test::writeFile(first[0] + "/long.fodp", {}, test::flatPresentation(longDeck)));
    ASSERT_TRUE(test::writeFile(first[0] + "/alpha.fodp", {}, test::flatPresentation({"Alpha"})));
    ASSERT_TRUE(test::writeFile(second[0] + "/beta.fodp", {}, test::flatPresentation({"Beta"})));
    ASSERT_TRUE(test::writeFile(second[0] + "/gamma.fodp", {}, test::flatPresentation({"Gamma"})));

    // The test holds the lock first, as another export would: both runs
    // wait for it, and a third, told not to wait, ends at once.
    RunLock held(ExportLockPath(FileRegistry()));
    ASSERT_TRUE(held.tryLock(QStringLiteral("the other export")));
    QProcess one;
    QProcess two;
    start(one, {"--export", "--output", first[1], first[0]});
    start(two, {"--export", "--output", second[1], second[0]});
    const Result refused = run({"--export", "--no-wait", "--output", second[1], second[0]});
    QTest::qWait(1500);
    held.unlock();
    const Result a = finish(one);
    const Result b = finish(two);

    EXPECT_EQ(refused.status, 3) << refused.errors.toStdString();
    EXPECT_TRUE(refused.errors.contains("another export is running: the other export (process"))
        << refused.errors.toStdString();
    EXPECT_TRUE(refused.written.isEmpty());
    for (const Result* r : {&a, &b}) {
        EXPECT_EQ(r->status, 0) << r->errors.toStdString();
        EXPECT_TRUE(r->errors.contains("waiting for another export to finish: ")) << r->errors.toStdString();
    }
    EXPECT_EQ(a.written, QStringList({first[1] + "/alpha.pdf", first[1] + "/long.pdf"}));
    EXPECT_EQ(b.written, QStringList({second[1] + "/beta.pdf", second[1] + "/gamma.pdf"}));
    const QList<QPair<QString, QString>> texts = {{first[1] + "/alpha.pdf", "Alpha"},
                                                  {first[1] + "/long.pdf", "Long deck slide 300"},
                                                  {second[1] + "/beta.pdf", "Beta"},
                                                  {second[1] + "/gamma.pdf", "Gamma"}};
    for (const auto& [pdf, text] : texts) {
        const QString inside = test::pdfText(pdf);
        EXPECT_TRUE(inside.contains(text)) << pdf.toStdString();
        for (const auto& [other, otherText] : texts)
            EXPECT_TRUE(other == pdf || !inside.contains(otherText))
                << pdf.toStdString() << " holds " << otherText.toStdString();
    }
}

} // namespace

// A deck's name is a stranger's. On a terminal (a pseudo-terminal here, in
// raw mode so that nothing is translated) no control character of a name
// reaches it raw, not even a line break; through a pipe the paths are the
// names' bytes. A damaged deck's error block and the final message name it
// too; a name that is not valid UTF-8 is refused, as it always was, and
// shown without its stray byte.
// A presentation is shown to LibreOffice with the pictures it links beside
// and below itself, each alone; one outside its folder, or hidden, is not
// (bare LibreOffice prints all four); with --no-linked-pictures none is.
TEST_F(CommandLineTest, PicturesLinkedBesideAndBelowADeckArePrintedAndNoOthers)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/linked_decks.py"), in,
                                 QStringLiteral(PRADELUX_TEST_CACHE "/convert-profile")}),
              0);
    const auto images = [](const QString& pdf) {
        QProcess list;
        list.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
        list.waitForFinished();
        return list.exitCode() == 0 ? static_cast<int>(list.readAllStandardOutput().count('\n')) - 2 : -1;
    };
    QDir().mkpath(out);
    for (const QString& renderer : {QString(), QStringLiteral("soffice")}) {
        for (const char* type : {"odp", "pptx"}) {
            const QString talk = in + QStringLiteral("/talk/");
            const Result r =
                runAlone({"--export", "-o", out, talk + "inside." + type, talk + "outside." + type}, renderer);
            EXPECT_EQ(r.status, 0) << r.errors.toStdString();
            EXPECT_EQ(images(out + "/inside.pdf"), 2) << type << " " << renderer.toStdString();
            EXPECT_EQ(images(out + "/outside.pdf"), 0) << type << " " << renderer.toStdString();
        }
    }
    // A server that converts strangers' decks shows none.
    const Result none = runAlone({"--export", "--no-linked-pictures", "-o", out, in + "/talk/inside.pptx"}, {});
    EXPECT_EQ(none.status, 0) << none.errors.toStdString();
    EXPECT_EQ(images(out + "/inside.pdf"), 0);
}

TEST_F(CommandLineTest, StrangersNamesReachATerminalEscapedAndAPipeByteExact)
{
    struct Name
    {
        QByteArray bytes;
        bool exported;
    };
    const QList<Name> names = {
        {"title\x1b]0;PWNED\x07\x1b[31mred", true}, // OSC title, BEL, SGR colour
        {"clip\x1b]52;c;cHduZWQ=\x1b\\", true},     // OSC 52 clipboard, ST
        {"cr\rover", true},
        {"line\nbreak", true},
        {"del\x7f", true},
        {"csi\xc2\x9b"
         "2J",
         true},                    // a C1 control, U+009B
        {"bad\xff\x1b[2J", false}, // not valid UTF-8
    };
    QDir().mkpath(in);
    QDir().mkpath(out);
    const QByteArray inBytes = QFile::encodeName(in);
    for (const Name& name : names)
        ASSERT_TRUE(QFile::copy(test::deck(QStringLiteral("pptx")), in + "/plain.tmp") &&
                    ::rename(QFile::encodeName(in + "/plain.tmp").constData(), inBytes + '/' + name.bytes + ".pptx") ==
                        0);
    ASSERT_TRUE(test::writeFile(in + "/broken\x1b[8m.pptx", {}, "PK\x03\x04 broken"));

    // On a terminal: standard output and error both.
    QByteArrayList argv = {PRADELUX_APPFOLDER "/pradelux", "--export", "--output", QFile::encodeName(out), inBytes};
    QByteArrayList environment;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(display));
    for (const QString& pair : env.toStringList())
        environment << pair.toLocal8Bit();
    std::vector<char*> args, envp;
    for (QByteArray& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (QByteArray& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    struct termios raw = {};
    ::cfmakeraw(&raw);
    struct winsize size = {24, 200, 0, 0};
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, &raw, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    const QByteArray slave = ::ptsname(terminal);
    QByteArray shown;
    int status = 0;
    for (bool ended = false, drained = false; !drained;) {
        pollfd ready = {terminal, POLLIN, 0};
        char chunk[4096];
        const ssize_t n = ::poll(&ready, 1, ended ? 0 : 100) > 0 ? ::read(terminal, chunk, sizeof chunk) : 0;
        if (n > 0)
            shown.append(chunk, n);
        drained = ended && n <= 0;
        ended = ended || ::waitpid(pid, &status, WNOHANG) == pid;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << shown.toStdString();
    // Nothing the run started keeps the terminal: the renderer outlives the
    // run, and LibreOffice in it would read what is typed there.
    for (const QString& process : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(process);
        for (const QString& fd : QDir(fds).entryList(QDir::System))
            EXPECT_NE(QFile::symLinkTarget(fds + '/' + fd), QFile::decodeName(slave)) << process.toStdString();
    }
    ::close(terminal);

    // The progress bar's own return to the line's start is the program's.
    QByteArray text = shown;
    text.replace("\r\x1b[K", "");
    QList<int> leaked; // the control bytes (and a C1 control's first) that reached the terminal
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((c < 0x20 && c != '\n') || c == 0x7F || c == 0xFF || (c == 0xC2 && next >= 0x80 && next <= 0x9F))
            leaked << c;
    }
    EXPECT_EQ(leaked, QList<int>()) << text.toStdString();
    EXPECT_TRUE(text.contains("title\\e]0;PWNED\\a\\e[31mred.pptx")) << text.toStdString();
    EXPECT_TRUE(text.contains(QFile::encodeName(out) + "/line\\nbreak.pdf\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("/broken\\e[8m.pptx: the file is damaged")) << text.toStdString();
    EXPECT_TRUE(text.contains("/bad\xef\xbf\xbd\\e[2J.pptx (its name is not valid UTF-8)")) << text.toStdString();
    EXPECT_FALSE(text.contains("line\nbreak"));

    // Through a pipe: the paths as the names' bytes, NUL after each.
    QProcess piped;
    start(piped, {"--export", "-0", "--output", out, in});
    ASSERT_TRUE(piped.waitForFinished(300000));
    QByteArrayList paths = piped.readAllStandardOutput().split('\0');
    paths.removeAll(QByteArray());
    QByteArrayList expected;
    for (const Name& name : names) {
        const QByteArray pdf = QFile::encodeName(out) + '/' + name.bytes + ".pdf";
        struct stat st;
        EXPECT_EQ(::stat(pdf.constData(), &st) == 0, name.exported) << pdf.toStdString();
        if (name.exported)
            expected << pdf;
    }
    std::sort(paths.begin(), paths.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);
}

namespace {

// A deck whose fonts LibreOffice printed in others of other widths gets one
// line on the error output, its stand-ins in the report and its name in the
// final message, with one job or two; one whose fonts were printed in their
// metric twins gets none of that; --quiet leaves the line out.
TEST_F(CommandLineTest, FontsPrintedInOthersOfOtherWidthsAreToldOnceAndTwinsAreNot)
{
    // U+18B00, a Khitan letter, is in no font of Debian's.
    ASSERT_TRUE(test::outputOf("fc-list", {":charset=18b00"}).isEmpty());
    const struct
    {
        const char* font;
        bool warned;
        const char* name = nullptr; // the font's name when empty
        const char* text = "Quarterly figures";
    } decks[] = {{"Calibri", false},     {"Cambria", false},
                 {"Arial", false},       {"Times New Roman", false},
                 {"Courier New", false}, {"Calibri Light", true},
                 {"Segoe UI", true},     {"Calibri", false, "Khitan", "Quarterly \U00018B00 figures"}};
    const auto nameOf = [](const auto& deck) { return QLatin1String(deck.name ? deck.name : deck.font); };
    QDir().mkpath(out);
    for (const auto& deck : decks)
        ASSERT_TRUE(
            test::writeFile(in + '/' + nameOf(deck) + ".fodp", {},
                            test::flatPresentation({QString::fromUtf8(deck.text)}, {}, QLatin1String(deck.font))));
    for (const QStringList& extra : {QStringList(), QStringList{"--quiet", "--jobs", "2"}}) {
        const Result r = run(QStringList{"--export", "--report", out + "/fonts.jsonl", "--output", out, in} + extra);
        EXPECT_EQ(r.status, 0) << r.errors.toStdString();
        QHash<QString, QJsonObject> rows;
        for (const QByteArray& line : test::readFile(out + "/fonts.jsonl").toUtf8().split('\n')) {
            const QJsonObject row = QJsonDocument::fromJson(line).object();
            rows.insert(QFileInfo(row.value("presentation").toString()).completeBaseName(), row);
        }
        const QString said = r.errors.section(QStringLiteral("Done."), 1);
        for (const auto& deck : decks) {
            const QString name = nameOf(deck);
            const QString font = QLatin1String(deck.font);
            const QString line = QStringLiteral("pradelux: %1/%2.fodp: \"%2\" is not installed; ").arg(in, name);
            EXPECT_EQ(r.errors.count(line), deck.warned && extra.isEmpty() ? 1 : 0)
                << deck.font << extra.join(' ').toStdString();
            // A letter no font has is told, in the report and at the end.
            const bool lacks = deck.name != nullptr;
            const QString lacking = QStringLiteral("pradelux: %1/%2.fodp: no installed font has U+18B00: it prints "
                                                   "as an empty box\n")
                                        .arg(in, name);
            EXPECT_EQ(r.errors.count(lacking), lacks && extra.isEmpty() ? 1 : 0) << r.errors.toStdString();
            EXPECT_EQ(rows.value(name).value("lacking").toArray().first().toObject().value("code").toString(),
                      lacks ? "U+18B00" : "");
            EXPECT_EQ(said.contains('/' + name + ".fodp"), deck.warned || lacks) << deck.font << said.toStdString();
            bool standIn = false, twin = false;
            for (const QJsonValue& f : rows.value(name).value("fonts").toArray()) {
                if (f.toObject().value("requested").toString() == font) {
                    standIn = true;
                    twin = f.toObject().value("sameWidths").toBool();
                }
            }
            EXPECT_TRUE(standIn) << deck.font;
            EXPECT_EQ(twin, !deck.warned) << deck.font;
        }
    }
}

// Presentations protected by a password: named so without passwords, opened
// with --password-file (a wrong one first) by one run and by jobs, and the
// password is in nothing a run prints or leaves, the user's settings and
// cache among them.
TEST_F(CommandLineTest, ProtectedDecksOpenWithThePasswordFileAndItsPasswordsStaySecret)
{
    QDir().mkpath(in);
    for (const QString suffix : {"odp", "pptx"})
        ASSERT_TRUE(QFile::copy(test::protectedDeck(suffix), in + "/locked " + suffix + "." + suffix))
            << suffix.toStdString();
    const QString passwords = config.path(QStringLiteral("keys/passwords"));
    const QByteArray secret = test::kDeckPassword.toUtf8();
    ASSERT_TRUE(test::writeFile(passwords, {}, "Kestrel 2025\n" + secret + "\r\n"));
    const struct
    {
        QStringList extra;
        bool opened;
    } runs[] = {
        {{}, false}, {{"--password-file", passwords}, true}, {{"--jobs", "2", "--password-file", passwords}, true}};
    QString said;
    for (const auto& run : runs) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        const Result r =
            this->run(QStringList{"--export", "--report", out + "/report.jsonl", "--output", out, in} + run.extra);
        said += r.errors + r.written.join('\n') + test::readFile(out + "/report.jsonl");
        EXPECT_EQ(r.status, run.opened ? 0 : 1) << r.errors.toStdString();
        for (const QString suffix : {"odp", "pptx"}) {
            const QString name = "locked " + suffix;
            EXPECT_EQ(test::pdfPages(out + '/' + name + ".pdf"), run.opened ? 3 : -1) << suffix.toStdString();
            EXPECT_EQ(r.errors.contains(in + '/' + name + '.' + suffix + ": it is protected by a password."),
                      !run.opened)
                << r.errors.toStdString();
        }
        EXPECT_EQ(test::readFile(out + "/report.jsonl").count("\"protected\":true"), run.opened ? 0 : 2);
    }
    EXPECT_FALSE(said.contains(test::kDeckPassword));
    for (const QString& folder : {config.path(QString()), QStringLiteral(PRADELUX_TEST_CACHE)}) {
        QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.fileName() != passwords && file.size() < (64 << 20) && file.open(QIODevice::ReadOnly)) {
                EXPECT_FALSE(file.readAll().contains(secret)) << file.fileName().toStdString();
            }
        }
    }
}

} // namespace
