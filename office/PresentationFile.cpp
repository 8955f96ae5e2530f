// What a file handed to the presentation application is.
#include "PresentationFile.h"

#include <QDir>
#include <QUrl>

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::office {

namespace {

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

// A part as a message names it: quoted, so that an odd name (spaces, an
// empty one) stands out as a name.
QString partName(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("a part with no name") : QStringLiteral("the part \"%1\"").arg(name);
}

FileKind damaged(const QString& why)
{
    return {FileKind::Damaged, why};
}

// Counts the start tags of one element in XML that comes in pieces:
// "<local" or "<prefix:local" (any prefix when none is given), followed by
// a space, "/" or ">". Names longer than any it looks for are passed over.
class ElementCounter
{
public:
    ElementCounter(QByteArray prefix, QByteArray local) : m_prefix(std::move(prefix)), m_local(std::move(local)) {}
    int count() const { return m_count; }

    void feed(QByteArrayView piece)
    {
        m_carry.append(piece.data(), piece.size());
        const QByteArrayView data(m_carry);
        qsizetype keep = data.size();
        for (qsizetype lt = data.indexOf('<'); lt >= 0; lt = data.indexOf('<', lt + 1)) {
            qsizetype end = lt + 1;
            while (end < data.size() && end - lt <= kLongest && isNameChar(data[end]))
                ++end;
            if (end == data.size()) {
                if (end - lt <= kLongest)
                    keep = lt; // the name goes on in the next piece
                break;
            }
            if (matches(data.sliced(lt + 1, end - lt - 1)) && isDelimiter(data[end]))
                ++m_count;
        }
        m_carry = keep < data.size() ? data.sliced(keep).toByteArray() : QByteArray();
    }

private:
    static constexpr qsizetype kLongest = 64;
    static bool isNameChar(char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
               c == '-' || c == '.';
    }
    static bool isDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>'; }
    bool matches(QByteArrayView name) const
    {
        const qsizetype colon = name.lastIndexOf(':');
        const QByteArrayView local = colon < 0 ? name : name.sliced(colon + 1);
        if (local != QByteArrayView(m_local))
            return false;
        return m_prefix.isEmpty() || (colon >= 0 && name.first(colon) == QByteArrayView(m_prefix));
    }

    QByteArray m_prefix;
    QByteArray m_local;
    QByteArray m_carry;
    int m_count = 0;
};

// Collects one attribute's values from the start tags of an element in XML
// that comes in pieces, where another attribute, when named, has a given
// value, and its Type, when asked, ends so: Target of <Relationship
// TargetMode="External" Type=".../image">, xlink:href of <draw:image>.
// A tag longer than kLongest is passed over.
class AttributeCollector
{
public:
    AttributeCollector(QByteArray element, QByteArray attribute, QByteArray whereName = {}, QByteArray whereValue = {},
                       QByteArray typeEndsWith = {})
        : m_element(std::move(element)), m_attribute(std::move(attribute)), m_whereName(std::move(whereName)),
          m_whereValue(std::move(whereValue)), m_typeEndsWith(std::move(typeEndsWith))
    {
    }
    const QStringList& values() const { return m_values; }
    // Also takes the values of another collector.
    void add(const QStringList& values)
    {
        for (const QString& v : values) {
            if (m_values.size() < kLinksMax && !m_values.contains(v))
                m_values << v;
        }
    }

    void feed(QByteArrayView piece)
    {
        m_carry.append(piece.data(), piece.size());
        qsizetype done = 0;
        for (;;) {
            const qsizetype lt = m_carry.indexOf('<', done);
            if (lt < 0) {
                done = m_carry.size();
                break;
            }
            const qsizetype gt = m_carry.indexOf('>', lt);
            if (gt < 0) {
                done = m_carry.size() - lt > kLongest ? m_carry.size() : lt;
                break;
            }
            if (gt - lt <= kLongest)
                take(QByteArrayView(m_carry).sliced(lt + 1, gt - lt - 1));
            done = gt + 1;
        }
        m_carry.remove(0, done);
    }

private:
    static constexpr qsizetype kLongest = 8192;
    // The value of name="..." or name='...' in a tag, entities decoded; a
    // null array when it is not there.
    // An attribute's text with XML's references replaced: the five named
    // entities and characters by number ("&#x2e;", "&#46;"); anything else
    // left as it stands.
    static QByteArray decoded(QByteArrayView raw)
    {
        static const char* const kNamed[][2] = {{"quot", "\""}, {"apos", "'"}, {"lt", "<"}, {"gt", ">"}, {"amp", "&"}};
        QByteArray out;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            const qsizetype semi = raw[i] == '&' ? raw.indexOf(';', i) : -1;
            if (semi < 0 || semi - i > 12) {
                out += raw[i];
                continue;
            }
            const QByteArrayView name = raw.sliced(i + 1, semi - i - 1);
            QByteArray replacement;
            if (name.startsWith('#')) {
                bool ok = false;
                const uint code = name.startsWith("#x") || name.startsWith("#X") ? name.sliced(2).toUInt(&ok, 16)
                                                                                 : name.sliced(1).toUInt(&ok, 10);
                if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
                    replacement = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1).toUtf8();
            } else {
                for (const auto& named : kNamed) {
                    if (name == QByteArrayView(named[0]))
                        replacement = named[1];
                }
            }
            if (replacement.isEmpty()) {
                out += raw[i];
                continue;
            }
            out += replacement;
            i = semi;
        }
        return out;
    }
    static QByteArray valueOf(QByteArrayView tag, const QByteArray& name)
    {
        for (qsizetype at = tag.indexOf(name); at >= 0; at = tag.indexOf(name, at + 1)) {
            const bool starts =
                at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' || tag[at - 1] == '\r');
            qsizetype i = at + name.size();
            while (i < tag.size() && tag[i] == ' ')
                ++i;
            if (!starts || i >= tag.size() || tag[i] != '=')
                continue;
            ++i;
            while (i < tag.size() && tag[i] == ' ')
                ++i;
            if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
                continue;
            const qsizetype end = tag.indexOf(tag[i], i + 1);
            if (end < 0)
                return QByteArray();
            return decoded(tag.sliced(i + 1, end - i - 1));
        }
        return QByteArray();
    }
    void take(QByteArrayView tag)
    {
        qsizetype name = 0;
        while (name < tag.size() && tag[name] != ' ' && tag[name] != '\t' && tag[name] != '\n' && tag[name] != '\r' &&
               tag[name] != '/')
            ++name;
        const QByteArrayView element = tag.first(name);
        const qsizetype colon = element.lastIndexOf(':');
        if (!m_element.isEmpty() && (colon < 0 ? element : element.sliced(colon + 1)) != QByteArrayView(m_element))
            return;
        if (!m_whereName.isEmpty() && valueOf(tag, m_whereName) != m_whereValue)
            return;
        if (!m_typeEndsWith.isEmpty() && !valueOf(tag, "Type").endsWith(m_typeEndsWith))
            return;
        const QByteArray value = valueOf(tag, m_attribute);
        if (!value.isEmpty())
            add({QString::fromUtf8(value)});
    }

    QByteArray m_element, m_attribute, m_whereName, m_whereValue, m_typeEndsWith;
    QByteArray m_carry;
    QStringList m_values;
};

// Feeds one piece of unpacked XML to every collector of a part.
class Readers
{
public:
    void add(ElementCounter* counter) { m_counters << counter; }
    void add(AttributeCollector* collector) { m_collectors << collector; }
    bool isEmpty() const { return m_counters.isEmpty() && m_collectors.isEmpty(); }
    void feed(QByteArrayView piece)
    {
        for (ElementCounter* c : m_counters)
            c->feed(piece);
        for (AttributeCollector* c : m_collectors)
            c->feed(piece);
    }

private:
    QList<ElementCounter*> m_counters;
    QList<AttributeCollector*> m_collectors;
};

// ---- zip packages ------------------------------------------------------

// Inflates (or takes as stored) one entry and checks its size and CRC-32
// without keeping what it unpacks, so a part that unpacks to gigabytes costs
// time, not memory. Never unpacks more than the size the entry declares.
// readers, when given, read what it unpacks.
bool entryIsWhole(Bytes& b, qint64 data, qint64 packedSize, int method, quint32 crc, quint64 size, Readers* counter)
{
    uLong sum = ::crc32(0, nullptr, 0);
    if (method == 0) {
        return quint64(packedSize) == size && b.stream(data, packedSize, [&](QByteArrayView piece) {
            sum = ::crc32(sum, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
            if (counter)
                counter->feed(piece);
            return true;
        }) && sum == crc;
    }
    if (method != 8)
        return false;
    z_stream z{};
    if (::inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    quint64 total = 0;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    int status = Z_OK;
    b.stream(data, packedSize, [&](QByteArrayView piece) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        z.avail_in = static_cast<uInt>(piece.size());
        while (status == Z_OK && (z.avail_in > 0 || z.avail_out == 0)) {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            status = ::inflate(&z, Z_NO_FLUSH);
            const uInt out = static_cast<uInt>(buffer.size()) - z.avail_out;
            sum = ::crc32(sum, reinterpret_cast<const Bytef*>(buffer.data()), out);
            if (counter)
                counter->feed(QByteArrayView(buffer.constData(), out));
            total += out;
            if (status == Z_BUF_ERROR)
                status = Z_OK; // wants the next piece
            if (total > size)
                status = Z_DATA_ERROR; // more than it says it holds
        }
        return status == Z_OK;
    });
    ::inflateEnd(&z);
    return status == Z_STREAM_END && total == size && sum == crc;
}

struct Entry
{
    QString name;
    int method = 0;
    quint32 crc = 0;
    quint64 packedSize = 0;
    quint64 size = 0;
    qint64 header = 0; // where its local header starts
    qint64 data = 0;   // and its data
};

FileKind inspectZip(Bytes& b, qint64 unpackLimit)
{
    // The end record stands in the last 64 KiB; a file cut short has lost it.
    // Its comment may hold the record's signature too: the record is the one
    // whose comment ends where the file does.
    const QByteArray tail = b.at(qMax<qint64>(0, b.size() - 22 - 65535), 22 + 65535);
    const qint64 tailStart = b.size() - tail.size();
    qint64 end = -1;
    for (qint64 at = tail.size() - 22; at >= 0; --at) {
        if (tail.at(at) == 'P' && tail.mid(at, 4) == QByteArrayView("PK\x05\x06")) {
            if (end < 0)
                end = tailStart + at; // the last one, if none fits exactly
            if (tailStart + at + 22 + static_cast<qint64>(b.le(tailStart + at + 20, 2)) == b.size()) {
                end = tailStart + at;
                break;
            }
        }
    }
    if (end < 0)
        return damaged(QStringLiteral("it is cut short"));
    quint64 count = b.le(end + 10, 2);
    quint64 directorySize = b.le(end + 12, 4);
    quint64 directory = b.le(end + 16, 4);
    // A count of 0xFFFF is either the real count or a sign that the zip64
    // record holds it: the locator before the end record tells.
    const qint64 locator = end - 20;
    if (directory == 0xFFFFFFFF || (count == 0xFFFF && b.le(locator, 4) == 0x07064b50)) {
        if (b.le(locator, 4) != 0x07064b50)
            return damaged(QStringLiteral("its table of contents is missing"));
        const qint64 record = static_cast<qint64>(b.le(locator + 8, 8));
        if (b.le(record, 4) != 0x06064b50)
            return damaged(QStringLiteral("its table of contents is missing"));
        count = b.le(record + 32, 8);
        directorySize = b.le(record + 40, 8);
        directory = b.le(record + 48, 8);
    }
    if (!b.has(static_cast<qint64>(directory), static_cast<qint64>(directorySize)) || count > directorySize / 46)
        return damaged(QStringLiteral("its table of contents is cut short"));

    // The table of contents first: every entry's place, each checked to lie
    // inside the file and apart from every other, so that no byte is
    // unpacked twice and the work is bounded by the file's size.
    QList<Entry> entries;
    QSet<QString> names;
    qint64 at = static_cast<qint64>(directory);
    for (quint64 i = 0; i < count; ++i) {
        if (b.le(at, 4) != 0x02014b50)
            return damaged(QStringLiteral("its table of contents is damaged"));
        Entry e;
        e.method = static_cast<int>(b.le(at + 10, 2));
        e.crc = static_cast<quint32>(b.le(at + 16, 4));
        e.packedSize = b.le(at + 20, 4);
        e.size = b.le(at + 24, 4);
        const qint64 nameLength = static_cast<qint64>(b.le(at + 28, 2));
        const qint64 extraLength = static_cast<qint64>(b.le(at + 30, 2));
        const qint64 commentLength = static_cast<qint64>(b.le(at + 32, 2));
        quint64 local = b.le(at + 42, 4);
        if (!b.has(at + 46, nameLength + extraLength + commentLength))
            return damaged(QStringLiteral("its table of contents is cut short"));
        e.name = QString::fromUtf8(b.at(at + 46, nameLength));
        // Sizes and offsets past 4 GiB stand in the zip64 extra field.
        for (qint64 x = at + 46 + nameLength; x + 4 <= at + 46 + nameLength + extraLength;) {
            const quint64 id = b.le(x, 2);
            const qint64 length = static_cast<qint64>(b.le(x + 2, 2));
            if (id == 1) {
                qint64 field = x + 4;
                for (quint64* value : {&e.size, &e.packedSize, &local}) {
                    if (*value == 0xFFFFFFFF && field + 8 <= x + 4 + length) {
                        *value = b.le(field, 8);
                        field += 8;
                    }
                }
            }
            x += 4 + length;
        }
        at += 46 + nameLength + extraLength + commentLength;
        if (names.contains(e.name))
            return damaged(QStringLiteral("%1 is listed twice").arg(partName(e.name)));
        names.insert(e.name);
        e.header = static_cast<qint64>(qMin<quint64>(local, quint64(b.size())));
        if (b.le(e.header, 4) != 0x04034b50)
            return damaged(QStringLiteral("%1 is missing").arg(partName(e.name)));
        e.data =
            e.header + 30 + static_cast<qint64>(b.le(e.header + 26, 2)) + static_cast<qint64>(b.le(e.header + 28, 2));
        if (e.packedSize > quint64(b.size()) || !b.has(e.data, static_cast<qint64>(e.packedSize)))
            return damaged(QStringLiteral("%1 is cut short").arg(partName(e.name)));
        entries << e;
    }
    QList<Entry> byPlace = entries;
    std::sort(byPlace.begin(), byPlace.end(), [](const Entry& x, const Entry& y) { return x.header < y.header; });
    for (qsizetype i = 1; i < byPlace.size(); ++i) {
        if (byPlace[i].header < byPlace[i - 1].data + static_cast<qint64>(byPlace[i - 1].packedSize))
            return damaged(
                QStringLiteral("%1 and %2 overlap").arg(partName(byPlace[i - 1].name), partName(byPlace[i].name)));
    }
    quint64 unpacked = 0;
    for (const Entry& e : entries) {
        unpacked += e.size;
        if (unpacked > quint64(unpackLimit))
            return damaged(QStringLiteral("it unpacks to more than %1 MiB").arg(unpackLimit >> 20));
    }

    QByteArray mimetype;
    bool encrypted = false;
    bool broken = false;
    // The slides as the presentation lists them: an OpenDocument
    // presentation's pages, or the slide ids of a PowerPoint package.
    ElementCounter pages("draw", "page");
    ElementCounter slideIds({}, "sldId");
    bool pagesRead = false;
    bool slideIdsRead = false;
    // The pictures it links outside itself; its other links (addresses,
    // media, objects) are never files to show.
    AttributeCollector hrefs("image", "xlink:href");
    AttributeCollector external("Relationship", "Target", "TargetMode", "External", "/image");
    for (const Entry& e : entries) {
        if (e.name == QLatin1String("mimetype") && e.method == 0 && e.packedSize < 256)
            mimetype = b.at(e.data, static_cast<qint64>(e.packedSize)).trimmed();
        // The manifest names a part's encryption near that part's name: its
        // first MiB tells.
        if (e.name == QLatin1String("META-INF/manifest.xml") && e.method == 8) {
            const QByteArray packed = b.at(e.data, qMin<qint64>(static_cast<qint64>(e.packedSize), 1 << 20));
            QByteArray manifest(static_cast<qsizetype>(qMin<quint64>(e.size, 1 << 20)), Qt::Uninitialized);
            z_stream z{};
            if (::inflateInit2(&z, -MAX_WBITS) == Z_OK) {
                z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
                z.avail_in = static_cast<uInt>(packed.size());
                z.next_out = reinterpret_cast<Bytef*>(manifest.data());
                z.avail_out = static_cast<uInt>(manifest.size());
                ::inflate(&z, Z_FINISH);
                encrypted = manifest.left(static_cast<qsizetype>(z.total_out)).contains("encryption-data");
                ::inflateEnd(&z);
            }
        }
        Readers readers;
        if (e.name == QLatin1String("content.xml")) {
            readers.add(&pages);
            readers.add(&hrefs);
            pagesRead = true;
        } else if (e.name.compare(QLatin1String("ppt/presentation.xml"), Qt::CaseInsensitive) == 0) {
            readers.add(&slideIds);
            slideIdsRead = true;
        } else if (e.name.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive)) {
            readers.add(&external);
        }
        if (!entryIsWhole(b, e.data, static_cast<qint64>(e.packedSize), e.method, e.crc, e.size,
                          readers.isEmpty() ? nullptr : &readers))
            broken = true;
    }
    // A document protected by a password holds parts that do not unpack
    // without it.
    if (encrypted)
        return {FileKind::Protected, {}};
    if (broken)
        return damaged(QStringLiteral("parts of it do not match their checksums"));

    if (!mimetype.isEmpty()) {
        const bool presentation = mimetype.startsWith("application/vnd.oasis.opendocument.presentation") ||
                                  mimetype.startsWith("application/vnd.sun.xml.impress");
        if (!presentation)
            return {FileKind::NotPresentation, {}};
        // An OpenDocument package is a folder of its own: what lies beside
        // it is named from its parent ("../picture.png"), and the rest are
        // its own parts.
        QStringList links;
        for (const QString& href : hrefs.values()) {
            if (href.startsWith(QLatin1String("../")))
                links << href.mid(3);
            else if (href.contains(QLatin1Char(':')))
                links << href;
        }
        return {FileKind::Presentation, {}, pagesRead && !encrypted ? pages.count() : -1, links};
    }
    if (slideIdsRead)
        return {FileKind::Presentation, {}, slideIds.count(), external.values()};
    return {FileKind::NotPresentation, {}};
}

// ---- compound files (.ppt) ---------------------------------------------

// The slides of a PowerPoint document stream: the slide persist atoms in the
// document's list of slides (its slide list with text of instance 0). Only a
// stream with one document record is read: one saved by fast save holds
// older ones too, and which is current would need its edit history. -1 when
// the records do not nest as they should, or the list is not there once.
template <typename ByteAt> int countPptSlides(ByteAt byteAt, quint64 size)
{
    struct Record
    {
        quint64 at = 0;
        quint64 instance = 0;
        quint64 type = 0;
        quint64 end = 0; // past its last byte
    };
    const auto le = [&](quint64 at, int n) {
        quint64 v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | byteAt(at + quint64(i));
        return v;
    };
    // The records from..to, one after the other; false when one overruns.
    const auto each = [&](quint64 from, quint64 to, auto take) {
        for (quint64 at = from; at < to;) {
            if (to - at < 8)
                return false;
            const quint64 head = le(at, 2);
            Record r{at, head >> 4, le(at + 2, 2), 0};
            const quint64 length = le(at + 4, 4);
            if (length > to - at - 8)
                return false;
            r.end = at + 8 + length;
            take(r);
            at = r.end;
        }
        return true;
    };
    constexpr quint64 kDocument = 0x03E8;
    constexpr quint64 kSlideList = 0x0FF0;
    constexpr quint64 kSlidePersist = 0x03F3;
    Record document;
    int documents = 0;
    // The stream may end in padding after its last record.
    each(0, size, [&](const Record& r) {
        if (r.type == kDocument && documents++ == 0)
            document = r;
    });
    if (documents != 1)
        return -1;
    int lists = 0;
    int slides = 0;
    bool nested = each(document.at + 8, document.end, [&](const Record& r) {
        if (r.type != kSlideList || r.instance != 0)
            return;
        ++lists;
        nested = each(r.at + 8, r.end, [&](const Record& inner) { slides += inner.type == kSlidePersist ? 1 : 0; }) &&
                 nested;
    });
    // A document without slides has no list of them.
    return nested && lists <= 1 ? slides : -1;
}

FileKind inspectCompound(Bytes& b)
{
    const int shift = static_cast<int>(b.le(30, 2));
    if (shift != 9 && shift != 12)
        return damaged(QStringLiteral("its header is damaged"));
    const qint64 sectorSize = qint64(1) << shift;
    const qint64 sectors = b.size() / sectorSize; // the header counts as one
    const auto offsetOf = [&](quint64 sector) { return static_cast<qint64>((sector + 1) << shift); };
    // A sector counts when it starts inside the file (the last may be short).
    const auto inFile = [&](quint64 sector) { return sector < 0xFFFFFFFA && offsetOf(sector) < b.size(); };

    // The sectors of the allocation table, listed in the header and then in
    // a chain of further sectors.
    QList<quint32> fatSectors;
    const quint64 fatCount = b.le(44, 4);
    for (int i = 0; i < 109 && quint64(fatSectors.size()) < fatCount; ++i)
        fatSectors << static_cast<quint32>(b.le(76 + 4 * i, 4));
    quint64 more = b.le(68, 4);
    for (qint64 guard = 0; quint64(fatSectors.size()) < fatCount && guard < sectors; ++guard) {
        if (!inFile(more))
            return damaged(QStringLiteral("it is cut short"));
        const qint64 at = offsetOf(more);
        for (qint64 i = 0; i < sectorSize / 4 - 1 && quint64(fatSectors.size()) < fatCount; ++i)
            fatSectors << static_cast<quint32>(b.le(at + 4 * i, 4));
        more = b.le(at + sectorSize - 4, 4);
    }
    const auto next = [&](quint64 sector) -> quint64 {
        const qint64 perSector = sectorSize / 4;
        const qint64 index = static_cast<qint64>(sector) / perSector;
        if (index >= fatSectors.size() || !inFile(fatSectors[index]))
            return 0xFFFFFFFF;
        return b.le(offsetOf(fatSectors[index]) + 4 * (static_cast<qint64>(sector) % perSector), 4);
    };
    // Follows a chain; false when it leaves the file or loops.
    const auto chain = [&](quint64 first, QList<quint64>* into) {
        for (quint64 s = first; s != 0xFFFFFFFE; s = next(s)) {
            if (!inFile(s) || into->size() > sectors)
                return false;
            into->append(s);
        }
        return true;
    };

    QList<quint64> directory;
    if (!chain(b.le(48, 4), &directory))
        return damaged(QStringLiteral("it is cut short"));
    bool presentation = false;
    bool encryptedPackage = false;
    bool encryptedSlides = false;
    quint64 streamStart = 0;
    quint64 streamSize = 0;
    for (quint64 sector : directory) {
        for (qint64 entry = offsetOf(sector); entry + 128 <= offsetOf(sector) + sectorSize; entry += 128) {
            const qint64 length = qBound<qint64>(qint64(0), static_cast<qint64>(b.le(entry + 64, 2)) - 2, qint64(62));
            const QByteArray raw = b.at(entry, length);
            const QString name = QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.data()), raw.size() / 2);
            if (b.le(entry + 66, 1) != 2)
                continue;
            if (name == QLatin1String("PowerPoint Document")) {
                presentation = true;
                streamStart = b.le(entry + 116, 4);
                streamSize = b.le(entry + 120, 4);
            } else if (name == QLatin1String("PP40")) {
                presentation = true; // PowerPoint 4, which LibreOffice opens too
            } else if (name == QLatin1String("EncryptedPackage")) {
                // An OOXML package encrypted whole.
                encryptedPackage = true;
            } else if (name == QLatin1String("EncryptedSummary")) {
                // A .ppt whose summary PowerPoint encrypted with its slides.
                encryptedSlides = true;
            }
        }
    }
    if (encryptedPackage)
        return {FileKind::Protected, {}};
    if (encryptedSlides)
        return {FileKind::Protected, QStringLiteral("a PowerPoint 97–2003 presentation")};
    if (!presentation)
        return {FileKind::NotPresentation, {}};
    if (streamSize >= 4096) {
        QList<quint64> sectorsOfStream;
        if (!chain(streamStart, &sectorsOfStream) || quint64(sectorsOfStream.size()) * quint64(sectorSize) < streamSize)
            return damaged(QStringLiteral("it is cut short"));
        const auto byteAt = [&](quint64 at) -> quint64 {
            return at < streamSize ? b.le(offsetOf(sectorsOfStream[static_cast<qsizetype>(at >> shift)]) +
                                              static_cast<qint64>(at & quint64(sectorSize - 1)),
                                          1)
                                   : 0;
        };
        return {FileKind::Presentation, {}, countPptSlides(byteAt, streamSize)};
    }
    // A stream this small lives in the mini stream, which is not read here.
    return {FileKind::Presentation, {}};
}

// ---- flat XML (.fodp) --------------------------------------------------

FileKind inspectFlat(QByteArrayView head)
{
    if (head.contains("office:mimetype=\"application/vnd.oasis.opendocument.presentation") ||
        head.contains("<office:presentation"))
        return {FileKind::Presentation, {}};
    return {FileKind::NotPresentation, {}};
}

// Which kind the bytes are, judged by how they start.
FileKind inspect(Bytes& b, qint64 unpackLimit)
{
    const QByteArray start = b.at(0, 1 << 16);
    FileKind kind;
    if (start.startsWith("PK\x03\x04") || start.startsWith("PK\x05\x06")) {
        kind = inspectZip(b, unpackLimit);
    } else if (start.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        kind = inspectCompound(b);
    } else {
        QByteArrayView head(start);
        if (head.startsWith("\xEF\xBB\xBF"))
            head = head.sliced(3);
        while (!head.isEmpty() && QChar::isSpace(static_cast<uchar>(head.front())))
            head = head.sliced(1);
        if (head.startsWith("<?xml") || head.startsWith("<office:document"))
            kind = inspectFlat(head);
        if (kind.verdict == FileKind::Presentation) {
            ElementCounter pages("draw", "page");
            AttributeCollector hrefs("image", "xlink:href");
            b.stream(0, b.size(), [&](QByteArrayView piece) {
                pages.feed(piece);
                hrefs.feed(piece);
                return true;
            });
            kind.slides = pages.count();
            kind.links = hrefs.values();
        }
    }
    if (b.shrank())
        return damaged(QStringLiteral("it changed while it was read"));
    return kind;
}

} // namespace

qint64 UnpackLimit()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("PRADELUX_UNPACK_LIMIT", &ok);
    return ok && mib > 0 ? mib << 20 : qint64(2) << 30;
}

FileKind InspectPresentationData(const QByteArray& data, qint64 unpackLimit)
{
    Bytes b{QByteArrayView(data)};
    return inspect(b, unpackLimit);
}

FileKind InspectPresentationFile(int fd, qint64 unpackLimit)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {FileKind::NotRegular, {}};
    Bytes b(fd, st.st_size);
    return st.st_size == 0 ? FileKind{FileKind::NotPresentation, {}} : inspect(b, unpackLimit);
}

int MostSlidesBelow(const QStringList& files, int first, int timeoutMs)
{
    int most = -1;
    for (const QString& file : files) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        const FileKind kind = InspectPresentationApart(fd, UnpackLimit(), timeoutMs);
        ::close(fd);
        if (kind.verdict != FileKind::Presentation)
            continue;
        if (kind.slides < 0 || kind.slides >= first)
            return -1;
        most = qMax(most, kind.slides);
    }
    return most;
}

FileKind InspectPresentationApart(int fd, qint64 unpackLimit, int timeoutMs)
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return InspectPresentationFile(fd, unpackLimit);
    const pid_t child = ::fork();
    if (child == 0) {
        // Only this file's check runs here: no lock another thread may hold
        // is taken, and the process ends without unwinding anything.
        ::close(pipe[0]);
        const FileKind kind = InspectPresentationFile(fd, unpackLimit);
        // The reason, then each link, after a NUL (which neither holds).
        QByteArray answer = char('0' + kind.verdict) + QByteArray::number(kind.slides) + '|' + kind.why.toUtf8();
        for (const QString& link : kind.links)
            answer += '\0' + link.toUtf8();
        (void)!::write(pipe[1], answer.constData(), static_cast<size_t>(answer.size()));
        ::_exit(0);
    }
    ::close(pipe[1]);
    if (child < 0) {
        ::close(pipe[0]);
        return InspectPresentationFile(fd, unpackLimit);
    }
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pollfd p{pipe[0], POLLIN, 0};
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR))
            break;
        char chunk[4096];
        const ssize_t n = (p.revents & (POLLIN | POLLHUP)) ? ::read(pipe[0], chunk, sizeof chunk) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 && (p.revents & (POLLIN | POLLHUP)))
            break;
        answer.append(chunk, n > 0 ? n : 0);
    }
    const bool late = clock.elapsed() >= timeoutMs;
    ::close(pipe[0]);
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (late && answer.isEmpty())
        return {FileKind::TookTooLong, {}};
    const qsizetype bar = answer.indexOf('|');
    bool counted = false;
    const int slides = bar > 1 ? answer.mid(1, bar - 1).toInt(&counted) : 0;
    if (answer.isEmpty() || answer[0] < '0' || answer[0] > '0' + FileKind::Protected || !counted)
        return damaged(QStringLiteral("it could not be read to the end"));
    const QList<QByteArray> parts = answer.mid(bar + 1).split('\0');
    QStringList links;
    for (qsizetype i = 1; i < parts.size() && links.size() < kLinksMax; ++i)
        links << QString::fromUtf8(parts[i]);
    return {static_cast<FileKind::Verdict>(answer[0] - '0'), QString::fromUtf8(parts[0]), slides, links};
}

QStringList LocalLinks(const QStringList& links, const QString& folder)
{
    const QString base = QDir::cleanPath(folder);
    QStringList local;
    for (const QString& link : links) {
        QString path;
        const QUrl url(link);
        if (url.scheme() == QLatin1String("file") && url.host().isEmpty()) {
            const QString absolute = QDir::cleanPath(url.path());
            if (!absolute.startsWith(base + QLatin1Char('/')))
                continue;
            path = absolute.mid(base.size() + 1);
        } else if (url.scheme().isEmpty() && !link.startsWith(QLatin1Char('#')) && !link.startsWith(QLatin1Char('/'))) {
            path = QDir::cleanPath(QUrl::fromPercentEncoding(link.toUtf8()));
        } else {
            continue;
        }
        if (!path.isEmpty() && path != QLatin1String(".") && !path.startsWith(QLatin1String("..")) &&
            !local.contains(path))
            local << path;
    }
    return local;
}

} // namespace pradelux::office
