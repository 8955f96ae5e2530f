// Zip packages: .pptx and .odp, and their kin.
#include "DeckXml.h"
#include "FileFormats.h"

#include <QSet>

#include <zlib.h>

#include <algorithm>
#include <optional>

namespace pradelux::office {

namespace {
// Whether an XML part may print letters: not the package's own records, its
// properties and settings, or a theme (which names a font for every script).
bool mayPrintLetters(const QString& name)
{
    for (const char* apart : {"META-INF/", "docProps/", "customXml/", "ppt/theme/", "ppt/printerSettings/",
                              "ppt/comments/", "Configurations2/"}) {
        if (name.startsWith(QLatin1StringView(apart), Qt::CaseInsensitive))
            return false;
    }
    for (const char* apart : {"[Content_Types].xml", "meta.xml", "settings.xml", "ppt/presProps.xml",
                              "ppt/viewProps.xml", "ppt/tableStyles.xml", "ppt/commentAuthors.xml"}) {
        if (name.compare(QLatin1StringView(apart), Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}

// Whether a part may draw letters that no XML of the deck holds: a metafile
// or a drawing (they hold text of their own), an embedded object, or a part
// of no known kind.
bool drawsLettersOfItsOwn(const QString& name)
{
    if (name.endsWith(QLatin1Char('/')) || name == QLatin1String("mimetype"))
        return false;
    const QString last = name.section(QLatin1Char('/'), -1).toLower();
    const QString kind = last.contains(QLatin1Char('.')) ? last.section(QLatin1Char('.'), -1) : QString();
    for (const char* picture : {"png", "jpg", "jpeg", "gif", "bmp", "tif", "tiff",    "webp",  "rdf", "xml", "rels",
                                "mp3", "mp4", "wav",  "m4a", "mov", "avi", "fntdata", "odttf", "ttf", "otf"}) {
        if (kind == QLatin1StringView(picture))
            return false;
    }
    return true;
}

// Inflates (or takes as stored) one entry and checks its size and CRC-32
// without keeping what it unpacks, so a part that unpacks to gigabytes costs
// time, not memory. Never unpacks more than the size the entry declares.
// readers, when given, read what it unpacks.
bool entryIsWhole(Bytes& b, qint64 data, qint64 packedSize, int method, quint32 crc, quint64 size, DeckXml* reader)
{
    uLong sum = ::crc32(0, nullptr, 0);
    if (method == 0) {
        return quint64(packedSize) == size && b.stream(data, packedSize, [&](QByteArrayView piece) {
            sum = ::crc32(sum, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
            if (reader)
                reader->feed(piece);
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
            if (reader)
                reader->feed(QByteArrayView(buffer.constData(), out));
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

} // namespace

FileKind InspectZip(Bytes& b, qint64 unpackLimit)
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
        return Damaged(QStringLiteral("it is cut short"));
    quint64 count = b.le(end + 10, 2);
    quint64 directorySize = b.le(end + 12, 4);
    quint64 directory = b.le(end + 16, 4);
    // A count of 0xFFFF is either the real count or a sign that the zip64
    // record holds it: the locator before the end record tells.
    const qint64 locator = end - 20;
    if (directory == 0xFFFFFFFF || (count == 0xFFFF && b.le(locator, 4) == 0x07064b50)) {
        if (b.le(locator, 4) != 0x07064b50)
            return Damaged(QStringLiteral("its table of contents is missing"));
        const qint64 record = static_cast<qint64>(b.le(locator + 8, 8));
        if (b.le(record, 4) != 0x06064b50)
            return Damaged(QStringLiteral("its table of contents is missing"));
        count = b.le(record + 32, 8);
        directorySize = b.le(record + 40, 8);
        directory = b.le(record + 48, 8);
    }
    if (!b.has(static_cast<qint64>(directory), static_cast<qint64>(directorySize)) || count > directorySize / 46)
        return Damaged(QStringLiteral("its table of contents is cut short"));

    // The table of contents first: every entry's place, each checked to lie
    // inside the file and apart from every other, so that no byte is
    // unpacked twice and the work is bounded by the file's size.
    QList<Entry> entries;
    QSet<QString> names;
    qint64 at = static_cast<qint64>(directory);
    for (quint64 i = 0; i < count; ++i) {
        if (b.le(at, 4) != 0x02014b50)
            return Damaged(QStringLiteral("its table of contents is damaged"));
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
            return Damaged(QStringLiteral("its table of contents is cut short"));
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
            return Damaged(QStringLiteral("%1 is listed twice").arg(PartName(e.name)));
        names.insert(e.name);
        e.header = static_cast<qint64>(qMin<quint64>(local, quint64(b.size())));
        if (b.le(e.header, 4) != 0x04034b50)
            return Damaged(QStringLiteral("%1 is missing").arg(PartName(e.name)));
        e.data =
            e.header + 30 + static_cast<qint64>(b.le(e.header + 26, 2)) + static_cast<qint64>(b.le(e.header + 28, 2));
        if (e.packedSize > quint64(b.size()) || !b.has(e.data, static_cast<qint64>(e.packedSize)))
            return Damaged(QStringLiteral("%1 is cut short").arg(PartName(e.name)));
        entries << e;
    }
    QList<Entry> byPlace = entries;
    std::sort(byPlace.begin(), byPlace.end(), [](const Entry& x, const Entry& y) { return x.header < y.header; });
    for (qsizetype i = 1; i < byPlace.size(); ++i) {
        if (byPlace[i].header < byPlace[i - 1].data + static_cast<qint64>(byPlace[i - 1].packedSize))
            return Damaged(
                QStringLiteral("%1 and %2 overlap").arg(PartName(byPlace[i - 1].name), PartName(byPlace[i].name)));
    }
    quint64 unpacked = 0;
    for (const Entry& e : entries) {
        unpacked += e.size;
        if (unpacked > quint64(unpackLimit))
            return Damaged(QStringLiteral("it unpacks to more than %1 MiB").arg(unpackLimit >> 20));
    }

    QByteArray mimetype;
    bool encrypted = false;
    bool broken = false;
    // The slides as the presentation lists them: an OpenDocument
    // presentation's pages, or the slide ids of a PowerPoint package; and
    // the pictures it links outside itself (its other links, addresses,
    // media and objects, are never files to show).
    std::optional<DeckXml> content;
    std::optional<DeckXml> slideList;
    QStringList external;
    DeckLetters letters;
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
        std::optional<DeckXml> relationships;
        DeckXml* reader = nullptr;
        std::optional<DeckXml> text;
        if (e.name == QLatin1String("content.xml"))
            reader = &content.emplace(DeckXml::Part::Content, &letters);
        else if (e.name.compare(QLatin1String("ppt/presentation.xml"), Qt::CaseInsensitive) == 0)
            reader = &slideList.emplace(DeckXml::Part::SlideList);
        else if (e.name.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive))
            reader = &relationships.emplace(DeckXml::Part::Relationships);
        else if (e.name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) && mayPrintLetters(e.name))
            reader = &text.emplace(DeckXml::Part::Text, &letters);
        else if (drawsLettersOfItsOwn(e.name))
            letters.unknown();
        if (!entryIsWhole(b, e.data, static_cast<qint64>(e.packedSize), e.method, e.crc, e.size, reader))
            broken = true;
        if (relationships)
            AddLinks(external, relationships->links());
    }
    // A document protected by a password holds parts that do not unpack
    // without it.
    if (encrypted)
        return {FileKind::Protected, {}};
    if (broken)
        return Damaged(QStringLiteral("parts of it do not match their checksums"));

    if (!mimetype.isEmpty()) {
        const bool presentation = mimetype.startsWith("application/vnd.oasis.opendocument.presentation") ||
                                  mimetype.startsWith("application/vnd.sun.xml.impress");
        if (!presentation)
            return {FileKind::NotPresentation, {}};
        // An OpenDocument package is a folder of its own: what lies beside
        // it is named from its parent ("../picture.png"), and the rest are
        // its own parts.
        QStringList links;
        for (const QString& href : content ? content->links() : QStringList()) {
            if (href.startsWith(QLatin1String("../")))
                links << href.mid(3);
            else if (href.contains(QLatin1Char(':')))
                links << href;
        }
        return {FileKind::Presentation,
                {},
                content && !content->broken() ? content->count() : -1,
                links,
                letters.letters()};
    }
    if (slideList)
        return {FileKind::Presentation, {}, slideList->broken() ? -1 : slideList->count(), external, letters.letters()};
    return {FileKind::NotPresentation, {}};
}

} // namespace pradelux::office
