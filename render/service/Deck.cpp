// A presentation and the files it links to, opened once.
#include "Deck.h"

#include "SandboxPlan.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pradelux::render::service {

using boundary::kMostLinks;
using boundary::ShowableLink;

Deck::~Deck()
{
    for (const File& file : m_files)
        ::close(file.fd);
}

bool Deck::open(const QString& presentation, const QStringList& links, QString* why)
{
    // A presentation that is a link, or lies below one, is shown at its real
    // path: the link would lead nowhere inside the sandbox.
    const QString real = QFileInfo(presentation).canonicalFilePath();
    const QString folderPath = QFileInfo(real).path();
    const int folder =
        real.isEmpty() ? -1 : ::open(QFile::encodeName(folderPath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st = {};
    if (folder < 0 || ::fstat(folder, &st) != 0) {
        if (folder >= 0)
            ::close(folder);
        *why = QStringLiteral("%1 cannot be opened").arg(presentation);
        return false;
    }
    m_folder = {st.st_dev, st.st_ino};
    // Each file is opened below the folder just identified, through no
    // symbolic link and no magic one; only regular files count.
    const auto openBelow = [&](const QString& relative) {
        open_how how = {};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const int fd =
            static_cast<int>(::syscall(SYS_openat2, folder, QFile::encodeName(relative).constData(), &how, sizeof how));
        struct stat file = {};
        if (fd >= 0 && (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode))) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    const int deck = openBelow(QFileInfo(real).fileName());
    if (deck < 0) {
        ::close(folder);
        *why = QStringLiteral("%1 is no file that can be printed").arg(presentation);
        return false;
    }
    m_files.append({real, deck});
    QStringList seen = {real};
    for (const QString& link : links) {
        const QString relative = ShowableLink(link);
        const QString path = folderPath + QLatin1Char('/') + relative;
        if (relative.isEmpty() || seen.contains(path) || m_files.size() > kMostLinks)
            continue;
        if (const int fd = openBelow(relative); fd >= 0) {
            m_files.append({path, fd});
            seen << path;
        }
    }
    ::close(folder);
    return true;
}

} // namespace pradelux::render::service
