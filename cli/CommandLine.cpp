// The export from a terminal or a script.
#include "CommandLine.h"

#include "AddFolder.h"
#include "ClaimPlan.h"
#include "ConsoleDialogs.h"
#include "ConsoleHost.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
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
#include "SettingsStore.h"
#include "Startup.h"
#include "TerminalText.h"
#include "WindowChoices.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
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
    bool quiet = false; // the error output holds failures and the final message alone
    bool update = false;
    bool keepFolders = false;
    bool followLinks = false; // links to folders, while folders are scanned
    // What the PDFs hold and how they are made; without --isolate-rows, one
    // LibreOffice prints a folder's rows.
    PrintChoices choices = {.isolateRows = false};
    bool windowChoices = false; // the window's PDF choices under the options given
    QString subfoldersFrom;     // a job's: each row's folder below the output folder
    QString filesFrom;
    QString passwordFile;
    bool passwordsAfterRows = false; // a job's: its passwords follow its rows on the standard input
    // For presentations protected by a password, tried on each in turn.
    QStringList passwords;
    QString report;
    int share = 1; // --shard K/N: the K-th of N shares
    int shares = 1;
    int jobs = 1; // how many rows at once
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
// rest: when given, the entries after the first empty one (a job's
// passwords, after its rows).
// What a file of the command line's holds (the standard input for "-").
std::optional<QByteArray> readInput(const QString& from)
{
    QFile file;
    const bool opened = from == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(from), file.open(QIODevice::ReadOnly));
    return opened ? std::optional<QByteArray>(file.readAll()) : std::nullopt;
}

std::optional<QStringList> readList(const QString& from, bool null, QStringList* rest = nullptr)
{
    const std::optional<QByteArray> listed = readInput(from);
    if (!listed)
        return std::nullopt;
    QStringList paths;
    QStringList* into = &paths;
    for (const QByteArray& entry : listed->split(null ? '\0' : '\n')) {
        const QByteArray path = null ? entry : entry.trimmed();
        if (path.isEmpty() && rest && null)
            into = rest;
        else if (!path.isEmpty())
            *into << (into == &paths ? QFile::decodeName(path) : QString::fromUtf8(path));
    }
    return paths;
}

// The passwords of a file, one a line, as they stand: only the line's end
// (and a carriage return before it) is not the password's.
std::optional<QStringList> readPasswords(const QString& from)
{
    std::optional<QByteArray> given = readInput(from);
    if (!given)
        return std::nullopt;
    QStringList passwords;
    for (QByteArray line : given->split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            passwords << QString::fromUtf8(line);
        line.fill('\0');
    }
    given->fill('\0');
    return passwords;
}

// The options as GNU tools take them: --name VALUE or --name=VALUE, -0,
// options and paths in any order, "--" before paths that begin with "-".
// The options of a job of --jobs are hidden from --help.
struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption exportFlag{QStringLiteral("export")};
    QCommandLineOption yes{QStringLiteral("yes")};
    QCommandLineOption no{QStringLiteral("no")};
    QCommandLineOption noWait{QStringLiteral("no-wait")};
    QCommandLineOption null{{QStringLiteral("0"), QStringLiteral("null")}};
    QCommandLineOption verbose{QStringLiteral("verbose")};
    QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")}};
    QCommandLineOption update{QStringLiteral("update")};
    QCommandLineOption keepFolders{QStringLiteral("keep-folders")};
    QCommandLineOption followLinks{QStringLiteral("follow-links")};
    QCommandLineOption isolateRows{QStringLiteral("isolate-rows")};
    QCommandLineOption noTags{QStringLiteral("no-tags")};
    QCommandLineOption noHiddenSlides{QStringLiteral("no-hidden-slides")};
    QCommandLineOption notes{QStringLiteral("notes")};
    QCommandLineOption notesOnly{QStringLiteral("notes-only")};
    QCommandLineOption slides{QStringLiteral("slides"), {}, QStringLiteral("LIST")};
    QCommandLineOption windowChoices{QStringLiteral("window-choices")};
    QCommandLineOption pdfa{QStringLiteral("pdfa"), {}, QStringLiteral("1|2|3")};
    QCommandLineOption pdfua{QStringLiteral("pdfua")};
    QCommandLineOption imageDpi{QStringLiteral("image-dpi"), {}, QStringLiteral("N")};
    QCommandLineOption jpegQuality{QStringLiteral("jpeg-quality"), {}, QStringLiteral("N")};
    QCommandLineOption losslessImages{QStringLiteral("lossless-images")};
    QCommandLineOption noLinkedPictures{QStringLiteral("no-linked-pictures")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")}, {}, QStringLiteral("DIR")};
    QCommandLineOption extension{QStringLiteral("extension"), {}, QStringLiteral("EXT")};
    QCommandLineOption filesFrom{QStringLiteral("files-from"), {}, QStringLiteral("FILE")};
    QCommandLineOption passwordFile{QStringLiteral("password-file"), {}, QStringLiteral("FILE")};
    QCommandLineOption passwordsAfterRows{QStringLiteral("passwords-after-rows")};
    QCommandLineOption report{QStringLiteral("report"), {}, QStringLiteral("FILE")};
    QCommandLineOption jobs{{QStringLiteral("j"), QStringLiteral("jobs")}, {}, QStringLiteral("N")};
    QCommandLineOption shard{QStringLiteral("shard"), {}, QStringLiteral("K/N")};
    QCommandLineOption job{QStringLiteral("job")};
    QCommandLineOption claims{QStringLiteral("claims"), {}, QStringLiteral("FILE")};
    QCommandLineOption subfoldersFrom{QStringLiteral("subfolders-from"), {}, QStringLiteral("FILE")};

    Parser()
    {
        for (QCommandLineOption* hidden : {&job, &claims, &subfoldersFrom, &passwordsAfterRows})
            hidden->setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOptions({help,
                           version,
                           exportFlag,
                           yes,
                           no,
                           noWait,
                           null,
                           verbose,
                           quiet,
                           update,
                           keepFolders,
                           followLinks,
                           output,
                           extension,
                           filesFrom,
                           passwordFile,
                           passwordsAfterRows,
                           report,
                           isolateRows,
                           jobs,
                           shard,
                           job,
                           claims,
                           subfoldersFrom,
                           noTags,
                           pdfa,
                           pdfua,
                           imageDpi,
                           jpegQuality,
                           losslessImages,
                           noHiddenSlides,
                           notes,
                           notesOnly,
                           slides,
                           windowChoices,
                           noLinkedPictures});
    }
};

// The PDF options, each read into the settings and given back from them to
// the jobs of --jobs: a switch sets its setting to the value that is not
// the default; a number is taken within its range.
struct PdfSwitch
{
    QCommandLineOption Parser::*option;
    bool PdfSettings::*setting;
};
const PdfSwitch kPdfSwitches[] = {{&Parser::noTags, &PdfSettings::tagged},
                                  {&Parser::pdfua, &PdfSettings::pdfua},
                                  {&Parser::losslessImages, &PdfSettings::losslessImages},
                                  {&Parser::noLinkedPictures, &PdfSettings::linkedPictures}};
struct PdfNumber
{
    QCommandLineOption Parser::*option;
    int PdfSettings::*setting;
    int low;
    int high;
    const char* what;
};
const PdfNumber kPdfNumbers[] = {{&Parser::pdfa, &PdfSettings::pdfa, 1, 3, "1, 2 or 3 (PDF/A-1, 2 or 3)"},
                                 {&Parser::imageDpi, &PdfSettings::imageDpi, 50, 2400, "a resolution from 50 to 2400"},
                                 {&Parser::jpegQuality, &PdfSettings::jpegQuality, 1, 100, "a quality from 1 to 100"}};

// How the printer is to make the PDFs; what is wrong with the values, or
// with a combination that LibreOffice would refuse or quietly change, goes
// to badValues.
void readPdfSettings(const Parser& p, PdfSettings& pdf, QStringList& badValues)
{
    const QCommandLineParser& given = p.parser;
    // On top of what pdf holds: the defaults, or the window's choices.
    for (const PdfSwitch& s : kPdfSwitches) {
        if (given.isSet(p.*s.option))
            pdf.*s.setting = !(PdfSettings{}.*s.setting);
    }
    for (const PdfNumber& n : kPdfNumbers) {
        const QCommandLineOption& option = p.*n.option;
        if (!given.isSet(option))
            continue;
        bool ok = false;
        const int value = given.value(option).toInt(&ok);
        if (!ok || value < n.low || value > n.high)
            badValues << QStringLiteral("--%1 takes %2: %3")
                             .arg(option.names().constFirst(), QLatin1String(n.what), given.value(option));
        pdf.*n.setting = ok ? value : 0;
    }
    using pdfsettings::Conflict;
    for (const Conflict conflict : pdfsettings::Conflicts(pdf)) {
        switch (conflict) {
        case Conflict::UaWithoutTags:
            badValues << QStringLiteral("--pdfua needs the tags that --no-tags leaves out.");
            break;
        case Conflict::PdfAWithoutTags:
            badValues << QStringLiteral("--no-tags cannot be combined with --pdfa: LibreOffice tags every PDF/A it "
                                        "writes.");
            break;
        case Conflict::UaWithPdfA1:
            badValues << QStringLiteral("--pdfua cannot be combined with --pdfa 1: PDF/A-1 allows no PDF/UA; use "
                                        "--pdfa 2 or 3.");
            break;
        case Conflict::QualityButLossless:
            badValues << QStringLiteral("--jpeg-quality has no effect with --lossless-images, which keeps images "
                                        "without JPEG.");
            break;
        }
    }
}

// The options that give these settings, for the jobs of --jobs.
QStringList PdfOptionsOf(const PdfSettings& pdf)
{
    const Parser p;
    QStringList options;
    for (const PdfSwitch& s : kPdfSwitches) {
        if (pdf.*s.setting != PdfSettings{}.*s.setting)
            options << QStringLiteral("--") + (p.*s.option).names().constFirst();
    }
    for (const PdfNumber& n : kPdfNumbers) {
        if (pdf.*n.setting > 0)
            options << QStringLiteral("--") + (p.*n.option).names().constFirst() << QString::number(pdf.*n.setting);
    }
    return options;
}

// Reads the options; the texts for the user of what is wrong with them: the
// options themselves, and (in badValues) the values of --shard and --jobs.
QStringList parse(const QStringList& arguments, Options& options, QStringList& badValues)
{
    Parser p;
    if (!p.parser.parse(QStringList{QStringLiteral("pradelux")} + arguments)) {
        QStringList wrong;
        for (const QString& name : p.parser.unknownOptionNames())
            wrong << QStringLiteral("Unknown option: %1%2").arg(name.size() == 1 ? "-" : "--", name);
        // "Missing value after '--jobs'."
        static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
        if (const auto match = missing.match(p.parser.errorText()); match.hasMatch())
            wrong << QStringLiteral("%1 needs a value.").arg(match.captured(1));
        return wrong.isEmpty() ? QStringList{p.parser.errorText()} : wrong;
    }
    const QCommandLineParser& given = p.parser;
    options.help = given.isSet(p.help);
    options.version = given.isSet(p.version);
    // The last of --yes and --no counts.
    for (const QString& name : given.optionNames()) {
        if (name == QLatin1String("yes") || name == QLatin1String("no"))
            options.answer = name == QLatin1String("yes");
    }
    options.noWait = given.isSet(p.noWait);
    options.null = given.isSet(p.null);
    options.verbose = given.isSet(p.verbose);
    options.quiet = given.isSet(p.quiet);
    options.update = given.isSet(p.update);
    options.keepFolders = given.isSet(p.keepFolders);
    options.followLinks = given.isSet(p.followLinks);
    options.windowChoices = given.isSet(p.windowChoices);
    PrintChoices& choices = options.choices;
    choices.isolateRows = choices.isolateRows || given.isSet(p.isolateRows);
    readPdfSettings(p, choices.pdf, badValues);
    choices.hiddenSlides = choices.hiddenSlides && !given.isSet(p.noHiddenSlides);
    if (given.isSet(p.notes) && given.isSet(p.notesOnly))
        badValues << QStringLiteral("--notes and --notes-only cannot be combined: --notes prints the slides and then "
                                    "their notes pages, --notes-only the notes pages alone.");
    else if (given.isSet(p.notes))
        choices.output = printoutput::kSlidesThenNotesPages;
    else if (given.isSet(p.notesOnly))
        choices.output = printoutput::kNotesPages;
    if (given.isSet(p.slides)) {
        QString why;
        choices.slides = printoutput::ParseSlides(given.value(p.slides), &why);
        if (choices.slides.isEmpty())
            badValues << QStringLiteral("--slides takes a list like 1-3,7: %1.").arg(why);
    }
    options.job = given.isSet(p.job);
    options.output = given.value(p.output);
    options.extension = given.value(p.extension);
    options.filesFrom = given.value(p.filesFrom);
    options.passwordFile = given.value(p.passwordFile);
    options.passwordsAfterRows = given.isSet(p.passwordsAfterRows);
    options.report = given.value(p.report);
    options.claims = given.value(p.claims);
    options.subfoldersFrom = given.value(p.subfoldersFrom);
    options.paths = given.positionalArguments();

    if (given.isSet(p.shard)) {
        const QString shard = given.value(p.shard);
        const QStringList kn = shard.split(QLatin1Char('/'));
        bool okK = false;
        bool okN = false;
        options.share = kn.value(0).toInt(&okK);
        options.shares = kn.value(1).toInt(&okN);
        if (kn.size() != 2 || !okK || !okN || options.shares < 1 || options.share < 1 || options.share > options.shares)
            badValues << QStringLiteral("--shard takes K/N with 1 <= K <= N: %1").arg(shard);
    }
    if (given.isSet(p.jobs)) {
        bool ok = false;
        options.jobs = given.value(p.jobs).toInt(&ok);
        if (!ok || options.jobs < 0)
            badValues << QStringLiteral("--jobs takes a number, 0 for one per processor: %1").arg(given.value(p.jobs));
        else if (options.jobs == 0)
            options.jobs = qMax(1, QThread::idealThreadCount());
    }
    return {};
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
                          "Names beginning with \"~\" and hidden files inside folders are skipped; links to\n"
                          "folders inside them are not followed unless --follow-links is given.\n"
                          "\n"
                          "  -o, --output DIR    where the PDFs go (default: the folder the window last used)\n"
                          "  --extension EXT     take only files ending in .EXT from folders ('*': every file)\n"
                          "  --files-from FILE   export the paths listed in FILE, one a line ('-': standard\n"
                          "                      input), besides the PATHs\n"
                          "  --password-file FILE  open presentations protected by a password with the\n"
                          "                      passwords in FILE, one a line ('-': standard input),\n"
                          "                      each tried in turn\n"
                          "  -0, --null          paths end with a NUL byte instead of a new line, written\n"
                          "                      and read (--files-from)\n"
                          "  --report FILE       one JSON object a line for each row as it ends: presentation,\n"
                          "                      pdf, status (written, failed, replaced, skipped), pages,\n"
                          "                      pdfVersion, pdfa, tagged, fonts, lacking, seconds, error,\n"
                          "                      protected\n"
                          "  -j, --jobs N        export N rows at once, each job with its own presentation\n"
                          "                      application, LibreOffice and printer values (0: one per\n"
                          "                      processor; default 1)\n"
                          "  --isolate-rows      print every presentation with a LibreOffice that printed\n"
                          "                      nothing before (without it, one LibreOffice prints the\n"
                          "                      presentations of one folder that come one after another)\n"
                          "\n"
                          "  --shard K/N         export only the K-th of N shares of the rows (by a stable hash\n"
                          "                      of each path), so N machines given the same arguments share them\n"
                          "  --keep-folders      each PDF goes to the folder below --output that its\n"
                          "                      presentation has below the folder given (a file given by\n"
                          "                      itself: to --output itself)\n"
                          "  --follow-links      follow links to folders while scanning folders (as find -L),\n"
                          "                      each folder once\n"
                          "  --update            leave a presentation whose PDF is newer than it (reported\n"
                          "                      skipped, not a failure)\n"
                          "  -q, --quiet         the error output holds the failed rows and the final\n"
                          "                      message alone, no progress (for cron and CI logs)\n"
                          "  --verbose           each failed row's reports in full, as the window shows\n"
                          "                      them, every failing step's (by default: one line a row)\n"
                          "  --yes, --no         the answer when the presentation application is already\n"
                          "                      running (default: yes, go on and use it)\n"
                          "  --no-wait           when another export is running, end at once (status 3)\n"
                          "                      instead of waiting for it\n"
                          "  --version           the version\n"
                          "  --help              this text\n"
                          "\n"
                          "What the PDFs hold, and how they are made: they are tagged (structure tags,\n"
                          "which screen readers follow, and the presentation's title, or its file's\n"
                          "name) and hold every slide unless told otherwise:\n"
                          "  --no-tags           no structure tags\n"
                          "  --pdfa 1|2|3        PDF/A-1, 2 or 3 (level B at least), for archives\n"
                          "  --pdfua             PDF/UA, for accessibility rules (not with --pdfa 1)\n"
                          "  --image-dpi N       images reduced to at most N dots per inch (50 to 2400)\n"
                          "  --jpeg-quality N    JPEG quality of images, 1 to 100\n"
                          "  --lossless-images   images kept without loss (not with --jpeg-quality)\n"
                          "  --no-linked-pictures  no picture a presentation links from a file beside it\n"
                          "                      is shown to LibreOffice (for decks from strangers)\n"
                          "  --no-hidden-slides  leave out the slides the presentation hides (printed by\n"
                          "                      default, as the window prints them)\n"
                          "  --notes             the slides, then their notes pages, in one PDF\n"
                          "  --notes-only        the notes pages (each slide above its notes) instead of\n"
                          "                      the slides, for handouts\n"
                          "  --slides LIST       only these slides, numbered as in the presentation with\n"
                          "                      hidden ones counted, as 1-3,7; a presentation fails whose\n"
                          "                      last slide comes before the first of a range\n"
                          "  --window-choices    start from the choices kept in the window's PDF Options\n"
                          "                      (and its hidden slides, pages, slides and LibreOffice for\n"
                          "                      every presentation); the options given go on top\n"
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

namespace {

// The rows of a run: what the paths brought, one row a file.
struct Rows
{
    QStringList files;
    // --keep-folders: each row's folder below the folder it was found in.
    QHash<QString, QString> subfolders;
    // How many the paths brought before the run took its share.
    qsizetype found = 0;
};

// The options, read and checked. Ends the run (its exit status) for --help,
// --version and wrong usage, which it explains.
std::optional<int> readOptions(const QStringList& arguments, Options& options, CommandLineServices& services)
{
    QStringList badValues;
    QStringList problems = parse(arguments, options, badValues);
    // The window's choices, with the options given on top of them.
    if (options.windowChoices && problems.isEmpty()) {
        options = Options();
        options.choices = ReadPdfChoices(services.settings);
        badValues.clear();
        problems = parse(arguments, options, badValues);
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
                readList(options.filesFrom, options.null, options.passwordsAfterRows ? &options.passwords : nullptr))
            options.paths << *listed;
        else
            problems << QStringLiteral("The list of files cannot be read: %1").arg(options.filesFrom);
    }
    if (!options.passwordFile.isEmpty()) {
        if (options.passwordFile == QLatin1String("-") && options.filesFrom == QLatin1String("-"))
            problems << QStringLiteral("--files-from - and --password-file - cannot both read the standard input.");
        else if (const auto passwords = readPasswords(options.passwordFile))
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

// The rows, as the window's drop and folder scan would add them; a folder
// brings its presentations unless --extension says otherwise. A file named
// twice (a folder and a file in it, two links to it) is one row, as in the
// window's list.
Rows collectRows(const Options& options, Dialogs& dialogs)
{
    QString extension = options.extension;
    while (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    const QString pattern = extension.isEmpty()               ? kPresentationPatterns
                            : extension == QLatin1String("*") ? QStringLiteral("*.*")
                                                              : QStringLiteral("*.") + extension;
    Rows rows;
    QStringList all;
    ErrorTrap trap(dialogs, tags::kFolderScan);
    ThrottledYield yield(DoEvents);
    for (const QString& path : options.paths) {
        // The presentation application may run elsewhere: it gets full paths.
        const QString full = QFileInfo(path).absoluteFilePath();
        if (!IsFolder(full)) {
            all << full;
            continue;
        }
        FolderList folders{full == QLatin1String("/") ? full : full + kSeparator};
        trap(112, [&] {
            FolderScanState state{dialogs, std::ref(yield), {}, {}, options.followLinks};
            GetSubDirectories2016(folders, true, state);
        });
        const QDir top(full);
        AppendMatchingFiles(
            folders, pattern,
            [&](const QStringList& found) {
                all << found;
                for (const QString& file : found) {
                    const QString below = top.relativeFilePath(QFileInfo(file).path());
                    if (options.keepFolders && below != QLatin1String("."))
                        rows.subfolders.insert(file, below);
                }
            },
            std::ref(trap), std::ref(yield));
    }
    // A job of --jobs is given the rows' folders by the run.
    if (!options.subfoldersFrom.isEmpty()) {
        rows.subfolders.insert(ReadPairs(options.subfoldersFrom));
    }
    QSet<QString> seen;
    for (const QString& file : std::as_const(all)) {
        const QString key = FileKey(file);
        if (key.isEmpty() || !seen.contains(key))
            rows.files << file;
        seen.insert(key);
    }
    rows.found = rows.files.size();
    return rows;
}

// --shard K/N: only the rows of this run's share.
void takeShare(Rows& rows, const Options& options)
{
    if (options.shares > 1)
        rows.files.removeIf([&](const QString& row) { return shareOf(row, options.shares) != options.share; });
}

// --slides: a list that starts past the last slide of every presentation
// would print nothing, so it ends the run before anything is exported. Each
// presentation fails that starts past, so the run goes on while one is long
// enough, or cannot be counted here (a password, a .ppt saved by fast
// save); a file that is no presentation fails its row anyway.
std::optional<int> checkSlides(const Options& options, const Rows& rows, CommandLineServices& services)
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
int runInJobs(const Options& options, const Rows& rows, const QString& folder, CommandLineServices& services)
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
int endOfRun(const ExportRun& run, const Options& options, qsizetype rows, const LockWaiter& waiter,
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
int runHere(const Options& options, const Rows& rows, const QString& folder, ConsoleDialogs& dialogs,
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
    Options options;
    if (const auto ended = readOptions(arguments, options, services))
        return *ended;
    ConsoleDialogs dialogs(services.err, options.answer);
    dialogs.setApplicationTitle(ApplicationTitle(kProductTitle));
    if (const auto ended = checkPrerequisites(services))
        return *ended;
    Rows rows = collectRows(options, dialogs);
    takeShare(rows, options);
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
