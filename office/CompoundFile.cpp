// Compound files: PowerPoint 97-2003 presentations (.ppt).
#include "FileFormats.h"
#include "PowerPointRecords.h"

namespace pradelux::office {

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
        const StreamByte byteAt = [&](quint64 at) -> quint64 {
            return at < streamSize ? b.le(offsetOf(sectorsOfStream[static_cast<qsizetype>(at >> shift)]) +
                                              static_cast<qint64>(at & quint64(sectorSize - 1)),
                                          1)
                                   : 0;
        };
        DeckLetters letters;
        GatherPptLetters(byteAt, streamSize, letters);
        return {FileKind::Presentation, {}, PptSlides(byteAt, streamSize), {}, letters.letters()};
    }
    // A stream this small lives in the mini stream, which is not read here.
    return {FileKind::Presentation, {}};
}

} // namespace pradelux::office
