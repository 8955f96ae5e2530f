// What a rendering may reach. A presentation comes from a stranger and may
// take LibreOffice over through a bug in an import filter; code running as
// LibreOffice then sees only: the system's programs, libraries and fonts
// (read-only), the user's fonts and fontconfig's caches (read-only), a
// private /tmp, home, /dev and /proc, its profile's template (read-only), the presentation
// (with its folder where that folder is the presentation's own) and the
// folder its PDF goes to. No socket of the host, no network, no other
// process, no new privileges, nothing that could widen the view.
//
// bubblewrap builds the sandbox (namespaces of every kind, a fresh /proc and
// /dev, a seccomp filter of ours). Its root is a folder kept by the process
// that stays outside, in a mount namespace of that process's own: what that
// process mounts below the root later (each presentation's folder) reaches
// the sandbox through mount propagation, and nothing inside can ask for more.
// Run as root, LibreOffice runs as "nobody"; the folders it is given are
// shown to it as its own (idmapped mounts), and no other file of root's is.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

namespace pradelux::office::sandbox {

struct Plan
{
    QStringList writable; // the renderer's own folders (its profile), read-write at their own paths
    QStringList readable; // program folders (LibreOffice's, this program's), read-only at their own paths
};

// What to tell when no sandbox can be made here: why, and what to do.
QString RefusedText(const QString& why);

// The folder of a presentation, or the presentation alone where its folder
// is the home folder, /, a folder above home or a shared temporary folder.
QString ShownPath(const QString& presentation);

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

    // Shows a presentation (read-only, with its folder where ShownPath says
    // so, hidden folders, sockets and pipes below it covered) and a folder
    // LibreOffice may write to, until hide(). False with why.
    bool show(const QString& presentation, const QString& writableFolder, QString* why);
    void hide();

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
    bool bind(const QString& path, unsigned flags, QString* why);
    bool cover(const QString& folder, QString* why);

    QByteArray m_root;         // where the root stands in this process's mount namespace
    bool m_asRoot = false;     // run by root: LibreOffice runs as nobody
    int m_idmap = -1;          // the user namespace whose ids idmapped mounts use
    QStringList m_viewMounts;  // mounted by show(), undone by hide()
    QStringList m_viewCreated; // mount points made by show()
};

} // namespace pradelux::office::sandbox
