// Renders a presentation to PDF with LibreOffice.
#include "Renderer.h"

#include "Failure.h"
#include "Files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <poppler-qt6.h>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pradelux::office {

Renderer::Renderer(QString soffice, QString profile, int timeoutMs, QString sandbox)
    : m_soffice(std::move(soffice)), m_profile(std::move(profile)), m_timeoutMs(timeoutMs),
      m_sandbox(std::move(sandbox))
{
}

qint64 PdfRenderer::DefaultMemoryLimit()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("PRADELUX_RENDER_MEMORY_LIMIT", &ok);
    if (ok && mib > 0)
        return mib << 20;
    const qint64 machine = static_cast<qint64>(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
    const qint64 own = CgroupMemoryLimit();
    return qMin<qint64>((own > 0 ? qMin(machine, own) : machine) / 2, 4LL << 30);
}

qint64 CgroupMemoryLimit()
{
    QFile cgroups(QStringLiteral("/proc/self/cgroup"));
    if (!cgroups.open(QIODevice::ReadOnly))
        return 0;
    // The memory controller of the first hierarchy (version 1), or the
    // unified one (version 2) where that hierarchy has none.
    QString base;
    QString path;
    QStringList files;
    for (const QByteArray& line : cgroups.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        if (parts[1].split(',').contains("memory")) {
            base = QStringLiteral("/sys/fs/cgroup/memory");
            path = QString::fromUtf8(parts.mid(2).join(':'));
            files = {QStringLiteral("memory.limit_in_bytes")};
            break;
        }
        if (parts[0] == "0" && parts[1].isEmpty()) {
            base = QFileInfo::exists(QStringLiteral("/sys/fs/cgroup/cgroup.controllers"))
                       ? QStringLiteral("/sys/fs/cgroup")
                       : QStringLiteral("/sys/fs/cgroup/unified");
            path = QString::fromUtf8(parts.mid(2).join(':'));
            files = {QStringLiteral("memory.max"), QStringLiteral("memory.high")};
        }
    }
    // The group's own limit and every enclosing group's hold.
    qint64 limit = 0;
    for (QString group = path; !base.isEmpty(); group = QFileInfo(group).path()) {
        for (const QString& name : files) {
            QFile file(base + (group == QLatin1String("/") ? QString() : group) + QLatin1Char('/') + name);
            bool ok = false;
            const qint64 value = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
            // "max", or version 1's page-rounded largest number: no limit.
            if (ok && value > 0 && value < (qint64(1) << 60))
                limit = limit > 0 ? qMin(limit, value) : value;
        }
        if (group == QLatin1String("/") || group.isEmpty())
            break;
    }
    return limit;
}

namespace {
// The fields of /proc/PID/stat after the name in brackets: state ppid pgrp
// session ... (rss is the 22nd).
QList<QByteArray> statOf(const QString& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}
} // namespace

qint64 TreeMemory(qint64 pid)
{
    if (pid <= 0)
        return 0;
    QHash<qint64, QList<qint64>> children;
    QHash<qint64, qint64> pages;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!entry.front().isDigit())
            continue;
        const QList<QByteArray> fields = statOf(entry);
        if (fields.size() > 21) {
            children[fields[1].toLongLong()] << entry.toLongLong();
            pages.insert(entry.toLongLong(), fields[21].toLongLong());
        }
    }
    qint64 total = 0;
    QList<qint64> pending = {pid};
    while (!pending.isEmpty()) {
        const qint64 next = pending.takeLast();
        total += pages.value(next);
        pending += children.value(next);
    }
    return total * ::sysconf(_SC_PAGESIZE);
}

QString MemoryText(qint64 bytes)
{
    if (bytes >= (1LL << 30) && bytes % (1LL << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    if (bytes >= (1LL << 30))
        return QStringLiteral("%1 GiB").arg(double(bytes) / (1LL << 30), 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

void PrepareProfile(const QString& profile)
{
    // Macros are off whatever a document or an earlier profile says, and a
    // document's links to untrusted places are not followed.
    static const QList<std::pair<const char*, const char*>> settings = {{"MacroSecurityLevel", "3"},
                                                                        {"DisableMacrosExecution", "true"}};
    // LibreOffice, in its sandbox, could write the profile: nothing in it is
    // followed (a link to a file of the user's, a pipe that never ends).
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
    for (const auto& [name, value] : settings) {
        const QByteArray item = QByteArray("<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
                                           "<prop oor:name=\"") +
                                name + "\" oor:op=\"fuse\"><value>" + value + "</value></prop></item>";
        // An item LibreOffice wrote for the same setting goes.
        const QByteArray key = QByteArray("Security/Scripting\"><prop oor:name=\"") + name + '"';
        for (qsizetype at; (at = text.indexOf(key)) >= 0;) {
            const qsizetype start = text.lastIndexOf("<item", at);
            const qsizetype end = text.indexOf("</item>", at);
            if (start < 0 || end < 0)
                break;
            text.remove(start, end + 7 - start);
        }
        ours += item + '\n';
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

QString Renderer::findSoffice()
{
    const QString configured = qEnvironmentVariable("PRADELUX_OFFICE_SOFFICE");
    if (!configured.isEmpty())
        return QFileInfo(configured).isExecutable() ? configured : QString();
    return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

QString Renderer::missingSofficeText()
{
    return QStringLiteral("LibreOffice Impress, which prints the presentations, is not installed (no soffice was "
                          "found). Install it with: sudo apt install libreoffice-impress");
}

namespace {
// The pages of a PDF that Poppler could open; -1 for none, a locked one, or
// one with a page it cannot read.
int pagesOf(const std::unique_ptr<Poppler::Document>& document)
{
    if (!document || document->isLocked())
        return -1;
    const int pages = document->numPages();
    for (int i = 0; i < pages; ++i) {
        if (!document->page(i))
            return -1;
    }
    return pages;
}

// Poppler's complaints about a PDF it repairs are no use on the error output.
void quietPoppler()
{
    static const bool quiet = [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
        return true;
    }();
    Q_UNUSED(quiet);
}
} // namespace

int Renderer::pdfPageCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.read(5).startsWith("%PDF-") ||
        !file.seek(qMax<qint64>(0, file.size() - 1024)) || !file.read(1024).contains("%%EOF"))
        return -1;
    file.close();
    quietPoppler();
    return pagesOf(Poppler::Document::load(path));
}

RenderedPdf Renderer::render(const RenderRequest& request, const QString& workFolder) const
{
    // A presentation that is a link, or lies below one, is named by its real
    // path: the link would lead nowhere inside the sandbox.
    const QString real = QFileInfo(request.presentation).canonicalFilePath();
    const QString presentation = real.isEmpty() ? QFileInfo(request.presentation).absoluteFilePath() : real;
    // LibreOffice names its PDF after the presentation, in a folder that
    // holds nothing else.
    const QString outFolder = workFolder + QStringLiteral("/pdf");
    RemoveTree(outFolder);
    if (!QDir().mkpath(outFolder))
        throw Failure(failure::kPathFileAccess,
                      QStringLiteral("%1 could not be printed: the presentation application cannot write to its work "
                                     "folder %2.")
                          .arg(request.presentation, workFolder));
    PrepareProfile(m_profile);

    const QString filter =
        QStringLiteral("pdf:impress_pdf_Export:{\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"%1\"},"
                       "\"ExportNotesPages\":{\"type\":\"boolean\",\"value\":\"%2\"}}")
            .arg(request.hiddenSlides ? QLatin1String("true") : QLatin1String("false"),
                 request.notesPages ? QLatin1String("true") : QLatin1String("false"));
    // LibreOffice runs in the sandbox and reads the presentation where it
    // stands (so the pictures it links beside itself are found), named by
    // its URL so that odd names (leading dashes, "#", new lines) cannot
    // confuse its command line.
    QProcess process;
    process.setProgram(m_sandbox);
    // Inside, LibreOffice is followed by the check of the PDF it made,
    // which says its pages on the standard output.
    process.setArguments({QStringLiteral("--run-sandboxed"),
                          presentation,
                          outFolder,
                          m_profile,
                          QStringLiteral("--"),
                          m_sandbox,
                          QStringLiteral("--then-count-pages"),
                          outFolder,
                          QStringLiteral("--"),
                          m_soffice,
                          QStringLiteral("--headless"),
                          QStringLiteral("--norestore"),
                          QStringLiteral("--nologo"),
                          QStringLiteral("--nolockcheck"),
                          QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(m_profile).toString(),
                          QStringLiteral("--convert-to"),
                          filter,
                          QStringLiteral("--outdir"),
                          outFolder,
                          QUrl::fromLocalFile(presentation).toString(QUrl::FullyEncoded)});
    process.setWorkingDirectory(QStringLiteral("/"));
    // LibreOffice's own chatter is of no use to anyone here; the sandbox's
    // complaints go to the application's log.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Its own session, so that a hung LibreOffice goes with all its children.
    process.setChildProcessModifier([] { ::setsid(); });
    process.start();
    if (!process.waitForStarted(10000))
        throw Failure(failure::kFileNotFound,
                      QStringLiteral("%2 could not be printed: LibreOffice (%1) could not be started.")
                          .arg(m_soffice, request.presentation));
    const pid_t session = static_cast<pid_t>(process.processId());
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(kWatchMs)) {
        qint64 written = 0;
        for (const QFileInfo& file : QDir(outFolder).entryInfoList(QDir::Files))
            written += file.size();
        const Stop stop = clock.elapsed() >= m_timeoutMs ? Stop::Time : mustStop(session, written);
        if (stop != Stop::None) {
            ::kill(-session, SIGKILL);
            process.waitForFinished(5000);
            RemoveTree(outFolder);
            throwStopped(stop, request.presentation, m_timeoutMs);
        }
    }

    const QStringList pdfs = QDir(outFolder).entryList({QStringLiteral("*.pdf")}, QDir::Files);
    const QString output = outFolder + QLatin1Char('/') + (pdfs.isEmpty() ? QStringLiteral("none.pdf") : pdfs[0]);
    // A LibreOffice that crashed may have left part of a PDF: that is its
    // fault, not the presentation's, and the part is never printed.
    const bool crashed = process.exitStatus() == QProcess::CrashExit || process.exitCode() >= 128;
    if (crashed || process.exitCode() != 0) {
        RemoveTree(outFolder);
        ThrowCrashed(request.presentation, crashed ? QStringLiteral("crashed")
                                                   : QStringLiteral("failed (exit status %1)").arg(process.exitCode()));
    }
    const QByteArray said = process.readAllStandardOutput();
    const int at = said.lastIndexOf("pages ");
    return CheckedPdf(output, request.presentation, at < 0 ? -1 : said.mid(at + 6).trimmed().toInt());
}

void ThrowCrashed(const QString& presentation, const QString& how)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice %1 while printing %2, so no PDF was made. Try again; if it happens "
                                 "again, the file may be one LibreOffice cannot handle.")
                      .arg(how, presentation));
}

void ThrowTimedOut(const QString& presentation, int timeoutMs)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice did not finish printing %1 within %2 seconds and was stopped.")
                      .arg(presentation)
                      .arg(timeoutMs / 1000));
}

void ThrowTooMuchMemory(const QString& presentation, qint64 limit)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("%1 needed more than %2 of memory to print, so LibreOffice was stopped.")
                      .arg(presentation, MemoryText(limit)));
}

void ThrowUnreadable(const QString& presentation)
{
    throw Failure(failure::kAutomationError,
                  QStringLiteral("LibreOffice could not print %1: the file is damaged, protected by a password, "
                                 "or not a presentation it can read.")
                      .arg(presentation));
}

qint64 PdfSizeLimit()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("PRADELUX_RENDER_PDF_LIMIT", &ok);
    return ok && mib > 0 ? mib << 20 : qint64(2) << 30;
}

PdfRenderer::Stop PdfRenderer::mustStop(qint64 renderer, qint64 written) const
{
    if (TreeMemory(renderer) > memoryLimit())
        return Stop::Memory;
    if (written > PdfSizeLimit())
        return Stop::PdfSize;
    return abandoned() ? Stop::Abandoned : Stop::None;
}

void PdfRenderer::throwStopped(Stop why, const QString& presentation, int timeoutMs) const
{
    if (why == Stop::Memory)
        ThrowTooMuchMemory(presentation, memoryLimit());
    if (why == Stop::PdfSize)
        ThrowTooLarge(presentation, PdfSizeLimit());
    if (why == Stop::Abandoned)
        ThrowAbandoned(presentation);
    ThrowTimedOut(presentation, timeoutMs);
}

void ThrowAbandoned(const QString& presentation)
{
    throw Failure(
        failure::kAutomationError,
        QStringLiteral("%1 was not printed: the session ended while LibreOffice printed it.").arg(presentation));
}

void ThrowTooLarge(const QString& presentation, qint64 limit)
{
    throw Failure(failure::kAutomationError, QStringLiteral("%1 made a PDF larger than %2, so LibreOffice was stopped.")
                                                 .arg(presentation, MemoryText(limit)));
}

RenderedPdf CheckedPdf(const QString& output, const QString& presentation, int pages)
{
    const QFileInfo pdf(output);
    const int folder =
        ::open(QFile::encodeName(pdf.path()).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int fd = folder < 0 ? -1
                              : ::openat(folder, QFile::encodeName(pdf.fileName()).constData(),
                                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (folder >= 0)
        ::close(folder);
    struct stat st = {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
        if (fd >= 0)
            ::close(fd);
        QFile::remove(output); // a link itself, never what it leads to
        ThrowUnreadable(presentation);
    }
    auto file = std::make_shared<QFile>();
    file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (st.st_size > PdfSizeLimit()) {
        QFile::remove(output);
        ThrowTooLarge(presentation, PdfSizeLimit());
    }
    if (pages < 0) {
        QFile::remove(output);
        throw Failure(
            failure::kAutomationError,
            QStringLiteral("LibreOffice made an incomplete PDF of %1, so it was not printed.").arg(presentation));
    }
    if (pages == 0)
        throw Failure(failure::kAutomationError, QStringLiteral("%1 has no slides to print.").arg(presentation));
    return {output, pages, file};
}

} // namespace pradelux::office
