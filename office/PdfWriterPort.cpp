// The port "CPW2:" of the PDF printer.
#include "PdfWriterPort.h"

#include "Failure.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "Registry.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pradelux::office {

PdfWriterPort::PdfWriterPort(Registry& registry, QString documentsFolder)
    : m_registry(registry), m_documents(std::move(documentsFolder))
{
}

QString PdfWriterPort::unusedName(const QString& title) const
{
    const QString base = title.isEmpty() ? QStringLiteral("Document") : title;
    QString candidate = QDir(m_documents).filePath(base + QStringLiteral(".pdf"));
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = QDir(m_documents).filePath(QStringLiteral("%1 (%2).pdf").arg(base).arg(n));
    return candidate;
}

// The process's umask, read without setting it (umask(2) would change it for
// every thread for a moment).
static mode_t processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            bool ok = false;
            const uint mask = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
            if (ok)
                return static_cast<mode_t>(mask);
        }
    }
    return 022;
}

// Removes the temporary files that writers which were killed left in the
// folder: files of ours (".pradelux-" and six characters) whose lock nobody
// holds. One another job is writing is held, and stays.
static void removeLeftTemporaries(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(".pradelux-") || name.size() != 16)
            continue;
        const QByteArray path = folder + '/' + name;
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        struct stat named;
        // Still the file of that name once its lock is ours: a writer may
        // have renamed it into place meanwhile.
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.constData(), &named) == 0 &&
            named.st_ino == st.st_ino && named.st_dev == st.st_dev)
            ::unlink(path.constData());
        if (fd >= 0)
            ::close(fd);
    }
    ::closedir(dir);
}

void writeWhole(const QString& target, const QByteArray& data, const WriteFunction& writeSome)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    writeWhole(target, buffer, writeSome);
}

void writeWhole(const QString& target, QIODevice& source, const WriteFunction& writeSome)
{
    const QFileInfo info(target);
    // A short name of its own, so that a PDF name as long as the disk allows
    // can still be written.
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    removeLeftTemporaries(folder);
    // Held from its making until it is renamed into place: a temporary file
    // nobody holds was left by a writer that was killed. Another writer's
    // sweep may take one in the moment before its lock is taken; then it is
    // made again.
    QByteArray name;
    int fd = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/.pradelux-XXXXXX";
        fd = ::mkstemp(name.data());
        struct stat st;
        if (fd < 0 || (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0))
            break;
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        const int error = errno;
        throw Failure(error == ENOSPC ? failure::kDiskFull : failure::kPermissionDenied,
                      QStringLiteral("%1 could not be written: %2").arg(target, ReasonOf(error)));
    }
    // Copied a piece at a time: a PDF of gigabytes is never held whole.
    int error = 0;
    QByteArray data(1 << 20, Qt::Uninitialized);
    for (qint64 got; !error && (got = source.read(data.data(), data.size())) != 0;) {
        if (got < 0) {
            error = EIO;
            break;
        }
        for (qint64 done = 0; done < got && !error;) {
            const ssize_t n = writeSome(fd, data.constData() + done, static_cast<size_t>(got - done));
            if (n > 0)
                done += n;
            else if (n == 0)
                error = ENOSPC;
            else if (errno != EINTR)
                error = errno;
        }
    }
    // Some file systems only say at the flush or the close that the data did
    // not fit; both are checked.
    // mkstemp makes the file private; a PDF gets the permissions any new file gets.
    const mode_t mask = processUmask();
    if (!error && ::fchmod(fd, 0666 & ~mask) != 0)
        error = errno;
    if (!error && ::fsync(fd) != 0 && errno != EINVAL)
        error = errno;
    // Renamed while its lock is held, so no sweep takes it in between.
    const QByteArray targetName = QFile::encodeName(target);
    const bool renamed = !error && ::rename(name.constData(), targetName.constData()) == 0;
    if (!error && !renamed)
        error = errno;
    if (::close(fd) != 0 && !error) {
        error = errno;
        // What the close reported spoils the PDF that now stands there.
        if (renamed)
            ::unlink(targetName.constData());
    }
    // The rename itself is only safe on the disk once the folder is written.
    if (!error) {
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    if (error) {
        ::unlink(name.constData());
        throw Failure(error == ENOSPC || error == EDQUOT ? failure::kDiskFull : failure::kPermissionDenied,
                      QStringLiteral("%1 could not be written: %2").arg(target, ReasonOf(error)));
    }
}

QString PdfWriterPort::target(const QString& printer, const QString& title) const
{
    const QString key = QStringLiteral("Software\\") + printer;
    const QString bypass = m_registry.readString(key, QStringLiteral("BypassSaveAs")).value_or(QString());
    if (bypass != QLatin1String("1")) {
        QDir().mkpath(m_documents);
        return unusedName(title);
    }
    const QString target = m_registry.readString(key, QStringLiteral("OutputFile")).value_or(QString());
    if (target.isEmpty())
        throw Failure(failure::kPathNotFound, QStringLiteral("no output file is set for %1").arg(printer));
    return target;
}

PdfSettings PdfWriterPort::settings(const QString& printer) const
{
    return pdfsettings::Read(m_registry, QStringLiteral("Software\\") + printer);
}

QString PdfWriterPort::write(const PrintJob& job) const
{
    const QString target = job.target.isEmpty() ? this->target(job.printer, job.title) : job.target;
    const QFileInfo targetInfo(target);
    if (!targetInfo.absoluteDir().exists())
        throw Failure(failure::kPathNotFound,
                      QStringLiteral("the folder %1 does not exist").arg(targetInfo.absolutePath()));
    if (targetInfo.isDir())
        throw Failure(failure::kPathFileAccess, QStringLiteral("%1 is a folder").arg(target));

    QFile named(job.pdf);
    QIODevice& source = job.pdfFile ? *job.pdfFile : named;
    if (!(job.pdfFile ? source.seek(0) : named.open(QIODevice::ReadOnly)))
        throw Failure(failure::kPathFileAccess, QStringLiteral("the job's pages are gone (%1)").arg(job.pdf));
    writeWhole(target, source);
    pdfprinter::RecordPages(target, job.pages);
    pdfprinter::RecordKind(target, job.kind);
    pdfprinter::RecordStandIns(target, job.standIns);
    pdfprinter::RecordLacking(target, job.lacking);
    return target;
}

} // namespace pradelux::office
