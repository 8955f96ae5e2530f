// The bytes of a file the file check reads.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace pradelux::office {

// The bytes of a file, read on demand with pread through a small cache (or
// taken from memory); little-endian reads never run past the end. A file
// that shrinks while it is read gives short reads, never a fault.
class Bytes
{
public:
    explicit Bytes(QByteArrayView data) : m_data(data), m_size(data.size()) {}
    Bytes(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    qint64 size() const { return m_size; }
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at <= size() && n <= size() - at; }
    // True once a read came back short: the file changed while it was read.
    bool shrank() const { return m_shrank; }

    quint64 le(qint64 at, int n)
    {
        if (!has(at, n))
            return 0;
        quint64 v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | byte(at + i);
        return v;
    }
    // Up to n bytes from at (fewer at the end of the file).
    QByteArray at(qint64 at, qint64 n)
    {
        if (!has(at, 0))
            return QByteArray();
        QByteArray out(static_cast<qsizetype>(qMin(n, size() - at)), Qt::Uninitialized);
        return read(at, out.data(), out.size()) ? out : QByteArray();
    }
    // Hands [at, at + n) to take in pieces; false when it is not all there
    // or take said stop.
    template <typename Take> bool stream(qint64 at, qint64 n, Take take)
    {
        if (!has(at, n))
            return false;
        QByteArray chunk(static_cast<qsizetype>(qMin<qint64>(n, kChunk)), Qt::Uninitialized);
        for (qint64 done = 0; done < n;) {
            const qint64 piece = qMin<qint64>(n - done, kChunk);
            if (!read(at + done, chunk.data(), piece) || !take(QByteArrayView(chunk.constData(), piece)))
                return false;
            done += piece;
        }
        return true;
    }

private:
    static constexpr qint64 kPage = 1 << 16;
    static constexpr qint64 kChunk = 1 << 20;
    static constexpr int kPages = 4;

    bool read(qint64 at, char* into, qint64 n)
    {
        if (m_fd < 0) {
            std::memcpy(into, m_data.data() + at, static_cast<size_t>(n));
            return true;
        }
        for (qint64 done = 0; done < n;) {
            const ssize_t got = ::pread(m_fd, into + done, static_cast<size_t>(n - done), at + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                m_shrank = true;
                std::memset(into + done, 0, static_cast<size_t>(n - done));
                return false;
            }
            done += got;
        }
        return true;
    }
    uchar byte(qint64 at)
    {
        if (m_fd < 0)
            return static_cast<uchar>(m_data[at]);
        const qint64 start = at - at % kPage;
        for (Page& p : m_pages) {
            if (p.start == start && !p.bytes.isEmpty())
                return static_cast<uchar>(p.bytes[at - start]);
        }
        Page& p = m_pages[m_next++ % kPages];
        p.start = start;
        p.bytes.resize(static_cast<qsizetype>(qMin(kPage, size() - start)));
        read(start, p.bytes.data(), p.bytes.size());
        return static_cast<uchar>(p.bytes[at - start]);
    }

    struct Page
    {
        qint64 start = -1;
        QByteArray bytes;
    };
    QByteArrayView m_data;
    int m_fd = -1;
    qint64 m_size;
    bool m_shrank = false;
    Page m_pages[kPages];
    int m_next = 0;
};

} // namespace pradelux::office
