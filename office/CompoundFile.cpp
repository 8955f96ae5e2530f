// Compound files: PowerPoint 97-2003 presentations (.ppt).
#include "FileFormats.h"

namespace pradelux::office {

namespace {
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

} // namespace

FileKind InspectCompound(Bytes& b)
{
    const int shift = static_cast<int>(b.le(30, 2));
    if (shift != 9 && shift != 12)
        return Damaged(QStringLiteral("its header is damaged"));
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
            return Damaged(QStringLiteral("it is cut short"));
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
        return Damaged(QStringLiteral("it is cut short"));
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
            return Damaged(QStringLiteral("it is cut short"));
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

} // namespace pradelux::office
