// What pradelux --export says of itself, and when the arguments ask for it.
#include "CommandLine.h"

namespace pradelux {

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
                          "  -h, --help          this text\n"
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

} // namespace pradelux
