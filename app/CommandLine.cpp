// The export from a terminal or a script.
#include "CommandLine.h"

#include "AddFolder.h"
#include "ConsoleDialogs.h"
#include "ConsoleHost.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "ExportRun.h"
#include "Failure.h"
#include "Files.h"
#include "ParallelExport.h"
#include "PowerPoint1.h"
#include "RunLock.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QThread>

#include <optional>

namespace pradelux {

namespace {

struct Options
{
    QString output;
    QString extension;
    std::optional<bool> answer;
    bool noWait = false;
    QStringList paths;
    bool help = false;
    bool version = false;
    bool null = false;
    bool verbose = false;
    bool update = false;
    bool keepFolders = false;
    QString subfoldersFrom; // a job's: each row's folder below the output folder
    QString filesFrom;
    QString report;
    QString shard; // K/N
    QString jobs;  // how many at once; 0: one per processor
    bool job = false;
    QString claims; // a job's: where the jobs of one run take their rows
};

// The share K of N (1-based) that a presentation belongs to: a stable hash of
// its full path, the same on every machine.
int shareOf(const QString& path, int shares)
{
    quint64 hash = 1469598103934665603ULL; // FNV-1a
    for (const char c : QFile::encodeName(path)) {
        hash ^= static_cast<uchar>(c);
        hash *= 1099511628211ULL;
    }
    return static_cast<int>(hash % static_cast<quint64>(shares)) + 1;
}

// The paths listed in a file (or on the standard input for "-"): one a line,
// or NUL-separated.
std::optional<QStringList> readList(const QString& from, bool null)
{
    QFile file;
    const bool opened = from == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(from), file.open(QIODevice::ReadOnly));
    if (!opened)
        return std::nullopt;
    QStringList paths;
    for (const QByteArray& entry : file.readAll().split(null ? '\0' : '\n')) {
        const QByteArray path = null ? entry : entry.trimmed();
        if (!path.isEmpty())
            paths << QFile::decodeName(path);
    }
    return paths;
}

// Reads the options; a text for the user when they are wrong.
std::optional<QString> parse(const QStringList& arguments, Options& options)
{
    bool onlyPaths = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (onlyPaths || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            options.paths << a;
            continue;
        }
        const auto value = [&](const QString& name, QString& into) -> std::optional<QString> {
            if (a.startsWith(name + QLatin1Char('='))) {
                into = a.mid(name.size() + 1);
            } else if (i + 1 < arguments.size()) {
                into = arguments[++i];
            } else {
                return QStringLiteral("%1 needs a value.").arg(name);
            }
            return std::nullopt;
        };
        std::optional<QString> wrong;
        if (a == QLatin1String("--"))
            onlyPaths = true;
        else if (a == QLatin1String("--export"))
            continue;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            options.help = true;
        else if (a == QLatin1String("--yes"))
            options.answer = true;
        else if (a == QLatin1String("--no"))
            options.answer = false;
        else if (a == QLatin1String("--no-wait"))
            options.noWait = true;
        else if (a == QLatin1String("--version"))
            options.version = true;
        else if (a == QLatin1String("--null") || a == QLatin1String("-0"))
            options.null = true;
        else if (a == QLatin1String("--verbose"))
            options.verbose = true;
        else if (a == QLatin1String("--update"))
            options.update = true;
        else if (a == QLatin1String("--keep-folders"))
            options.keepFolders = true;
        else if (a == QLatin1String("--subfolders-from") || a.startsWith(QLatin1String("--subfolders-from=")))
            wrong = value(QStringLiteral("--subfolders-from"), options.subfoldersFrom);
        else if (a == QLatin1String("--job"))
            options.job = true;
        else if (a == QLatin1String("--claims") || a.startsWith(QLatin1String("--claims=")))
            wrong = value(QStringLiteral("--claims"), options.claims);
        else if (a == QLatin1String("--jobs") || a.startsWith(QLatin1String("--jobs=")))
            wrong = value(QStringLiteral("--jobs"), options.jobs);
        else if (a == QLatin1String("--files-from") || a.startsWith(QLatin1String("--files-from=")))
            wrong = value(QStringLiteral("--files-from"), options.filesFrom);
        else if (a == QLatin1String("--report") || a.startsWith(QLatin1String("--report=")))
            wrong = value(QStringLiteral("--report"), options.report);
        else if (a == QLatin1String("--shard") || a.startsWith(QLatin1String("--shard=")))
            wrong = value(QStringLiteral("--shard"), options.shard);
        else if (a == QLatin1String("--output") || a.startsWith(QLatin1String("--output=")))
            wrong = value(QStringLiteral("--output"), options.output);
        else if (a == QLatin1String("--extension") || a.startsWith(QLatin1String("--extension=")))
            wrong = value(QStringLiteral("--extension"), options.extension);
        else
            wrong = QStringLiteral("Unknown option: %1").arg(a);
        if (wrong)
            return wrong;
    }
    return std::nullopt;
}

} // namespace

bool WantsCommandLine(const QStringList& arguments)
{
    for (const QString& a : arguments) {
        if (a == QLatin1String("--"))
            return false;
        if (a == QLatin1String("--export") || a == QLatin1String("--help") || a == QLatin1String("-h") ||
            a == QLatin1String("--version"))
            return true;
    }
    return false;
}

QString CommandLineUsage()
{
    return QStringLiteral("Usage: pradelux --export [OPTION]... PATH...\n"
                          "       pradelux --export [OPTION]... --files-from FILE\n"
                          "\n"
                          "Exports presentations to PDF without a window. Each PATH is a presentation, or a\n"
                          "folder whose presentations (.ppt .pps .pot .pptx .pptm .ppsx .ppsm .potx .potm\n"
                          ".odp .otp .fodp, in any case), with those of its subfolders, are exported.\n"
                          "Names beginning with \"~\" and hidden files inside folders are skipped.\n"
                          "\n"
                          "  --output DIR        where the PDFs go (default: the folder the window last used)\n"
                          "  --extension EXT     take only files ending in .EXT from folders ('*': every file)\n"
                          "  --files-from FILE   export the paths listed in FILE, one a line ('-': standard\n"
                          "                      input), besides the PATHs\n"
                          "  -0, --null          paths end with a NUL byte instead of a new line, written\n"
                          "                      and read (--files-from)\n"
                          "  --report FILE       one JSON object a line for each row as it ends: presentation,\n"
                          "                      pdf, status (written, failed, replaced, skipped), pages,\n"
                          "                      seconds, error\n"
                          "  --jobs N            export N rows at once, each job with its own presentation\n"
                          "                      application, LibreOffice and printer values (0: one per\n"
                          "                      processor; default 1)\n"
                          "  --shard K/N         export only the K-th of N shares of the rows (by a stable hash\n"
                          "                      of each path), so N machines given the same arguments share them\n"
                          "  --keep-folders      each PDF goes to the folder below --output that its\n"
                          "                      presentation has below the folder given (a file given by\n"
                          "                      itself: to --output itself)\n"
                          "  --update            leave a presentation whose PDF is newer than it (reported\n"
                          "                      skipped, not a failure)\n"
                          "  --verbose           every failing step's report, not the first of a row\n"
                          "  --yes, --no         the answer when the presentation application is already\n"
                          "                      running (default: yes, go on and use it)\n"
                          "  --no-wait           when another export is running, end at once (status 3)\n"
                          "                      instead of waiting for it\n"
                          "  --version           the version\n"
                          "  --help              this text\n"
                          "\n"
                          "Each PDF is printed on the standard output as soon as it is written; progress,\n"
                          "reports and the final message go to the error output. Without a session bus a\n"
                          "private one is started for the run. Ctrl+C (or SIGTERM, SIGHUP) stops the run\n"
                          "after the presentation in hand; a second one stops it at once.\n"
                          "\n"
                          "Exit status: 0 when every presentation gave its PDF, 1 when some did not, 2 for\n"
                          "wrong usage, 3 when nothing could be started: another export was running and\n"
                          "--no-wait was given, or LibreOffice, the presentation application or the PDF\n"
                          "printer is missing; 130 when Ctrl+C, SIGTERM or SIGHUP stopped the run; 141 when\n"
                          "the standard output was closed (the reader of a pipe went away).\n"
                          "\n"
                          "Environment: PRADELUX_RENDER_MEMORY_LIMIT (MiB a rendering may use),\n"
                          "PRADELUX_OFFICE_RENDER_TIMEOUT (seconds a rendering may take),\n"
                          "PRADELUX_RENDER_IDLE (seconds LibreOffice stays loaded without work),\n"
                          "PRADELUX_OFFICE_RENDERER=soffice (start LibreOffice for each presentation),\n"
                          "PRADELUX_OFFICE_SOFFICE (the LibreOffice executable), XDG_CONFIG_HOME and\n"
                          "XDG_RUNTIME_DIR (where the printer values, the lock and the renderer live).\n"
                          "\n"
                          "Without --export, pradelux opens its window.\n");
}

namespace {
// What a run from the terminal does while another export holds the lock:
// says so once and waits, or gives up (--no-wait, a lock file that cannot be
// opened, Ctrl+C).
struct LockWaiter
{
    RunLock& lock;
    bool noWait;
    QTextStream& err;
    bool told = false;
    bool gaveUp = false;
    bool stopped = false;

    bool keepWaiting(const QString& holder)
    {
        if (Interrupted()) {
            err << "pradelux: interrupted while waiting; nothing was exported.\n";
            stopped = true;
        } else if (lock.unusable()) {
            err << "pradelux: " << texts::kLockUnusable.arg(holder) << '\n';
            gaveUp = true;
        } else if (noWait) {
            err << "pradelux: another export is running: " << holder << ". Nothing was exported.\n";
            gaveUp = true;
        } else if (!told) {
            err << "pradelux: waiting for another export to finish: " << holder << "\n";
            told = true;
        }
        err.flush();
        if (stopped || gaveUp)
            return false;
        Pause(0.5);
        return true;
    }
    int status() const { return stopped ? exitcode::kInterrupted : exitcode::kNotStarted; }
};
} // namespace

int RunCommandLine(const QStringList& arguments, CommandLineServices& services)
{
    Options options;
    const auto wrong = parse(arguments, options);
    if ((options.help || options.version) && !wrong) {
        services.out << (options.help ? CommandLineUsage()
                                      : QStringLiteral("pradelux %1\n").arg(QStringLiteral(PRADELUX_VERSION)));
        services.out.flush();
        return exitcode::kAllWritten;
    }
    QStringList problems;
    if (wrong)
        problems << *wrong;
    if (!options.filesFrom.isEmpty()) {
        const auto listed = readList(options.filesFrom, options.null);
        if (listed)
            options.paths << *listed;
        else
            problems << QStringLiteral("The list of files cannot be read: %1").arg(options.filesFrom);
    }
    if (!wrong && options.paths.isEmpty() && options.filesFrom.isEmpty())
        problems << QStringLiteral("No presentation or folder was given.");
    for (const QString& path : options.paths) {
        // A name that is not valid UTF-8 becomes a row that the run names as
        // not exported, with the reason.
        if (!QFileInfo::exists(path) && !HasUndecodableName(path))
            problems << QStringLiteral("No such file or folder: %1").arg(path);
    }
    if (!options.output.isEmpty() && !IsFolder(options.output))
        problems << QStringLiteral("The output folder does not exist: %1").arg(options.output);
    int share = 1;
    int shares = 1;
    if (!options.shard.isEmpty()) {
        const QStringList kn = options.shard.split(QLatin1Char('/'));
        bool okK = false;
        bool okN = false;
        share = kn.value(0).toInt(&okK);
        shares = kn.value(1).toInt(&okN);
        if (kn.size() != 2 || !okK || !okN || shares < 1 || share < 1 || share > shares)
            problems << QStringLiteral("--shard takes K/N with 1 <= K <= N: %1").arg(options.shard);
    }
    bool okJobs = true;
    int jobs = options.jobs.isEmpty() ? 1 : options.jobs.toInt(&okJobs);
    if (!okJobs || jobs < 0)
        problems << QStringLiteral("--jobs takes a number, 0 for one per processor: %1").arg(options.jobs);
    if (jobs == 0)
        jobs = qMax(1, QThread::idealThreadCount());
    if (!problems.isEmpty()) {
        for (const QString& p : problems)
            services.err << "pradelux: " << p << '\n';
        services.err << "Try 'pradelux --help'.\n";
        services.err.flush();
        return exitcode::kUsage;
    }

    ConsoleDialogs dialogs(services.err, options.answer);
    dialogs.setApplicationTitle(ApplicationTitle(kProductTitle));
    // Nothing is exported without what the window checks at its start.
    if (services.prerequisites) {
        const QString missing = services.prerequisites();
        if (!missing.isEmpty()) {
            services.err << "pradelux: nothing was exported. " << QtDialogs::displayText(missing) << '\n';
            services.err.flush();
            return exitcode::kNotStarted;
        }
    }

    // The rows, as the window's drop and folder scan would add them; a
    // folder brings its presentations unless --extension says otherwise.
    QString extension = options.extension;
    while (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    const QString pattern = extension.isEmpty()               ? kPresentationPatterns
                            : extension == QLatin1String("*") ? QStringLiteral("*.*")
                                                              : QStringLiteral("*.") + extension;
    QStringList rows;
    // --keep-folders: each row's folder below the folder it was found in.
    QHash<QString, QString> subfolders;
    ErrorTrap trap(dialogs, tags::kFolderScan);
    ThrottledYield yield(DoEvents);
    for (const QString& path : options.paths) {
        // The presentation application may run elsewhere: it gets full paths.
        const QString full = QFileInfo(path).absoluteFilePath();
        if (!IsFolder(full)) {
            rows << full;
            continue;
        }
        FolderList folders{full == QLatin1String("/") ? full : full + kSeparator};
        trap(112, [&] {
            FolderScanState state{dialogs, std::ref(yield), {}, {}};
            GetSubDirectories2016(folders, true, state);
        });
        const QDir top(full);
        AppendMatchingFiles(
            folders, pattern,
            [&](const QStringList& found) {
                rows << found;
                for (const QString& file : found) {
                    const QString below = top.relativeFilePath(QFileInfo(file).path());
                    if (options.keepFolders && below != QLatin1String("."))
                        subfolders.insert(file, below);
                }
            },
            std::ref(trap), std::ref(yield));
    }
    // A job of --jobs is given the rows' folders by the run.
    if (!options.subfoldersFrom.isEmpty()) {
        const QStringList pairs = readList(options.subfoldersFrom, true).value_or(QStringList());
        for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
            subfolders.insert(pairs[i], pairs[i + 1]);
    }
    // A file named twice (a folder and a file in it, two links to it) is one
    // row, as in the window's list.
    QSet<QString> seen;
    QStringList unique;
    for (const QString& row : std::as_const(rows)) {
        const QString key = FileKey(row);
        if (key.isEmpty() || !seen.contains(key))
            unique << row;
        seen.insert(key);
    }
    rows = unique;
    const qsizetype collected = rows.size();
    if (shares > 1)
        rows.removeIf([&](const QString& row) { return shareOf(row, shares) != share; });

    QString folder = options.output.isEmpty()
                         ? services.settings.ReadSetting(settings::kLocation, services.defaultOutputFolder())
                         : QFileInfo(options.output).absoluteFilePath();
    if (jobs > 1 && rows.size() > 1) {
        // The jobs keep printer values of their own; the lock keeps this
        // run apart from the user's other exports all the same.
        RunLock lock(services.lockPath);
        LockWaiter waiter{lock, options.noWait, services.err};
        while (!lock.tryLock(QStringLiteral("pradelux --export --jobs")) && waiter.keepWaiting(lock.holder())) {
        }
        if (waiter.gaveUp || waiter.stopped)
            return waiter.status();
        QStringList passOn;
        if (options.verbose)
            passOn << QStringLiteral("--verbose");
        if (options.update)
            passOn << QStringLiteral("--update");
        if (options.keepFolders)
            passOn << QStringLiteral("--keep-folders");
        if (options.answer)
            passOn << (*options.answer ? QStringLiteral("--yes") : QStringLiteral("--no"));
        return RunInJobs({rows, jobs, folder, passOn, subfolders, options.report, options.null ? '\0' : '\n',
                          services.printersFile,
                          QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                              QStringLiteral("/pradelux-office/render-profile")},
                         services.out, services.err);
    }
    ConsoleHost host(rows, folder,
                     {services.out, services.err, services.errIsTerminal, options.null ? '\0' : '\n', options.verbose,
                      options.report, options.job, options.claims, options.update, subfolders},
                     dialogs);
    QString why;
    if (!host.openReport(&why)) {
        services.err << "pradelux: " << why << '\n';
        services.err.flush();
        return exitcode::kUsage;
    }
    // A share may hold nothing: that task of a batch array has done its
    // part, and its report, empty, says so.
    if (shares > 1 && rows.isEmpty() && collected > 0) {
        services.err << "Share " << share << "/" << shares << " holds none of the " << collected
                     << " presentations found; nothing to export.\n";
        services.err.flush();
        return exitcode::kAllWritten;
    }
    RunLock lock(services.lockPath);
    LockWaiter waiter{lock, options.noWait, services.err};
    // The presentation application, kept from one row to the next; letting
    // go of it at the end ends it.
    ObjectRef application;
    ExportRun run(host, dialogs, &services.automation, [&](const QString& presentation, const QString& pdf) {
        // A script waits for no one: the window's fixed pauses are left out.
        PowerPoint1Services steps = PowerPoint1::defaults(services.automation, services.registry, dialogs);
        steps.fixedPauses = false;
        steps.keepApplication = [&](ObjectRef kept) { application = std::move(kept); };
        return PowerPoint1(steps).DoPPT(presentation, pdf);
    });
    run.setLock(&lock, QStringLiteral("pradelux --export"), [&](const QString& holder) {
        host.endLine();
        return waiter.keepWaiting(holder);
    });
    ArmInterrupts(!options.job);
    run.PushButton2_Click();
    application.reset();
    host.endLine();
    if (!options.job && !options.keepFolders && !run.lastOutcome().stopped && !run.lastOutcome().replaced.isEmpty()) {
        services.err << SameNamesHint << '\n';
        services.err.flush();
    }
    if (waiter.gaveUp || waiter.stopped)
        return waiter.status();
    if (run.lastOutcome().stopped) {
        if (!options.job) {
            services.err << (OutputClosed() ? OutputClosedText(run.lastOutcome().rows, rows.size())
                                            : InterruptedText(run.lastOutcome().rows, rows.size()))
                         << '\n';
            services.err.flush();
        }
        return OutputClosed() ? exitcode::kOutputClosed : exitcode::kInterrupted;
    }
    return run.lastOutcome().allWritten() ? exitcode::kAllWritten : exitcode::kSomeFailed;
}

} // namespace pradelux
