// The options of pradelux --export, read with QCommandLineParser.
#include "ExportOptions.h"

#include <QCommandLineParser>
#include <QThread>

namespace pradelux {

namespace {

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
        all = {help,
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
               noLinkedPictures};
        parser.addOptions(all);
    }
    QList<QCommandLineOption> all;
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
    pdfsettings::Range range;
    const char* what;
};
const PdfNumber kPdfNumbers[] = {
    {&Parser::pdfa, &PdfSettings::pdfa, pdfsettings::kPdfARange, "%1, 2 or %2 (PDF/A-1, 2 or 3)"},
    {&Parser::imageDpi, &PdfSettings::imageDpi, pdfsettings::kImageDpiRange, "a resolution from %1 to %2"},
    {&Parser::jpegQuality, &PdfSettings::jpegQuality, pdfsettings::kJpegQualityRange, "a quality from %1 to %2"}};

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
        if (!ok || value == 0 || !n.range.holds(value))
            badValues << QStringLiteral("--%1 takes %2: %3")
                             .arg(option.names().constFirst(),
                                  QString::fromLatin1(n.what).arg(n.range.low).arg(n.range.high), given.value(option));
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

// Whether argument names an option that takes a value ("--jobs", "-j").
bool takesValue(const Parser& p, const QString& argument)
{
    for (const QCommandLineOption& option : p.all) {
        for (const QString& name : option.names()) {
            if (!option.valueName().isEmpty() &&
                argument == (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
                return true;
        }
    }
    return false;
}

} // namespace

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

QStringList ParseOptions(const QStringList& arguments, ExportOptions& options, QStringList& badValues)
{
    Parser p;
    if (!p.parser.parse(QStringList{QStringLiteral("pradelux")} + arguments)) {
        QStringList wrong;
        for (const QString& name : p.parser.unknownOptionNames())
            wrong << QStringLiteral("Unknown option: %1%2").arg(name.size() == 1 ? "-" : "--", name);
        // An option that takes a value, given last without one (before
        // "--" every argument is read as an option's).
        const QString last = arguments.isEmpty() ? QString() : arguments.constLast();
        if (!arguments.contains(QStringLiteral("--")) && takesValue(p, last))
            wrong << QStringLiteral("%1 needs a value.").arg(last);
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

QStringList ListedOptionNames()
{
    const Parser p;
    QStringList names;
    for (const QCommandLineOption& option : p.all) {
        if (option.flags() & QCommandLineOption::HiddenFromHelp)
            continue;
        for (const QString& name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    }
    return names;
}

} // namespace pradelux
