// The export from a terminal or a script.
#include "CommandLine.h"

#include "ClaimPlan.h"
#include "ConsoleDialogs.h"
#include "ConsoleHost.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "ExportOptions.h"
#include "ExportRun.h"
#include "Failure.h"
#include "Files.h"
#include "ParallelExport.h"
#include "PdfPrinter.h"
#include "PowerPoint1.h"
#include "PresentationFile.h"
#include "ProfileTemplate.h"
#include "Registry.h"
#include "RunLock.h"
#include "RunPasswords.h"
#include "RunRows.h"
#include "SettingsStore.h"
#include "Startup.h"
#include "TerminalText.h"
#include "WindowChoices.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace pradelux {

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

// The options, read and checked. Ends the run (its exit status) for --help,
// --version and wrong usage, which it explains.
std::optional<int> readOptions(const QStringList& arguments, ExportOptions& options, CommandLineServices& services)
{
    QStringList badValues;
    QStringList problems = ParseOptions(arguments, options, badValues);
    // The window's choices, with the options given on top of them.
    if (options.windowChoices && problems.isEmpty()) {
        options = ExportOptions();
        options.choices = ReadPdfChoices(services.settings);
        badValues.clear();
        problems = ParseOptions(arguments, options, badValues);
    }
    if ((options.help || options.version) && problems.isEmpty()) {
        services.out << (options.help ? CommandLineUsage()
                                      : QStringLiteral("pradelux %1\n").arg(QStringLiteral(PRADELUX_VERSION)));
        services.out.flush();
        return exitcode::kAllWritten;
    }
    const bool parsed = problems.isEmpty();
    if (!options.filesFrom.isEmpty()) {
        if (const auto listed =
                ReadList(options.filesFrom, options.null, options.passwordsAfterRows ? &options.passwords : nullptr))
            options.paths << *listed;
        else
            problems << QStringLiteral("The list of files cannot be read: %1").arg(options.filesFrom);
    }
    if (!options.passwordFile.isEmpty()) {
        if (options.passwordFile == QLatin1String("-") && options.filesFrom == QLatin1String("-"))
            problems << QStringLiteral("--files-from - and --password-file - cannot both read the standard input.");
        else if (const auto passwords = ReadPasswords(options.passwordFile))
            options.passwords << *passwords;
        else
            problems << QStringLiteral("The passwords cannot be read: %1").arg(options.passwordFile);
    }
    if (parsed && options.paths.isEmpty() && options.filesFrom.isEmpty())
        problems << QStringLiteral("No presentation or folder was given.");
    for (const QString& path : options.paths) {
        // A name that is not valid UTF-8 becomes a row that the run names as
        // not exported, with the reason.
        if (!QFileInfo::exists(path) && !HasUndecodableName(path))
            problems << QStringLiteral("No such file or folder: %1").arg(path);
    }
    if (!options.output.isEmpty() && !IsFolder(options.output))
        problems << QStringLiteral("The output folder does not exist: %1").arg(options.output);
    problems << badValues;
    if (problems.isEmpty())
        return std::nullopt;
    for (const QString& p : problems)
        services.err << "pradelux: " << p << '\n';
    services.err << "Try 'pradelux --help'.\n";
    services.err.flush();
    return exitcode::kUsage;
}

// Nothing is exported without what the window checks at its start; ends the
// run when something is missing.
std::optional<int> checkPrerequisites(CommandLineServices& services)
{
    const QString missing = services.prerequisites ? services.prerequisites() : QString();
    if (missing.isEmpty())
        return std::nullopt;
    services.err << "pradelux: nothing was exported. " << DisplayText(missing) << '\n';
    services.err.flush();
    return exitcode::kNotStarted;
}

// --slides: a list that starts past the last slide of every presentation
// would print nothing, so it ends the run before anything is exported. Each
// presentation fails that starts past, so the run goes on while one is long
// enough, or cannot be counted here (a password, a .ppt saved by fast
// save); a file that is no presentation fails its row anyway.
std::optional<int> checkSlides(const ExportOptions& options, const Rows& rows, CommandLineServices& services)
{
    const QList<printoutput::SlideRange>& slides = options.choices.slides;
    if (options.job)
        return std::nullopt;
    const std::optional<office::SlidesPastTheEnd> past = office::SlidesPastEveryEnd(rows.files, slides);
    if (!past)
        return std::nullopt;
    services.err << "pradelux: --slides " << printoutput::SlidesText(slides)
                 << " starts past the last slide of every presentation: slide " << past->first
                 << " was asked for, and the longest has " << past->most << (past->most == 1 ? " slide" : " slides")
                 << ". Nothing was exported.\n";
    services.err.flush();
    return exitcode::kUsage;
}

// --jobs N: the rows shared among jobs of this program, each with its own
// presentation application, LibreOffice and printer values.
int runInJobs(const ExportOptions& options, const Rows& rows, const QString& folder, CommandLineServices& services)
{
    // Each job has a presentation application of its own.
    services.startedApplication.reset();
    // The jobs keep printer values of their own; the lock keeps this run
    // apart from the user's other exports all the same.
    RunLock lock(services.lockPath);
    LockWaiter waiter{lock, options.noWait, services.err};
    while (!lock.tryLock(QStringLiteral("pradelux --export --jobs")) && waiter.keepWaiting(lock.holder())) {
    }
    if (waiter.gaveUp || waiter.stopped)
        return waiter.status();
    QStringList passOn;
    if (options.verbose)
        passOn << QStringLiteral("--verbose");
    // A job says no progress anyway; quiet, it leaves out what else only
    // informs (the fonts that stood in).
    if (options.quiet)
        passOn << QStringLiteral("--quiet");
    if (options.update)
        passOn << QStringLiteral("--update");
    const PrintChoices& choices = options.choices;
    if (choices.isolateRows)
        passOn << QStringLiteral("--isolate-rows");
    passOn << PdfOptionsOf(choices.pdf);
    if (!choices.hiddenSlides)
        passOn << QStringLiteral("--no-hidden-slides");
    if (choices.output == printoutput::kNotesPages)
        passOn << QStringLiteral("--notes-only");
    if (choices.output == printoutput::kSlidesThenNotesPages)
        passOn << QStringLiteral("--notes");
    if (!choices.slides.isEmpty())
        passOn << QStringLiteral("--slides") << printoutput::SlidesText(choices.slides);
    if (options.keepFolders)
        passOn << QStringLiteral("--keep-folders");
    if (options.answer)
        passOn << (*options.answer ? QStringLiteral("--yes") : QStringLiteral("--no"));
    return RunInJobs({rows.files, options.jobs, folder, passOn, rows.subfolders, options.report,
                      options.null ? '\0' : '\n', services.printersFile, render::boundary::DefaultProfileTemplate(),
                      services.outIsTerminal, options.quiet, options.passwords},
                     services.out, services.err);
}

// What the run's end tells besides the final message, and its exit status.
int endOfRun(const ExportRun& run, const ExportOptions& options, qsizetype rows, const LockWaiter& waiter,
             CommandLineServices& services)
{
    if (!options.job && !options.keepFolders && !run.lastOutcome().stopped && !run.lastOutcome().replaced.isEmpty()) {
        services.err << SameNamesHint << '\n';
        services.err.flush();
    }
    if (waiter.gaveUp || waiter.stopped)
        return waiter.status();
    if (run.lastOutcome().stopped) {
        if (!options.job) {
            services.err << (OutputClosed() ? OutputClosedText(run.lastOutcome().rows, rows)
                                            : InterruptedText(run.lastOutcome().rows, rows))
                         << '\n';
            services.err.flush();
        }
        return OutputClosed() ? exitcode::kOutputClosed : exitcode::kInterrupted;
    }
    return run.lastOutcome().allWritten() ? exitcode::kAllWritten : exitcode::kSomeFailed;
}

// The rows exported here, one after another, through the window's export run.
int runHere(const ExportOptions& options, const Rows& rows, const QString& folder, ConsoleDialogs& dialogs,
            CommandLineServices& services)
{
    ConsoleHost host(rows.files, folder,
                     {services.out, services.err, services.errIsTerminal, options.null ? '\0' : '\n', options.verbose,
                      options.report, options.job, options.claims, options.update, rows.subfolders,
                      services.errTerminal, services.outIsTerminal, options.quiet},
                     dialogs);
    QString why;
    if (!host.openReport(&why)) {
        services.err << "pradelux: " << why << '\n';
        services.err.flush();
        return exitcode::kUsage;
    }
    // A share may hold nothing: that task of a batch array has done its
    // part, and its report, empty, says so.
    if (options.shares > 1 && rows.files.isEmpty() && rows.found > 0) {
        services.err << "Share " << options.share << "/" << options.shares << " holds none of the " << rows.found
                     << " presentations found; nothing to export.\n";
        services.err.flush();
        return exitcode::kAllWritten;
    }
    RunLock lock(services.lockPath);
    LockWaiter waiter{lock, options.noWait, services.err};
    // The presentation application, kept from one row to the next; letting
    // go of it at the end ends it. While the one the checks started is
    // held, no other can be running, so nobody is asked about one.
    ObjectRef application = std::move(services.startedApplication);
    RunPasswords passwords(options.passwords);
    ExportRun run(host, dialogs, application ? nullptr : &services.automation,
                  [&](const QString& presentation, const QString& pdf) {
                      // A script waits for no one: the window's fixed pauses are left out.
                      PowerPoint1Services steps =
                          PowerPoint1::defaults(services.automation, services.registry, dialogs);
                      steps.fixedPauses = false;
                      steps.keepApplication = [&](ObjectRef kept) { application = std::move(kept); };
                      steps.passwords = [&](const QString& deck, int attempt) { return passwords.next(deck, attempt); };
                      ApplyPrintChoices(options.choices, services.registry, steps);
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
    return endOfRun(run, options, rows.files.size(), waiter, services);
}

} // namespace

int RunCommandLine(const QStringList& arguments, CommandLineServices& services)
{
    ExportOptions options;
    if (const auto ended = readOptions(arguments, options, services))
        return *ended;
    ConsoleDialogs dialogs(services.err, options.answer);
    dialogs.setApplicationTitle(ApplicationTitle(kProductTitle));
    if (const auto ended = checkPrerequisites(services))
        return *ended;
    Rows rows = CollectRows(options, dialogs);
    TakeShare(rows, options);
    if (const auto ended = checkSlides(options, rows, services))
        return *ended;
    if (services.errTerminal)
        services.errTerminal->escapeNamesIn(rows.files);
    const QString folder = options.output.isEmpty()
                               ? services.settings.ReadSetting(settings::kLocation, services.defaultOutputFolder())
                               : QFileInfo(options.output).absoluteFilePath();
    if (options.jobs > 1 && rows.files.size() > 1)
        return runInJobs(options, rows, folder, services);
    return runHere(options, rows, folder, dialogs, services);
}

} // namespace pradelux
