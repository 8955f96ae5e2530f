// What a rendering may reach. A presentation comes from a stranger: while
// LibreOffice opens and prints it, it sees the system's programs, libraries
// and fonts (read-only), a private /tmp and home, the folders the renderer
// must write to, and the presentation's own folder and below (read-only);
// nothing else of the user's files, and no network at all.
//
// Built from a user namespace of the renderer's own (no privileges needed):
// new mount and network namespaces and a root of its own. The process that
// runs LibreOffice keeps no capability, so it cannot undo any of it; the
// folders of each presentation are shown by a small helper process that
// holds the host's tree and takes only "show this folder" and "hide them".
#pragma once

#include <QString>
#include <QStringList>

namespace pradelux::office::sandbox {

struct Plan
{
    QStringList writable; // folders (or a socket file) reachable read-write at their own paths
    QStringList readable; // folders reachable read-only at their own paths (LibreOffice's own)
    QStringList shown;    // presentations whose folders are reachable read-only
    bool helper = false;  // keep the helper, for Views later on
};

// Moves the calling process into the sandbox. Must run while the process has
// a single thread. False with why when the system does not allow it.
bool Enter(const Plan& plan, QString* why);

// While it lives, a presentation's folder (read-only) and a work folder
// (read-write) are visible inside the sandbox at their own paths. Only in a
// process that entered the sandbox with its helper; elsewhere it does nothing.
class View
{
public:
    View(const QString& presentation, const QString& workFolder);
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    // Empty when the folders are visible; otherwise why not.
    QString failure() const { return m_failure; }

private:
    QString m_failure;
    bool m_shown = false;
};

// The folder LibreOffice gets for its temporary files inside the sandbox:
// one no presentation's folder can cover.
QString TemporaryFolder();

} // namespace pradelux::office::sandbox
