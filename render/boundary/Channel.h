// How the processes of a rendering carry their messages: lines on sockets
// and pipes, read within bounds, and descriptors beside them. What comes
// from inside the sandbox may be anything: every read here is bounded in
// size, and where a process outside waits, in time.
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/socket.h>

namespace pradelux::render::boundary {

// A message with a descriptor beside it: a count server's request (one byte
// and a PDF's descriptor), the kept renderer's answer (a line and its PDF's).
class DescriptorMessage
{
public:
    DescriptorMessage();
    DescriptorMessage(const DescriptorMessage&) = delete;
    DescriptorMessage& operator=(const DescriptorMessage&) = delete;
    msghdr* header() { return &m_header; }
    // Its bytes are size bytes at data instead of the one byte of its own.
    void setData(char* data, size_t size) { m_data = {data, size}; }
    // Puts fd in the message, to be sent.
    void carry(int fd);
    // Sent without a descriptor.
    void carryNone()
    {
        m_header.msg_control = nullptr;
        m_header.msg_controllen = 0;
    }
    // The descriptor a received message carried; -1 when none.
    int carried() const;

private:
    char m_byte = 0;
    iovec m_data{&m_byte, 1};
    alignas(cmsghdr) char m_control[CMSG_SPACE(sizeof(int))] = {};
    msghdr m_header = {};
};
// Sends line on socket, with fd beside it when it is not -1.
bool SendWith(int socket, const QByteArray& line, int fd);

// A line the worker writes is short.
inline constexpr qsizetype kAnswerMax = 8192;
// What a renderer's standard output and error may pass on for a rendering.
inline constexpr qint64 kOutputMax = 64 << 10;

// Reads what a file descriptor holds now and passes it on to another until
// kOutputMax bytes have gone; the rest is dropped.
class OutputDrain
{
public:
    // from is made non-blocking.
    OutputDrain(int from, int to);
    // False once from has closed.
    bool drain();
    int fd() const { return m_from; }
    // A new rendering may pass on kOutputMax bytes again.
    void allowMore() { m_passed = 0; }

private:
    int m_from;
    int m_to;
    qint64 m_passed = 0;
};

// A line read from fd into buffer (what came after it stays there), with
// its new line; empty when fd closed, or said more than max bytes in one
// line. Meanwhile output (when given) is drained, so that a renderer that
// writes much is not held up.
QByteArray ReadLine(int fd, QByteArray* buffer, qsizetype max, OutputDrain* output = nullptr);
// The line that fd says within ms, no longer than max; empty when it said
// more, or nothing in time.
QByteArray ReadLineWithin(int fd, int ms, qsizetype max);

// Whether something listens on the local socket at path (one too busy to
// take a connection now listens too).
bool LocalSocketAnswers(const QString& path);
// A socket listening at path, which this user alone may reach; -1 with
// errno set when there can be none. It sets the process's file mode mask
// for a moment: no other thread of the caller's may be making files (the
// renderer's service has one other, its bus's, which makes none).
int ListenLocal(const QString& path);

} // namespace pradelux::render::boundary
