// What a file handed to the presentation application is.
#include "PresentationFile.h"

#include <QFile>
#include <QSet>
#include <QStringList>

#include <zlib.h>

#include <cstring>

namespace pradelux::office {

namespace {

// Little-endian reads that never run past the data.
class Bytes
{
public:
    explicit Bytes(QByteArrayView data) : m_data(data) {}
    qint64 size() const { return m_data.size(); }
    bool has(qint64 at, qint64 n) const { return at >= 0 && n >= 0 && at <= size() && n <= size() - at; }
    quint64 le(qint64 at, int n) const
    {
        if (!has(at, n))
            return 0;
        quint64 v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | static_cast<uchar>(m_data[at + i]);
        return v;
    }
    QByteArrayView at(qint64 at, qint64 n) const { return has(at, n) ? m_data.sliced(at, n) : QByteArrayView(); }

private:
    QByteArrayView m_data;
};

FileKind damaged(const QString& why)
{
    return {FileKind::Damaged, why};
}

// ---- zip packages ------------------------------------------------------

// Inflates (or takes as stored) one entry and checks its size and CRC-32
// without keeping what it unpacks, so a part that unpacks to gigabytes costs
// time, not memory.
bool entryIsWhole(QByteArrayView packed, int method, quint32 crc, quint64 size)
{
    if (method == 0)
        return quint64(packed.size()) == size &&
               ::crc32(0, reinterpret_cast<const Bytef*>(packed.data()), static_cast<uInt>(packed.size())) == crc;
    if (method != 8)
        return false;
    z_stream z{};
    if (::inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    uLong sum = ::crc32(0, nullptr, 0);
    quint64 total = 0;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    qint64 fed = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (z.avail_in == 0 && fed < packed.size()) {
            const qint64 n = qMin<qint64>(packed.size() - fed, 1 << 20);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + fed));
            z.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        z.next_out = reinterpret_cast<Bytef*>(buffer.data());
        z.avail_out = static_cast<uInt>(buffer.size());
        status = ::inflate(&z, Z_NO_FLUSH);
        const uInt out = static_cast<uInt>(buffer.size()) - z.avail_out;
        sum = ::crc32(sum, reinterpret_cast<const Bytef*>(buffer.data()), out);
        total += out;
        if (status == Z_BUF_ERROR && z.avail_in == 0 && fed >= packed.size())
            break; // the data ended before the stream did
        if (status == Z_BUF_ERROR)
            status = Z_OK;
    }
    ::inflateEnd(&z);
    return status == Z_STREAM_END && total == size && sum == crc;
}

FileKind inspectZip(const Bytes& b)
{
    // The end record stands in the last 64 KiB; a file cut short has lost it.
    qint64 end = -1;
    for (qint64 at = b.size() - 22; at >= 0 && at >= b.size() - 22 - 65535; --at) {
        if (b.le(at, 4) == 0x06054b50) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return damaged(QStringLiteral("it is cut short"));
    quint64 count = b.le(end + 10, 2);
    quint64 directorySize = b.le(end + 12, 4);
    quint64 directory = b.le(end + 16, 4);
    if (directory == 0xFFFFFFFF || count == 0xFFFF) {
        const qint64 locator = end - 20;
        if (b.le(locator, 4) != 0x07064b50)
            return damaged(QStringLiteral("its table of contents is missing"));
        const qint64 record = static_cast<qint64>(b.le(locator + 8, 8));
        if (b.le(record, 4) != 0x06064b50)
            return damaged(QStringLiteral("its table of contents is missing"));
        count = b.le(record + 32, 8);
        directorySize = b.le(record + 40, 8);
        directory = b.le(record + 48, 8);
    }
    if (!b.has(static_cast<qint64>(directory), static_cast<qint64>(directorySize)))
        return damaged(QStringLiteral("its table of contents is cut short"));

    QSet<QString> names;
    QByteArray mimetype;
    bool encrypted = false;
    bool broken = false;
    qint64 at = static_cast<qint64>(directory);
    for (quint64 i = 0; i < count; ++i) {
        if (b.le(at, 4) != 0x02014b50)
            return damaged(QStringLiteral("its table of contents is damaged"));
        const int method = static_cast<int>(b.le(at + 10, 2));
        const quint32 crc = static_cast<quint32>(b.le(at + 16, 4));
        quint64 packedSize = b.le(at + 20, 4);
        quint64 size = b.le(at + 24, 4);
        const qint64 nameLength = static_cast<qint64>(b.le(at + 28, 2));
        const qint64 extraLength = static_cast<qint64>(b.le(at + 30, 2));
        const qint64 commentLength = static_cast<qint64>(b.le(at + 32, 2));
        quint64 local = b.le(at + 42, 4);
        const QString name = QString::fromUtf8(b.at(at + 46, nameLength));
        // Sizes and offsets past 4 GiB stand in the zip64 extra field.
        for (qint64 x = at + 46 + nameLength; x + 4 <= at + 46 + nameLength + extraLength;) {
            const quint64 id = b.le(x, 2);
            const qint64 length = static_cast<qint64>(b.le(x + 2, 2));
            if (id == 1) {
                qint64 field = x + 4;
                for (quint64* value : {&size, &packedSize, &local}) {
                    if (*value == 0xFFFFFFFF && field + 8 <= x + 4 + length) {
                        *value = b.le(field, 8);
                        field += 8;
                    }
                }
            }
            x += 4 + length;
        }
        at += 46 + nameLength + extraLength + commentLength;
        names.insert(name);
        const qint64 header = static_cast<qint64>(local);
        if (b.le(header, 4) != 0x04034b50)
            return damaged(QStringLiteral("the part %1 is missing").arg(name));
        const qint64 data = header + 30 + static_cast<qint64>(b.le(header + 26, 2)) +
                            static_cast<qint64>(b.le(header + 28, 2));
        const QByteArrayView packed = b.at(data, static_cast<qint64>(packedSize));
        if (packed.size() != static_cast<qint64>(packedSize))
            return damaged(QStringLiteral("the part %1 is cut short").arg(name));
        if (name == QLatin1String("mimetype") && method == 0)
            mimetype = packed.toByteArray().trimmed();
        if (name == QLatin1String("META-INF/manifest.xml") && method == 8 && packedSize < (1 << 24)) {
            QByteArray manifest(static_cast<qsizetype>(qMin<quint64>(size, 1 << 24)), Qt::Uninitialized);
            uLongf length = static_cast<uLongf>(manifest.size());
            z_stream z{};
            if (::inflateInit2(&z, -MAX_WBITS) == Z_OK) {
                z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
                z.avail_in = static_cast<uInt>(packed.size());
                z.next_out = reinterpret_cast<Bytef*>(manifest.data());
                z.avail_out = static_cast<uInt>(length);
                ::inflate(&z, Z_FINISH);
                encrypted = manifest.left(static_cast<qsizetype>(z.total_out)).contains("encryption-data");
                ::inflateEnd(&z);
            }
        }
        if (!entryIsWhole(packed, method, crc, size))
            broken = true;
    }
    // A document protected by a password holds parts that do not unpack
    // without it; LibreOffice says so itself.
    if (broken && !encrypted)
        return damaged(QStringLiteral("parts of it do not match their checksums"));

    if (!mimetype.isEmpty()) {
        const bool presentation = mimetype.startsWith("application/vnd.oasis.opendocument.presentation") ||
                                  mimetype.startsWith("application/vnd.sun.xml.impress");
        return {presentation ? FileKind::Presentation : FileKind::NotPresentation, {}};
    }
    for (const QString& name : names) {
        if (name.compare(QLatin1String("ppt/presentation.xml"), Qt::CaseInsensitive) == 0)
            return {FileKind::Presentation, {}};
    }
    return {FileKind::NotPresentation, {}};
}

// ---- compound files (.ppt) ---------------------------------------------

FileKind inspectCompound(const Bytes& b)
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
    quint64 streamStart = 0;
    quint64 streamSize = 0;
    for (quint64 sector : directory) {
        for (qint64 entry = offsetOf(sector); entry + 128 <= offsetOf(sector) + sectorSize; entry += 128) {
            const qint64 length = qBound<qint64>(qint64(0), static_cast<qint64>(b.le(entry + 64, 2)) - 2, qint64(62));
            const QByteArrayView raw = b.at(entry, length);
            const QString name = QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.data()), raw.size() / 2);
            if (b.le(entry + 66, 1) != 2)
                continue;
            if (name == QLatin1String("PowerPoint Document")) {
                presentation = true;
                streamStart = b.le(entry + 116, 4);
                streamSize = b.le(entry + 120, 4);
            } else if (name == QLatin1String("EncryptedPackage")) {
                encryptedPackage = true;
            }
        }
    }
    // A package protected by a password: LibreOffice asks for it and says so.
    if (encryptedPackage)
        return {FileKind::Presentation, {}};
    if (!presentation)
        return {FileKind::NotPresentation, {}};
    if (streamSize >= 4096) {
        QList<quint64> slides;
        if (!chain(streamStart, &slides) || quint64(slides.size()) * quint64(sectorSize) < streamSize)
            return damaged(QStringLiteral("it is cut short"));
    }
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

} // namespace

FileKind InspectPresentationData(const QByteArray& data)
{
    const Bytes b(data);
    if (data.startsWith("PK\x03\x04") || data.startsWith("PK\x05\x06"))
        return inspectZip(b);
    if (data.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return inspectCompound(b);
    QByteArrayView head = QByteArrayView(data).first(qMin<qsizetype>(data.size(), 1 << 16));
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    while (!head.isEmpty() && QChar::isSpace(static_cast<uchar>(head.front())))
        head = head.sliced(1);
    if (head.startsWith("<?xml") || head.startsWith("<office:document"))
        return inspectFlat(head);
    return {FileKind::NotPresentation, {}};
}

FileKind InspectPresentation(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {FileKind::NotPresentation, {}};
    if (file.size() == 0)
        return {FileKind::NotPresentation, {}};
    // Mapped, not read: a deck of hundreds of megabytes costs no memory here.
    uchar* mapped = file.map(0, file.size());
    if (!mapped)
        return InspectPresentationData(file.readAll());
    const FileKind kind =
        InspectPresentationData(QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), file.size()));
    file.unmap(mapped);
    return kind;
}

} // namespace pradelux::office
