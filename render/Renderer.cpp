// Renders a presentation to PDF with LibreOffice.
#include "Renderer.h"

#include "Failure.h"
#include "Files.h"
#include "ProfileTemplate.h"
#include "Sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace pradelux::office {

Renderer::Renderer(QString soffice, QString profileTemplate, int timeoutMs, QString sandbox)
    : m_soffice(std::move(soffice)), m_profile(std::move(profileTemplate)), m_timeoutMs(timeoutMs),
      m_sandbox(std::move(sandbox))
{
}

QString PdfFilterOptions(const RenderRequest& request)
{
    QJsonObject options;
    const auto set = [&](const char* name, const char* type, const QString& value) {
        options.insert(QLatin1String(name),
                       QJsonObject{{QStringLiteral("type"), QLatin1String(type)}, {QStringLiteral("value"), value}});
    };
    const auto flag = [&](const char* name, bool on) {
        set(name, "boolean", on ? QStringLiteral("true") : QStringLiteral("false"));
    };
    const PdfSettings& pdf = request.pdf;
    flag("ExportHiddenSlides", request.hiddenSlides);
    flag("ExportNotesPages", request.pages != RenderRequest::Pages::Slides);
    if (request.pages == RenderRequest::Pages::NotesPages)
        flag("ExportOnlyNotesPages", true);
    // LibreOffice numbers a range's slides as the presentation does, hidden
    // ones too, and prints the notes pages of the same slides.
    if (!request.slides.isEmpty())
        set("PageRange", "string", request.slides);
    // PDF/UA needs the tags; the title, shown in the viewer's title bar, is
    // what a screen reader announces.
    flag("UseTaggedPDF", pdf.tagged || pdf.pdfua);
    flag("DisplayPDFDocumentTitle", pdf.tagged || pdf.pdfua);
    if (pdf.pdfa > 0)
        set("SelectPdfVersion", "long", QString::number(pdf.pdfa));
    if (pdf.pdfua)
        flag("PDFUACompliance", true);
    if (pdf.imageDpi > 0) {
        flag("ReduceImageResolution", true);
        set("MaxImageResolution", "long", QString::number(pdf.imageDpi));
    }
    if (pdf.jpegQuality > 0)
        set("Quality", "long", QString::number(pdf.jpegQuality));
    if (pdf.losslessImages)
        flag("UseLosslessCompression", true);
    return QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact));
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

qint64 AvailableMemory()
{
    QFile info(QStringLiteral("/proc/meminfo"));
    if (!info.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : info.readAll().split('\n')) {
        // "MemAvailable:   23866012 kB"
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() << 10;
    }
    return 0;
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

namespace {
// The devices of the memory file systems mounted in the mount namespace
// that process pid sees, with where they are mounted.
QList<std::pair<QByteArray, QByteArray>> memoryMounts(const QString& pid)
{
    QList<std::pair<QByteArray, QByteArray>> found;
    QFile mounts(QStringLiteral("/proc/%1/mountinfo").arg(pid));
    if (!mounts.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 5 || dash + 1 >= fields.size() || fields[dash + 1] != "tmpfs")
            continue;
        // A mount point's spaces and other odd bytes come as octal escapes.
        QByteArray point;
        const QByteArray& raw = fields[4];
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size()) {
                point += char(raw.mid(i + 1, 3).toInt(nullptr, 8));
                i += 3;
            } else {
                point += raw[i];
            }
        }
        found.append({fields[2], point});
    }
    return found;
}
} // namespace

void KillTree(qint64 pid)
{
    if (pid <= 0)
        return;
    QHash<qint64, QList<qint64>> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QList<QByteArray> fields = entry.front().isDigit() ? statOf(entry) : QList<QByteArray>();
        if (fields.size() > 3)
            children[fields[1].toLongLong()] << entry.toLongLong();
    }
    // Each is held by a handle before any is killed: a process that ends
    // leaves its id free for another, which must not be hit.
    std::vector<std::unique_ptr<ProcessHandle>> tree;
    for (QList<qint64> pending = {pid}; !pending.isEmpty();) {
        const qint64 next = pending.takeLast();
        tree.push_back(std::make_unique<ProcessHandle>(next));
        pending += children.value(next);
    }
    for (const auto& process : tree)
        process->kill(SIGKILL);
    for (const auto& process : tree)
        process->waitGone(5000);
}

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
    // Memory file systems the tree mounted for itself (a sandbox's /tmp,
    // home and /dev/shm) hold memory that is nobody's resident set: what
    // they hold counts too. Those this process sees are not the tree's own.
    QSet<QByteArray> counted;
    for (const auto& [device, point] : memoryMounts(QStringLiteral("self")))
        counted.insert(device);
    char own[64] = {};
    ::readlink("/proc/self/ns/mnt", own, sizeof own - 1);
    QSet<QByteArray> namespaces = {QByteArray(own)};
    while (!pending.isEmpty()) {
        const qint64 next = pending.takeLast();
        total += pages.value(next) * ::sysconf(_SC_PAGESIZE);
        pending += children.value(next);
        char ns[64] = {};
        const QString proc = QStringLiteral("/proc/%1").arg(next);
        if (::readlink(QFile::encodeName(proc + QStringLiteral("/ns/mnt")).constData(), ns, sizeof ns - 1) <= 0 ||
            namespaces.contains(QByteArray(ns)))
            continue;
        namespaces.insert(QByteArray(ns));
        for (const auto& [device, point] : memoryMounts(QString::number(next))) {
            if (counted.contains(device))
                continue;
            // Only the file system the mount table named: one that is being
            // unmounted (a renderer ending) leaves whatever lies below its
            // mount point there, a disk's file system as likely as not.
            const int at = ::open((QFile::encodeName(proc + QStringLiteral("/root")) + point).constData(),
                                  O_PATH | O_DIRECTORY | O_CLOEXEC);
            struct stat st = {};
            struct statfs fs = {};
            const QList<QByteArray> numbers = device.split(':');
            const bool named = at >= 0 && ::fstat(at, &st) == 0 && ::fstatfs(at, &fs) == 0 &&
                               fs.f_type == TMPFS_MAGIC && numbers.size() == 2 &&
                               st.st_dev == makedev(numbers[0].toUInt(), numbers[1].toUInt());
            if (at >= 0)
                ::close(at);
            if (!named)
                continue;
            counted.insert(device);
            total += qint64(fs.f_blocks - fs.f_bfree) * qint64(fs.f_bsize);
        }
    }
    return total;
}

QString MemoryText(qint64 bytes)
{
    if (bytes >= (1LL << 30) && bytes % (1LL << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    if (bytes >= (1LL << 30))
        return QStringLiteral("%1 GiB").arg(double(bytes) / (1LL << 30), 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
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
    QString why;
    if (!EnsureProfileTemplate(m_profile, m_soffice, m_sandbox, &why))
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 could not be printed: %2.").arg(request.presentation, why));

    const QString filter = QStringLiteral("pdf:impress_pdf_Export:") + PdfFilterOptions(request);
    // LibreOffice runs in the sandbox and reads the presentation at its own
    // path, with the files it links beside and below it, named by
    // its URL so that odd names (leading dashes, "#", new lines) cannot
    // confuse its command line. It works in a copy of the profile's
    // template in the sandbox's private home, made as it starts.
    QStringList arguments = {QStringLiteral("--run-sandboxed"), presentation, outFolder, m_profile};
    for (const QString& link : request.links)
        arguments << QStringLiteral("--link") << link;
    arguments += {QStringLiteral("--"),
                  m_sandbox,
                  QStringLiteral("--with-profile"),
                  m_profile,
                  QStringLiteral("--"),
                  m_soffice,
                  QStringLiteral("--headless"),
                  QStringLiteral("--norestore"),
                  QStringLiteral("--nologo"),
                  QStringLiteral("--nolockcheck"),
                  QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(PrivateProfile()).toString(),
                  QStringLiteral("--convert-to"),
                  filter,
                  QStringLiteral("--outdir"),
                  QString::fromLatin1(sandbox::kInsideOutput),
                  QUrl::fromLocalFile(presentation).toString(QUrl::FullyEncoded)};
    QProcess process;
    process.setProgram(m_sandbox);
    process.setArguments(arguments);
    process.setWorkingDirectory(QStringLiteral("/"));
    // Nothing it says is taken; what it says on its error output (bounded
    // by pradelux-render) goes to the application's log.
    process.setStandardOutputFile(QProcess::nullDevice());
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
        const Stop stop = clock.elapsed() >= m_timeoutMs ? Stop::Time : mustStop(session, TreeBytes(outFolder));
        if (stop != Stop::None) {
            ::kill(-session, SIGKILL);
            KillTree(session);
            process.waitForFinished(5000);
            RemoveTree(outFolder);
            throwStopped(stop, request.presentation, m_timeoutMs);
        }
    }

    // A LibreOffice that crashed may have left part of a PDF: that is its
    // fault, not the presentation's, and the part is never printed.
    const bool crashed = process.exitStatus() == QProcess::CrashExit || process.exitCode() >= 128;
    if (!crashed && process.exitCode() == kNotShownStatus) {
        RemoveTree(outFolder);
        ThrowUnreadable(request.presentation);
    }
    if (crashed || process.exitCode() != 0) {
        RemoveTree(outFolder);
        ThrowCrashed(request.presentation, crashed ? QStringLiteral("crashed")
                                                   : QStringLiteral("failed (exit status %1)").arg(process.exitCode()));
    }
    return TakePdf(outFolder, QString(), request.presentation, m_sandbox);
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

} // namespace pradelux::office
