// The export from a terminal or a script.
#include "CommandLine.h"

#include "AddFolder.h"
#include "ConsoleDialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "ExportRun.h"
#include "Failure.h"
#include "Files.h"
#include "PowerPoint1.h"
#include "RunLock.h"
#include "SettingsStore.h"
#include "Startup.h"

#include <QFileInfo>

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
};

// The rows and the progress of a run on a terminal.
class ConsoleHost : public ExportHost
{
public:
    ConsoleHost(QStringList rows, QString folder, QTextStream& err, bool terminal)
        : m_rows(std::move(rows)), m_folder(std::move(folder)), m_err(err), m_terminal(terminal)
    {
    }

    int rowCount() const override { return static_cast<int>(m_rows.size()); }
    QString rowText(int row) const override
    {
        if (row < 1 || row > m_rows.size())
            throw Failure(failure::kSubscriptOutOfRange, QStringLiteral("Subscript out of range"));
        return m_rows[row - 1];
    }
    QString outputFolder() const override { return m_folder; }
    void setProgressValue(int value) override { m_value = value; }
    void setProgressText(const QString& text) override
    {
        if (!text.startsWith(texts::kProcessing)) {
            endLine();
            return;
        }
        ++m_row;
        const QString counted = QStringLiteral("%1/%2 %3").arg(m_row).arg(m_rows.size()).arg(text);
        if (m_terminal) {
            const int filled = qBound(0, m_value / 5, 20);
            m_err << "\r\033[K[" << QString(filled, QLatin1Char('#')) << QString(20 - filled, QLatin1Char('-')) << "] "
                  << counted;
            m_lineOpen = true;
        } else {
            m_err << counted << '\n';
        }
        m_err.flush();
    }
    void setMousePointer(int) override {}
    void yield() override { DoEvents(); }

    // Ends the progress bar's line, so that what follows starts on its own.
    void endLine()
    {
        if (!m_lineOpen)
            return;
        m_err << '\n';
        m_err.flush();
        m_lineOpen = false;
    }

private:
    QStringList m_rows;
    QString m_folder;
    QTextStream& m_err;
    bool m_terminal;
    int m_value = 0;
    int m_row = 0;
    bool m_lineOpen = false;
};

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
        if (a == QLatin1String("--export") || a == QLatin1String("--help") || a == QLatin1String("-h"))
            return true;
    }
    return false;
}

QString CommandLineUsage()
{
    return QStringLiteral("Usage: pradelux --export [--output DIR] [--extension EXT] [--yes | --no] PATH...\n"
                          "\n"
                          "Exports presentations to PDF without a window. Each PATH is a presentation, or a\n"
                          "folder whose files (with those of its subfolders) are exported: every file, or\n"
                          "only *.EXT with --extension. Names beginning with \"~\" and hidden files inside\n"
                          "folders are skipped.\n"
                          "\n"
                          "  --output DIR      where the PDFs go (default: the folder the window last used)\n"
                          "  --extension EXT   take only files ending in .EXT from folders\n"
                          "  --yes, --no       the answer when the presentation application is already\n"
                          "                    running (default: yes, go on; it is quit after each file)\n"
                          "  --no-wait         when another export is running, end at once (status 3)\n"
                          "                    instead of waiting for it\n"
                          "  --help            this text\n"
                          "\n"
                          "Each PDF written is printed on the standard output, one path a line; progress,\n"
                          "reports and the final message go to the error output. Exit status: 0 when every\n"
                          "presentation gave its PDF, 1 when some did not, 2 for wrong usage, 3 when\n"
                          "another export was running and --no-wait was given.\n"
                          "Without --export, pradelux opens its window.\n");
}

int RunCommandLine(const QStringList& arguments, CommandLineServices& services)
{
    Options options;
    const auto wrong = parse(arguments, options);
    if (options.help && !wrong) {
        services.out << CommandLineUsage();
        services.out.flush();
        return exitcode::kAllWritten;
    }
    QStringList problems;
    if (wrong)
        problems << *wrong;
    if (!wrong && options.paths.isEmpty())
        problems << QStringLiteral("No presentation or folder was given.");
    for (const QString& path : options.paths) {
        // A name that is not valid UTF-8 becomes a row that the run names as
        // not exported, with the reason.
        if (!QFileInfo::exists(path) && !HasUndecodableName(path))
            problems << QStringLiteral("No such file or folder: %1").arg(path);
    }
    if (!options.output.isEmpty() && !IsFolder(options.output))
        problems << QStringLiteral("The output folder does not exist: %1").arg(options.output);
    if (!problems.isEmpty()) {
        for (const QString& p : problems)
            services.err << "pradelux: " << p << '\n';
        services.err << "Try 'pradelux --help'.\n";
        services.err.flush();
        return exitcode::kUsage;
    }

    ConsoleDialogs dialogs(services.err, options.answer);
    dialogs.setApplicationTitle(ApplicationTitle(kProductTitle));

    // The rows, as the window's drop and folder scan would add them.
    QString extension = options.extension;
    while (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    const QString pattern = QStringLiteral("*.") + (extension.isEmpty() ? QStringLiteral("*") : extension);
    QStringList rows;
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
        AppendMatchingFiles(
            folders, pattern, [&](const QStringList& found) { rows << found; }, std::ref(trap), std::ref(yield));
    }

    QString folder = options.output.isEmpty()
                         ? services.settings.ReadSetting(settings::kLocation, services.defaultOutputFolder())
                         : QFileInfo(options.output).absoluteFilePath();
    ConsoleHost host(rows, folder, services.err, services.errIsTerminal);
    dialogs.beforeWriting = [&host] { host.endLine(); };
    RunLock lock(services.lockPath);
    bool toldWaiting = false;
    bool gaveUp = false;
    ExportRun run(host, dialogs, &services.automation, [&](const QString& presentation, const QString& pdf) {
        return PowerPoint1(PowerPoint1::defaults(services.automation, services.registry, dialogs))
            .DoPPT(presentation, pdf);
    });
    run.setLock(&lock, QStringLiteral("pradelux --export"), [&](const QString& holder) {
        host.endLine();
        if (options.noWait) {
            services.err << "pradelux: another export is running: " << holder << ". Nothing was exported.\n";
            services.err.flush();
            gaveUp = true;
            return false;
        }
        if (!toldWaiting) {
            services.err << "pradelux: waiting for another export to finish: " << holder << "\n";
            services.err.flush();
            toldWaiting = true;
        }
        Pause(0.5);
        return true;
    });
    run.PushButton2_Click();
    host.endLine();
    if (gaveUp)
        return exitcode::kNotStarted;

    const ExportOutcome& outcome = run.lastOutcome();
    for (const QString& pdf : outcome.written)
        services.out << pdf << '\n';
    services.out.flush();
    return outcome.allWritten() ? exitcode::kAllWritten : exitcode::kSomeFailed;
}

} // namespace pradelux
