// LibreOffice's profile, as every rendering starts with it.
#include "ProfileTemplate.h"

#include "ChildStart.h"

#include "Files.h"
#include "ProcessTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::render::boundary {

namespace {
// Names the LibreOffice and the settings a template was made with; a
// template whose mark differs is made anew.
const char* const kMarkName = "pradelux-template";
constexpr int kMarkVersion = 2;
// How long LibreOffice may take to fill a template.
constexpr int kMakeMs = 120000;
// Set when the process is told to end while a template is made.
volatile sig_atomic_t g_stopMaking = 0;

QByteArray markFor(const QString& soffice)
{
    const QString program = ProgramFolderOf(soffice);
    return QByteArray::number(kMarkVersion) + '\n' + QFile::encodeName(QFileInfo(soffice).canonicalFilePath()) + '\n' +
           FileIdentity(program + QStringLiteral("/versionrc")).toUtf8() + '\n';
}

QByteArray markOf(const QString& folder)
{
    QFile mark;
    const int fd = ::open(QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(kMarkName)).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !mark.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return QByteArray();
    }
    return mark.read(8192);
}

// Every setting LibreOffice must keep, by its path and name.
struct Setting
{
    const char* path;
    const char* name;
    const char* value;
};
const Setting kSettings[] = {
    // Macros are off whatever a document says.
    {"/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3"},
    {"/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true"},
    // No document is kept for recovery, none is ever recovered.
    {"/org.openoffice.Office.Recovery/AutoSave", "Enabled", "false"},
    {"/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "false"},
    // No look for updates on the network.
    {"/org.openoffice.Office.Jobs/Jobs/org.openoffice.Office.Jobs:Job['UpdateCheck']/Arguments", "AutoCheckEnabled",
     "false"},
    // The version LibreOffice last ran as, which only it writes and only with
    // a window: below its own, every start takes itself for the first of an
    // upgrade and runs its graphics tests. No LibreOffice is newer than this
    // one.
    {"/org.openoffice.Setup/Product", "ooSetupLastVersion", "999.9"},
};
} // namespace

QString DefaultProfileTemplate()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/pradelux-office/profile-template");
}

void PrepareProfile(const QString& profile)
{
    // Nothing in the folder is followed (a link to a file of the user's, a
    // pipe that never ends).
    QDir().mkpath(profile);
    const QByteArray base = QFile::encodeName(profile);
    const int top = ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0)
        return;
    ::mkdirat(top, "user", 0700);
    const int user = ::openat(top, "user", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(top);
    if (user < 0)
        return; // not a folder: LibreOffice makes no profile there either
    const char* const name = "registrymodifications.xcu";
    QByteArray text;
    const int fd = ::openat(user, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st = {};
    constexpr qint64 kSettingsMax = 16 << 20;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kSettingsMax) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            text = file.read(kSettingsMax);
    }
    if (fd >= 0)
        ::close(fd);
    if (!text.contains("</oor:items>"))
        text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items "
               "xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n</oor:items>\n";
    QByteArray ours;
    for (const Setting& setting : kSettings) {
        const QByteArray head =
            QByteArray("<item oor:path=\"") + setting.path + "\"><prop oor:name=\"" + setting.name + '"';
        // An item LibreOffice wrote for the same setting goes.
        for (qsizetype at; (at = text.indexOf(head)) >= 0;) {
            const qsizetype end = text.indexOf("</item>", at);
            if (end < 0)
                break;
            text.remove(at, end + 7 - at);
        }
        ours += head + " oor:op=\"fuse\"><value>" + setting.value + "</value></prop></item>\n";
    }
    text.insert(text.lastIndexOf("</oor:items>"), ours);
    // A new file, renamed over whatever stands at the name (a link itself
    // is replaced, never what it leads to).
    const char* const fresh = ".registrymodifications.xcu.pradelux";
    ::unlinkat(user, fresh, 0);
    const int out = ::openat(user, fresh, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    QFile written;
    const bool whole = out >= 0 && written.open(out, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) &&
                       written.write(text) == text.size() && written.flush();
    if (out >= 0)
        ::close(out);
    if (!whole || ::renameat(user, fresh, user, name) != 0)
        ::unlinkat(user, fresh, 0);
    ::close(user);
}

bool EnsureProfileTemplate(const QString& folder, const QString& soffice, const QString& renderProgram, QString* why)
{
    const QByteArray mark = markFor(soffice);
    if (markOf(folder) == mark)
        return true;
    const QString parent = QFileInfo(folder).absolutePath();
    QDir().mkpath(parent);
    // Profiles that renderings wrote, which nothing reads now, go.
    for (const char* old : {"/render-profile", "/profile"})
        RemoveTree(parent + QLatin1String(old));
    // Templates half made by a process that is gone (killed as it made
    // one) go; the process's id is in the name.
    for (const QString& left : QDir(parent).entryList({QStringLiteral(".profile-template-*")},
                                                      QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString pid = left.section(QLatin1Char('-'), 2, 2);
        bool number = false;
        if (pid.toLongLong(&number) > 0 && number && ProcessGone(pid.toLongLong()))
            RemoveTree(parent + QLatin1Char('/') + left);
    }
    QByteArray made = QFile::encodeName(parent) + "/.profile-template-" + QByteArray::number(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(made.data())) {
        *why = QStringLiteral("%1 cannot be written: %2").arg(parent, ReasonOf(errno));
        return false;
    }
    const QString fresh = QFile::decodeName(made);
    // The maker dies with this process: a renderer killed as it makes a
    // template leaves no LibreOffice making one.
    const pid_t pid =
        StartProgram({QFile::encodeName(renderProgram), "--make-profile", made, QFile::encodeName(soffice)}, {});
    const bool spawned = pid > 0;
    const int status = spawned ? WaitForExit(pid, kMakeMs, &g_stopMaking) : kWaitTimedOut;
    // Told to end meanwhile: nothing half made stays.
    if (status == kWaitStopped) {
        RemoveTree(fresh);
        *why = QStringLiteral("told to end while LibreOffice's profile was made");
        return false;
    }
    // A LibreOffice that cannot start without a presentation cannot print
    // one either; it is left to say so itself. Its template holds the
    // settings alone, without the mark, so the next start tries again.
    if (status != 0) {
        std::fprintf(stderr, "pradelux: LibreOffice could not make its profile (%s)\n",
                     status < 0 || status >= 128 ? "it was stopped or crashed"
                                                 : QByteArray::number(status).constData());
        RemoveTree(fresh);
        QDir().mkpath(fresh);
    }
    PrepareProfile(fresh);
    QFile markFile(fresh + QLatin1Char('/') + QLatin1String(kMarkName));
    if (status == 0 &&
        (!markFile.open(QIODevice::WriteOnly) || markFile.write(mark) != mark.size() || !markFile.flush())) {
        RemoveTree(fresh);
        *why = QStringLiteral("%1 cannot be written").arg(parent);
        return false;
    }
    markFile.close();
    // Another program may have made one meanwhile: that one stays.
    if (markOf(folder) == mark) {
        RemoveTree(fresh);
        return true;
    }
    // One made for another LibreOffice goes first.
    const QString old = fresh + QStringLiteral(".old");
    if (QFileInfo::exists(folder) &&
        ::rename(QFile::encodeName(folder).constData(), QFile::encodeName(old).constData()) == 0)
        RemoveTree(old);
    if (::rename(made.constData(), QFile::encodeName(folder).constData()) != 0)
        RemoveTree(fresh);
    if (!QFileInfo(folder + QStringLiteral("/user")).isDir()) {
        *why = QStringLiteral("%1 could not be put in place").arg(folder);
        return false;
    }
    return true;
}

void StopProfileMaking()
{
    g_stopMaking = 1;
}

bool ProfileMakingStopped()
{
    return g_stopMaking != 0;
}

} // namespace pradelux::render::boundary
