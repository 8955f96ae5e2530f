// What the outside takes back from a rendering.
#include "TakenBack.h"

#include "Failure.h"
#include "Files.h"
#include "Renderer.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pradelux::office {

namespace {
// How long the count of a PDF's pages may take; the counter's own processor
// time is bounded more tightly.
constexpr int kCountMs = 60000;
// A count larger than this is no slide deck's.
constexpr int kPagesMax = 1000000;

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

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
    Descriptor to(fd);
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

RenderedPdf TakePdf(const QString& folder, const QString& name, const QString& presentation, const QString& counter)
{
    // All the rendering wrote counts, not its PDF alone.
    if (TreeBytes(folder) > PdfSizeLimit())
        ThrowTooLarge(presentation, PdfSizeLimit());
    const Descriptor dir(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const QByteArray pdfName = dir.get() < 0 ? QByteArray() : name.isEmpty() ? onlyPdfIn(dir.get()) : name.toUtf8();
    const Descriptor pdf(
        pdfName.isEmpty() ? -1
                          : ::openat(dir.get(), pdfName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st = {};
    // Not a link, a pipe, a folder, another name of a file outside or a
    // file of another user's.
    if (pdf.get() < 0 || ::fstat(pdf.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != ::geteuid()) {
        if (dir.get() >= 0 && !pdfName.isEmpty())
            ::unlinkat(dir.get(), pdfName.constData(), 0); // a link itself, never what it leads to
        ThrowUnreadable(presentation);
    }
    // What the renderer left goes, whatever becomes of it.
    ::unlinkat(dir.get(), pdfName.constData(), 0);
    if (st.st_size > PdfSizeLimit())
        ThrowTooLarge(presentation, PdfSizeLimit());
    const int copy = copyOut(pdf.get(), st.st_size, folder);
    const int pages = copy < 0 ? -1 : CountPages(copy, counter);
    auto file = std::make_shared<QFile>();
    if (copy >= 0)
        file->open(copy, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (pages < 0)
        throw Failure(
            failure::kAutomationError,
            QStringLiteral("LibreOffice made an incomplete PDF of %1, so it was not printed.").arg(presentation));
    if (pages == 0)
        throw Failure(failure::kAutomationError, QStringLiteral("%1 has no slides to print.").arg(presentation));
    return {folder + QLatin1Char('/') + QFile::decodeName(pdfName), pages, file};
}

int CountPages(int fd, const QString& counter)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const Descriptor reading(out[0]);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const QByteArray program = QFile::encodeName(counter);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--count-pages"), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    if (spawned != 0)
        return -1;
    // Read until it ends, at most a line's worth; a counter that takes too
    // long is stopped.
    QByteArray said;
    const qint64 deadline = [] {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }() + kCountMs;
    for (;;) {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 left = deadline - (qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
        pollfd p{reading.get(), POLLIN, 0};
        if (left <= 0 || (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)) {
            ::kill(pid, SIGKILL);
            said.clear();
            break;
        }
        char chunk[64];
        const ssize_t n = ::read(reading.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        said.append(chunk, n);
        if (said.size() > 64) {
            ::kill(pid, SIGKILL);
            said.clear();
            break;
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    static const QRegularExpression kLine(QStringLiteral("^pages (-1|\\d{1,7})\\n$"));
    const QRegularExpressionMatch line = kLine.match(QString::fromLatin1(said));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !line.hasMatch())
        return -1;
    const int pages = line.captured(1).toInt();
    return pages > kPagesMax ? -1 : pages;
}

QByteArray ReadAnswerLine(int fd, QByteArray* buffer, OutputDrain* output)
{
    bool draining = output != nullptr;
    for (;;) {
        const qsizetype end = buffer->indexOf('\n');
        if (end >= 0) {
            const QByteArray line = buffer->left(end + 1);
            buffer->remove(0, end + 1);
            return line;
        }
        if (buffer->size() > kAnswerMax)
            return QByteArray();
        pollfd p[2] = {{fd, POLLIN, 0}, {draining ? output->fd() : -1, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            return QByteArray();
        if (p[1].revents)
            draining = output->drain();
        if (!p[0].revents)
            continue;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return QByteArray();
        buffer->append(chunk, n);
    }
}

bool AnswersRequest(const QByteArray& line, qint64 id, const QByteArray& rest)
{
    return !line.isEmpty() && rest.isEmpty() &&
           QJsonDocument::fromJson(line).object().value(QStringLiteral("id")).toInteger(-1) == id;
}

OutputDrain::OutputDrain(int from, int to) : m_from(from), m_to(to)
{
    ::fcntl(from, F_SETFL, ::fcntl(from, F_GETFL) | O_NONBLOCK);
}

bool OutputDrain::drain()
{
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(m_from, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN;
        if (n == 0)
            return false;
        const qint64 passed = qMin<qint64>(n, kOutputMax - m_passed);
        if (passed > 0 && m_to >= 0)
            (void)!::write(m_to, chunk, static_cast<size_t>(passed));
        m_passed += qMax<qint64>(passed, 0);
    }
}

} // namespace pradelux::office
