// Small file tests and the path separator, used across the program.
#pragma once

#include <QString>
#include <sys/un.h>

namespace pradelux {

enum class PathStyle { Windows, Posix };
#ifdef Q_OS_WIN
constexpr PathStyle kNativePathStyle = PathStyle::Windows;
constexpr QChar kSeparator = u'\\';
#else
constexpr PathStyle kNativePathStyle = PathStyle::Posix;
constexpr QChar kSeparator = u'/';
#endif

// True when the path's modification time can be read: files and folders both
// count. Never fails.
bool FileExists(const QString& path);
// True when the path names an existing folder. Never fails.
bool IsFolder(const QString& path);
// The longest path of a local socket, its closing NUL included.
inline constexpr qsizetype kSocketPathMax = sizeof(sockaddr_un::sun_path);
// Removes a folder and all below it without following a link anywhere: each
// entry is looked at and removed relative to its folder's open descriptor,
// so names swapped meanwhile (by a process that can write there, as
// LibreOffice in its sandbox can its job folder) lead nowhere outside it.
// False when something stayed.
bool RemoveTree(const QString& folder);
// What a folder and all below it take on disk, every entry counted as a
// block at least, walked without following a link; the largest number there
// is when the tree is deeper than 64 folders or holds more than
// kTreeEntriesMax entries. 0 when the folder is not there.
inline constexpr qint64 kTreeEntriesMax = 100000;
qint64 TreeBytes(const QString& folder);
// What tells one file at the path from another that stood there before: its
// device, inode, modification time and size as text; empty text when nothing
// is there. Never fails.
QString FileIdentity(const QString& path);
// Which file the path reaches, whatever name it is reached by (a link, or
// another case on a disk that ignores case): its device and inode as text;
// empty text when nothing is there. Never fails.
QString FileKey(const QString& path);
// What an error number of a file operation means to the user: "the disk is
// full", "the folder is on a read-only disk", "the folder is not writable", or
// the system's own text.
QString ReasonOf(int error);
// Why no file can be created or renamed in the folder (ReasonOf); empty text
// when it can.
QString WhyFolderIsNotWritable(const QString& folder);
// True for the text of a path whose name on disk is not valid UTF-8: it
// holds replacement characters and nothing stands at it. Such a file cannot
// be named to another program (D-Bus carries UTF-8 only).
bool HasUndecodableName(const QString& path);
// The last line of a text file that is not blank, trimmed; empty text when
// there is none. What a program that ended early said last. Never fails.
QString LastLineOf(const QString& path);
// A log file to append to: when it has grown past 1 MiB it is first moved
// aside to PATH.1 (replacing the one before), so it never grows without
// bound and two programs writing it never lose each other's lines. Returns
// path.
QString RotatedLog(const QString& path);
// A folder only this user can enter: made with mode 0700 when missing, and
// true only when it is a real folder of the user's own with that mode.
bool PrivateFolder(const QString& folder);
// The folder that holds the running executable.
QString AppFolder();
// The folder that holds executable, links resolved ("/proc/self/exe": this
// program's, before any application object exists).
QString ProgramFolderOf(const QString& executable);
// True when no process has the id, or only one whose threads have all ended
// and that waits to be reaped.
bool ProcessGone(qint64 pid);

// A process held by a handle (a pidfd) that can never come to name another
// one, as its process id can once the process has ended and the id is used
// again. Take it while the process is known to be the one meant.
class ProcessHandle
{
public:
    explicit ProcessHandle(qint64 pid);
    ~ProcessHandle();
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    bool isValid() const { return m_fd >= 0; }
    // Waits up to ms for the process (all its threads) to end; true once it has.
    bool waitGone(int ms) const;
    void kill(int signal) const;

private:
    int m_fd = -1;
};

} // namespace pradelux
