// The sandbox's root, kept by the renderer's process outside: made once in
// a mount namespace of that process's own, it is where bubblewrap finds
// everything it shows (see SandboxPlan.h for what that is), and only that
// process writes it. What it mounts below the root later reaches a running
// sandbox through mount propagation, and nothing inside can ask for more.
#pragma once

#include "Deck.h"
#include "SandboxPlan.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

namespace pradelux::render::service {

using boundary::Plan;

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
    // (when not -1). Its standard input is a pipe that this process alone
    // can write to and never does: it ends when this process does, however
    // that ends, which pradelux-inside watches for (bubblewrap's own bond
    // to its parent is made only after the sandbox is set up). Returns its
    // pid, or -1 with why.
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
    static QString failed(const QString& what);
    static bool writeFile(const QByteArray& path, const QByteArray& text);
    // A user namespace that maps root to the sandbox's user: mounts idmapped
    // with it show what root owns as that user's own.
    static int rootAsSandboxUser(uid_t user, gid_t group);
    static QString canonical(const QString& path);

    QByteArray m_root;     // where the root stands in this process's mount namespace
    QByteArray m_jobs;     // the renderings' PDF folders, never shown whole
    bool m_asRoot = false; // run by root: LibreOffice runs as kSandboxUser
    uid_t m_user = 0;      // ... whose ids these are
    gid_t m_group = 0;
    int m_idmap = -1;             // the user namespace whose ids idmapped mounts use
    int m_lifeline[2] = {-1, -1}; // every sandbox's standard input, and its other end
    QStringList m_planned;        // the plan's folders, shown for the root's whole life
    QList<int> m_viewMounts;      // mounted by show(), undone by hide(): descriptors of the mounts
    QStringList m_viewCreated;    // mount points made by show()
};

} // namespace pradelux::render::service
