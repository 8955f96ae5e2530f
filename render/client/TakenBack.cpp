// What the outside takes back from a rendering.
#include "TakenBack.h"

#include "ChildStart.h"

#include "Channel.h"
#include "Failure.h"
#include "Failures.h"
#include "Files.h"

#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pradelux::render::client {

using namespace boundary;

namespace {
// The one name ending in ".pdf" in the open folder dir; empty when there is
// none or more than one.
QByteArray onlyPdfIn(int dir)
{
    DIR* listing = ::fdopendir(::dup(dir));
    if (!listing)
        return QByteArray();
    QByteArrayList found;
    while (const dirent* entry = ::readdir(listing)) {
        if (QByteArrayView(entry->d_name).endsWith(".pdf"))
            found << QByteArray(entry->d_name);
    }
    ::closedir(listing);
    return found.size() == 1 ? found.front() : QByteArray();
}

// A file of ours beside folder, with no name: what the inside wrote is
// copied there, size bytes and no more. -1 when fewer came.
int copyOut(int from, qint64 size, const QString& folder)
{
    const QByteArray beside = QFile::encodeName(QFileInfo(folder).absolutePath());
    int fd = ::open(beside.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file system without unnamed files: one that is named for a moment.
        QByteArray name = beside + "/.pradelux-pdf-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.constData());
    }
    UniqueFd to(fd);
    QByteArray data(1 << 20, Qt::Uninitialized);
    qint64 copied = 0;
    while (to.get() >= 0 && copied < size) {
        const ssize_t got = ::read(from, data.data(), static_cast<size_t>(qMin<qint64>(data.size(), size - copied)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || ::write(to.get(), data.constData(), static_cast<size_t>(got)) != got)
            return -1;
        copied += got;
    }
    return to.get() >= 0 && ::lseek(to.get(), 0, SEEK_SET) == 0 ? to.release() : -1;
}
} // namespace

RenderedPdf TakePdf(const QString& folder, const QString& name, const QString& presentation, const QString& counter,
                    const CountAsk& ask)
{
    // All the rendering wrote counts, not its PDF alone.
    if (TreeBytes(folder) > PdfSizeLimit())
        ThrowTooLarge(presentation, PdfSizeLimit());
    const UniqueFd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const QByteArray pdfName = dir.get() < 0 ? QByteArray() : name.isEmpty() ? onlyPdfIn(dir.get()) : name.toUtf8();
    const int pdf = pdfName.isEmpty()
                        ? -1
                        : ::openat(dir.get(), pdfName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    // What the renderer left goes, whatever becomes of it: a link itself,
    // never what it leads to.
    if (dir.get() >= 0 && !pdfName.isEmpty())
        ::unlinkat(dir.get(), pdfName.constData(), 0);
    return TakePdfFrom(pdf, folder + QLatin1Char('/') + QFile::decodeName(pdfName), presentation, counter, ask);
}

RenderedPdf TakePdfFrom(int fd, const QString& path, const QString& presentation, const QString& counter,
                        const CountAsk& ask)
{
    const UniqueFd pdf(fd);
    struct stat st = {};
    // Not a link, a pipe, a folder, a file with a name left (another name
    // of a file outside), a file of another user's or a sparse one.
    if (pdf.get() < 0 || ::fstat(pdf.get(), &st) != 0 || !PdfFileSound(st, 0))
        ThrowUnreadable(presentation);
    if (st.st_size > PdfSizeLimit())
        ThrowTooLarge(presentation, PdfSizeLimit());
    const int copy = copyOut(pdf.get(), st.st_size, QFileInfo(path).path());
    const PdfFacts facts = copy < 0 ? PdfFacts() : CountPages(copy, counter, ask);
    const int pages = facts.pages;
    auto file = std::make_shared<QFile>();
    if (copy >= 0)
        file->open(copy, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (pages < 0)
        throw Failure(
            failure::kAutomationError,
            QStringLiteral("LibreOffice made an incomplete PDF of %1, so it was not printed.").arg(presentation));
    if (pages == 0)
        throw Failure(failure::kAutomationError, QStringLiteral("%1 has no slides to print.").arg(presentation));
    return {path, pages, facts, file};
}

namespace {
// pradelux-pages, started once and kept: it has
// Poppler loaded and starts a contained count of its own for each PDF.
class CountServer
{
public:
    ~CountServer() { stop(); }

    // What the PDF at fd is; nothing when the server failed (it is stopped
    // then).
    std::optional<PdfFacts> count(int fd, const QString& program, const CountAsk& ask)
    {
        if (m_pid > 0 && (program != m_program || ::waitpid(m_pid, nullptr, WNOHANG) != 0))
            stop();
        if (m_pid <= 0 && !start(program))
            return std::nullopt;
        // The PDF's descriptor goes to the server with what it is asked; the
        // count comes back.
        const QByteArray said = SendWith(m_socket, ask.line(), fd)
                                    ? ReadLineWithin(m_socket, kCountMs + 5000, kCountLineMax)
                                    : QByteArray();
        if (said.isEmpty()) {
            stop();
            return std::nullopt;
        }
        return PdfFacts::read(said);
    }

private:
    bool start(const QString& program)
    {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        // The socket is its standard input and output; what it says on its
        // error output is of no use to anyone.
        m_pid = StartProgram(
            {QFile::encodeName(program)},
            {{{pair[1], STDIN_FILENO}, {pair[1], STDOUT_FILENO}, {ChildStart::kNull, STDERR_FILENO}}, false});
        const int spawned = m_pid > 0 ? 0 : -1;
        ::close(pair[1]);
        if (spawned != 0) {
            ::close(pair[0]);
            m_pid = -1;
            return false;
        }
        m_socket = pair[0];
        m_program = program;
        return true;
    }

    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_socket >= 0)
            ::close(m_socket);
        m_pid = -1;
        m_socket = -1;
    }

    pid_t m_pid = -1;
    int m_socket = -1;
    QString m_program;
};
} // namespace

QString PageCounterBeside(const QString& renderProgram)
{
    return QFileInfo(renderProgram).path() + QStringLiteral("/pradelux-pages");
}

PdfFacts CountPages(int fd, const QString& counter, const CountAsk& ask)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return {};
    static std::mutex serving;
    static CountServer server;
    const std::lock_guard<std::mutex> lock(serving);
    // A server that ended or hung is replaced once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const std::optional<PdfFacts> facts = server.count(fd, counter, ask))
            return *facts;
    }
    return {};
}

} // namespace pradelux::render::client
