// What a rendering may reach, written here and nowhere else. A presentation
// comes from a stranger and may take LibreOffice over through a bug in an
// import filter; code running as LibreOffice then sees what was built for it
// and nothing of the user's besides:
// - the system's programs, libraries and fonts, read-only; the user's fonts
//   and fontconfig's caches, read-only; its profile's template and the
//   program folders it runs from, read-only;
// - the presentation and the local files it links to below its folder, each
//   bound alone, read-only, at its own path, for one rendering;
// - an empty folder of ours for its PDF, at kInsideOutput, for one rendering;
// - a private home and temporary folder (memory, bounded) below kInside, a
//   private /tmp, a fresh /proc and a minimal /dev.
// Never a folder of the user's, a socket, a pipe, a device, a hidden entry,
// the output folder or the runtime folder; no network, no other process, no
// new privileges. What a descriptor kept inside reaches during a rendering
// is all it ever reaches: a file bound alone is that file, and the PDF's
// folder is removed after its rendering.
//
// bubblewrap builds the sandbox (namespaces of every kind, a fresh /proc and
// /dev, a seccomp filter of ours). Its root is a folder kept by the process
// that stays outside, in a mount namespace of that process's own, and only
// that process writes it: what it mounts below the root later reaches the
// sandbox through mount propagation, and nothing inside can ask for more.
// Run as root, LibreOffice runs as the system user kSandboxUser, which no
// other process is, in a user namespace that root owns, so that no process
// of the host but root's can enter it or trace it; the files it is given
// are shown to it as its own (idmapped mounts), and no other file of root's
// is.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

namespace pradelux::office::sandbox {

// What each kind of sandbox sees besides the system and the fonts: the
// renderer's (the LibreOffice kept for a session, or started for one
// presentation), the profile maker's (writable: the template being made) and
// the check's (nothing).
struct Plan
{
    QStringList writable; // read-write at their own paths
    QStringList readable; // program folders and the profile's template, read-only at their own paths
    qint64 jobBytes = 0;  // when set, a memory file system of this size for the renderings' PDF folders
};

// The renderer's sandbox, kept or started for one presentation: the program
// folders it runs from and the profile's template, read-only; with jobBytes,
// the kept renderer's memory file system for its renderings' PDF folders.
Plan RendererPlan(const QStringList& programFolders, const QString& profileTemplate, qint64 jobBytes = 0);
// The profile maker's: the template being made, read-write; LibreOffice's
// program folder, read-only.
Plan ProfileMakerPlan(const QString& folder, const QString& programFolder);
// The check that a sandbox can be made here: nothing but the system.
Plan CheckPlan();

// Where the sandbox's own folders stand inside it: no presentation of the
// host's is ever shown below them.
inline constexpr char kInside[] = "/run/pradelux";
inline constexpr char kInsideHome[] = "/run/pradelux/home";
inline constexpr char kInsideTemporary[] = "/run/pradelux/tmp";
inline constexpr char kInsideOutput[] = "/run/pradelux/out";
// The system user root's renderings run as.
inline constexpr char kSandboxUser[] = "_pradelux";

// What to tell when no sandbox can be made here: why, and what to do.
QString RefusedText(const QString& why);

// A presentation and the local files it links to, opened once: what is shown
// is what was opened, whatever a name leads to later.
class Deck
{
public:
    Deck() = default;
    ~Deck();
    Deck(const Deck&) = delete;
    Deck& operator=(const Deck&) = delete;
    // presentation: its path; links: the files it links to, relative to its
    // folder. A link is kept only when it names a regular file below the
    // folder, through no symbolic link and no hidden entry. False with why
    // when the presentation is no regular file.
    bool open(const QString& presentation, const QStringList& links, QString* why);
    // The presentation's real path, where it is shown.
    QString path() const { return m_files.isEmpty() ? QString() : m_files.first().path; }
    // Its folder, known by device and inode, never by name.
    struct Identity
    {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Identity&) const = default;
    };
    Identity folder() const { return m_folder; }
    struct File
    {
        QString path; // where it is shown
        int fd = -1;  // what is shown there
    };
    const QList<File>& files() const { return m_files; }

private:
    Identity m_folder;
    QList<File> m_files; // the presentation first
};

class Root
{
public:
    // Gives the calling process a mount namespace (and, unless it is root, a
    // user namespace) of its own and makes the sandbox's root in it. Must
    // run while the process has a single thread. Null with why when the
    // system does not allow it.
    static std::unique_ptr<Root> make(const Plan& plan, QString* why);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    // Shows the deck's files, each alone and read-only at its own path, and
    // outputFolder (a folder of ours) writable at kInsideOutput, until
    // hide(). False with why.
    bool show(const Deck& deck, const QString& outputFolder, QString* why);
    void hide();

    // A new empty folder for one rendering's PDF in the memory file system
    // the plan asked for; empty when none can be made.
    QString newJobFolder() const;

    // Starts command inside the sandbox; keepFd (when not -1) stays open in
    // it under the same number; its standard output and error go to output
    // (when not -1). The process ends when the caller does. Returns its pid,
    // or -1 with why.
    pid_t start(const QStringList& command, int keepFd, QString* why, int output = -1) const;

    // Where the root stands in this process's mount namespace (its folder on
    // the host is empty).
    QByteArray path() const { return m_root; }

private:
    Root() = default;
    bool bindPath(const QString& path, const QString& at, bool writable, QString* why);
    bool bindFd(int fd, const QString& at, bool writable, bool view, QString* why);
    bool shownAlready(const QString& path) const;
    int mountPoint(const QString& inside, bool folder, QStringList* created) const;
    void removeMountPoint(const QString& inside) const;

    QByteArray m_root;     // where the root stands in this process's mount namespace
    QByteArray m_jobs;     // the renderings' PDF folders, never shown whole
    bool m_asRoot = false; // run by root: LibreOffice runs as kSandboxUser
    uid_t m_user = 0;      // ... whose ids these are
    gid_t m_group = 0;
    int m_idmap = -1;          // the user namespace whose ids idmapped mounts use
    QStringList m_planned;     // the plan's folders, shown for the root's whole life
    QList<int> m_viewMounts;   // mounted by show(), undone by hide(): descriptors of the mounts
    QStringList m_viewCreated; // mount points made by show()
};

} // namespace pradelux::office::sandbox
