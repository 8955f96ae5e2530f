// A presentation and the files it links to, opened once by the renderer's
// service: what a sandbox is shown of them is what was opened here,
// whatever a name leads to later.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <sys/types.h>

namespace pradelux::render::service {

class Deck
{
public:
    Deck() = default;
    ~Deck();
    Deck(const Deck&) = delete;
    Deck& operator=(const Deck&) = delete;
    // presentation: its path; links: the files it links to, relative to its
    // folder. A link is kept only when it names a picture below the folder,
    // through no symbolic link and no hidden entry, that SandboxPlan's
    // MayShowLinkedFile allows (one name, readable by the deck's owner). False
    // with why when the presentation is no regular file.
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

} // namespace pradelux::render::service
