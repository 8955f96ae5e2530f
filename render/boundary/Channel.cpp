// How the processes of a rendering carry their messages.
#include "Channel.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pradelux::render::boundary {

namespace {
// The address of a local socket at path; false when the path is too long.
bool addressOf(const QString& path, sockaddr_un* address)
{
    const QByteArray name = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address->sun_path))
        return false;
    std::memcpy(address->sun_path, name.constData(), static_cast<size_t>(name.size()));
    return true;
}
} // namespace

DescriptorMessage::DescriptorMessage()
{
    m_header.msg_iov = &m_data;
    m_header.msg_iovlen = 1;
    m_header.msg_control = m_control;
    m_header.msg_controllen = sizeof m_control;
}

void DescriptorMessage::carry(int fd)
{
    cmsghdr* rights = CMSG_FIRSTHDR(&m_header);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(rights), &fd, sizeof fd);
}

int DescriptorMessage::carried() const
{
    const cmsghdr* rights = CMSG_FIRSTHDR(&m_header);
    int fd = -1;
    if (rights && rights->cmsg_level == SOL_SOCKET && rights->cmsg_type == SCM_RIGHTS &&
        rights->cmsg_len == CMSG_LEN(sizeof(int)))
        std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
    return fd;
}

bool SendWith(int socket, const QByteArray& line, int fd)
{
    DescriptorMessage message;
    message.setData(const_cast<char*>(line.constData()), static_cast<size_t>(line.size()));
    if (fd >= 0)
        message.carry(fd);
    else
        message.carryNone();
    return ::sendmsg(socket, message.header(), MSG_NOSIGNAL) == line.size();
}

QByteArray ReadLine(int fd, QByteArray* buffer, qsizetype max, OutputDrain* output)
{
    bool draining = output != nullptr;
    for (;;) {
        const qsizetype end = buffer->indexOf('\n');
        if (end >= 0) {
            const QByteArray line = buffer->left(end + 1);
            buffer->remove(0, end + 1);
            return line;
        }
        if (buffer->size() > max)
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

QByteArray ReadLineWithin(int fd, int ms, qsizetype max)
{
    QByteArray said;
    timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 left = ms - ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR))
            return QByteArray();
        char chunk[64];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return said;
        said.append(chunk, n);
        if (said.size() > max)
            return QByteArray();
        if (said.endsWith('\n'))
            return said;
    }
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

bool LocalSocketAnswers(const QString& path)
{
    sockaddr_un address;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const bool connected =
        fd >= 0 && addressOf(path, &address) &&
        (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN);
    if (fd >= 0)
        ::close(fd);
    return connected;
}

int ListenLocal(const QString& path)
{
    sockaddr_un address;
    if (!addressOf(path, &address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // The socket's file is made for this user alone.
    const mode_t was = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(was);
    if (!bound || ::listen(fd, 64) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace pradelux::render::boundary
