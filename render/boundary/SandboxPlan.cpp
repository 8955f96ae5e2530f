// What a rendering may reach.
#include "SandboxPlan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace pradelux::render::boundary {

namespace {
// The system's own folders, shown read-only by bubblewrap.
const char* const kSystemFolders[] = {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/opt"};
// GnuPG's programs, which LibreOffice looks for as it loads its first
// presentation: covered, since inside there are no keys and no agent.
const char* const kGnuPG[] = {"/usr/bin/gpgconf", "/usr/bin/gpg", "/usr/bin/gpg2", "/usr/bin/gpgsm"};

QString xdgFolder(const char* variable, const char* fallback)
{
    const QString set = qEnvironmentVariable(variable);
    return set.startsWith(QLatin1Char('/')) ? set : QDir::homePath() + QLatin1String(fallback);
}

// The file $FONTCONFIG_FILE names, when it names one by its full path.
QString userFontConfiguration()
{
    const QString file = qEnvironmentVariable("FONTCONFIG_FILE");
    return file.startsWith(QLatin1Char('/')) && QFileInfo(file).isFile() ? file : QString();
}
} // namespace

QString RefusedText(const QString& why)
{
    return QStringLiteral(
               "Presentations cannot be printed safely here: LibreOffice's sandbox cannot be made (%1). It needs "
               "unprivileged user namespaces: on Ubuntu 24.04 and later, install Pradelux from its package, which "
               "allows them for its renderer; elsewhere run: sudo sysctl kernel.unprivileged_userns_clone=1 "
               "user.max_user_namespaces=15000")
        .arg(why);
}

Plan RendererPlan(const QStringList& programFolders, const QString& profileTemplate, qint64 jobBytes)
{
    Plan plan;
    plan.readable = QStringList{profileTemplate} + programFolders;
    plan.jobBytes = jobBytes;
    return plan;
}

Plan ProfileMakerPlan(const QString& folder, const QStringList& programFolders)
{
    Plan plan;
    plan.writable = {folder};
    plan.readable = programFolders;
    return plan;
}

Plan CheckPlan()
{
    return {};
}

bool PathUnder(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder == QLatin1String("/") ? folder : folder + QLatin1Char('/'));
}

QStringList SystemFolders()
{
    QStringList folders;
    for (const char* folder : kSystemFolders)
        folders << QString::fromLatin1(folder);
    return folders;
}

bool IsSystemPath(const QString& path)
{
    for (const char* system : kSystemFolders) {
        if (PathUnder(path, QString::fromLatin1(system)))
            return true;
    }
    return false;
}

// Without a cache LibreOffice reads every font file each time it starts;
// without the user's fonts and settings it prints with other fonts than the
// user's own LibreOffice.
QStringList FontFolders()
{
    const QString home = QDir::homePath();
    QStringList folders = {
        QStringLiteral("/var/cache/fontconfig"), xdgFolder("XDG_DATA_HOME", "/.local/share") + "/fonts",
        home + QStringLiteral("/.fonts"),        xdgFolder("XDG_CACHE_HOME", "/.cache") + "/fontconfig",
        home + QStringLiteral("/.fontconfig"),   xdgFolder("XDG_CONFIG_HOME", "/.config") + "/fontconfig"};
    if (const QString file = userFontConfiguration(); !file.isEmpty())
        folders << file;
    return folders;
}

QByteArray FontConfiguration(const QString& standIns, bool noColourFonts)
{
    QString main = userFontConfiguration();
    if (main.isEmpty())
        main = QStringLiteral("/etc/fonts/fonts.conf");
    const QString noColour =
        QStringLiteral("  <selectfont><rejectfont><pattern><patelt name=\"color\"><bool>true</bool>"
                       "</patelt></pattern></rejectfont></selectfont>\n");
    return QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                          "<fontconfig>\n  <include ignore_missing=\"yes\">%1</include>\n"
                          "  <include ignore_missing=\"yes\">%2</include>\n%3</fontconfig>\n")
        .arg(standIns.toHtmlEscaped(), main.toHtmlEscaped(), noColourFonts ? noColour : QString())
        .toUtf8();
}

QString ShowableLink(const QString& link)
{
    const QString clean = QDir::cleanPath(link);
    if (clean.isEmpty() || clean.startsWith(QLatin1Char('/')) || clean == QLatin1String(".") ||
        clean.startsWith(QLatin1String("../")) || clean == QLatin1String(".."))
        return QString();
    for (const QString& part : clean.split(QLatin1Char('/'))) {
        if (part.startsWith(QLatin1Char('.')))
            return QString();
    }
    return clean;
}

bool IsPicture(QByteArrayView head)
{
    const auto at = [&](qsizetype offset, QByteArrayView bytes) {
        return head.size() >= offset + bytes.size() && head.sliced(offset, bytes.size()) == bytes;
    };
    if (at(0, "\x89PNG\r\n\x1a\n") || at(0, "\xFF\xD8\xFF") || at(0, "GIF87a") || at(0, "GIF89a") || at(0, "II*\0") ||
        at(0, "MM\0*") || (at(0, "RIFF") && at(8, "WEBP")) ||
        // Windows and enhanced metafiles: placeable, or bare on disk or in memory.
        at(0, "\xD7\xCD\xC6\x9A") || at(0, QByteArrayView("\x01\x00\x09\x00", 4)) ||
        at(0, QByteArrayView("\x02\x00\x09\x00", 4)) ||
        (at(0, QByteArrayView("\x01\x00\x00\x00", 4)) && at(40, " EMF")))
        return true;
    // A bitmap: "BM", then its size and two reserved words of nought.
    if (at(0, "BM") && at(6, QByteArrayView("\0\0\0\0", 4)))
        return true;
    // SVG: XML whose first element, within the head, is svg.
    const QByteArrayView text = head.trimmed();
    return (text.startsWith("<?xml") || text.startsWith("<svg") || text.startsWith("<!DOCTYPE svg")) &&
           text.contains("<svg");
}

bool MayShowLinkedFile(const LinkedFile& linked, bool runAsRoot)
{
    if (!S_ISREG(linked.file.st_mode) || linked.file.st_nlink != 1 || !linked.ownerCanRead)
        return false;
    return !runAsRoot || linked.file.st_uid == linked.deckOwner || linked.file.st_uid == 0;
}

QByteArrayList BubblewrapArguments(const QByteArray& root, int filter)
{
    QByteArrayList arguments = {"bwrap",
                                "--unshare-all",
                                "--unshare-user",
                                "--disable-userns",
                                "--die-with-parent",
                                "--new-session",
                                "--cap-drop",
                                "ALL",
                                "--bind",
                                root,
                                "/"};
    for (const char* folder : kSystemFolders) {
        struct stat st;
        if (::lstat(folder, &st) == 0 && S_ISDIR(st.st_mode))
            arguments << "--ro-bind" << folder << folder;
    }
    // LibreOffice looks for GnuPG as it loads its first presentation, which
    // costs five programs' starts; inside there are no keys and no agent to
    // use, so its programs are covered and the search ends at once.
    for (const char* program : kGnuPG) {
        struct stat st;
        if (::stat(program, &st) == 0 && S_ISREG(st.st_mode))
            arguments << "--ro-bind"
                      << "/dev/null" << program;
    }
    // Its /tmp and /dev/shm hold memory: both are bounded.
    arguments += QByteArrayList{
        "--proc",  "/proc",    "--dev",        "/dev", "--perms", "1777", "--size",    QByteArray::number(kShmBytes),
        "--tmpfs", "/dev/shm", "--remount-ro", "/",    "--chdir", "/",    "--seccomp", QByteArray::number(filter),
        "--"};
    return arguments;
}

// The environment inside: what LibreOffice and the fonts need, nothing
// that names a socket, a display or an agent of the host.
QByteArrayList SandboxEnvironment()
{
    QByteArrayList out = {QByteArray("HOME=") + kInsideHome, QByteArray("TMPDIR=") + kInsideTemporary,
                          "PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin",
                          // The user's fonts and font settings, where they stand on
                          // the host, after the stand-in fonts.
                          "XDG_DATA_HOME=" + QFile::encodeName(xdgFolder("XDG_DATA_HOME", "/.local/share")),
                          "XDG_CACHE_HOME=" + QFile::encodeName(xdgFolder("XDG_CACHE_HOME", "/.cache")),
                          "XDG_CONFIG_HOME=" + QFile::encodeName(xdgFolder("XDG_CONFIG_HOME", "/.config")),
                          QByteArray("FONTCONFIG_FILE=") + kInsideFontConfiguration};
    // LibreOffice turns a file's URL into its name with the locale's
    // character set: without a UTF-8 locale (cron, su -, a batch task) it
    // cannot name a file with letters outside ASCII, so it gets one.
    QByteArray ctype = qgetenv("LC_ALL");
    if (ctype.isEmpty())
        ctype = qgetenv("LC_CTYPE");
    if (ctype.isEmpty())
        ctype = qgetenv("LANG");
    const bool utf8 = ctype.toLower().contains("utf-8") || ctype.toLower().contains("utf8");
    if (!utf8)
        out << "LANG=C.UTF-8";
    for (char** e = environ; e && *e; ++e) {
        const QByteArray entry(*e);
        if (!utf8 && (entry.startsWith("LANG=") || entry.startsWith("LC_ALL=") || entry.startsWith("LC_CTYPE=")))
            continue;
        for (const char* kept : {"LANG=", "LANGUAGE=", "LC_", "TZ=", "XDG_DATA_DIRS=", "FONTCONFIG_PATH=", "SAL_",
                                 "ASAN_OPTIONS=", "UBSAN_OPTIONS=", "LSAN_OPTIONS="}) {
            if (entry.startsWith(kept))
                out << entry;
        }
    }
    return out;
}

} // namespace pradelux::render::boundary
