// The letters a PowerPoint document stream prints, from its records.
#include "PowerPointRecords.h"

#include <QString>

#include <algorithm>
#include <iterator>
#include <set>

namespace pradelux::office {

using ppt::Cursor;
using ppt::each;
using ppt::Record;

namespace {
constexpr quint64 kBlipEntity9 = 0x07F9;
constexpr quint64 kTextHeader = 0x0F9F;
constexpr quint64 kTextChars = 0x0FA0;
constexpr quint64 kStyleTextProp = 0x0FA1;
constexpr quint64 kTextMasterStyle = 0x0FA3;
constexpr quint64 kTextBytes = 0x0FA8;
constexpr quint64 kStyleTextProp9 = 0x0FAC;
constexpr quint64 kTextMasterStyle9 = 0x0FAD;
constexpr quint64 kTextDefaults9 = 0x0FB0;
constexpr quint64 kCString = 0x0FBA;
constexpr quint64 kExOleObjStg = 0x1011;
constexpr quint64 kBinaryTagData = 0x138B;
constexpr quint64 kPersistDirectory = 0x1772;
constexpr quint64 kPictureEntry = 0xF007; // a picture of the drawings' store
constexpr quint64 kShapeOptions[] = {0xF00B, 0xF121, 0xF122};
constexpr quint64 kWordArtText = 0x00C0; // a shape option: the text WordArt draws
constexpr int kDeepest = 32;

// The kinds of picture that hold text of their own: EMF, WMF and PICT.
bool isMetafile(quint64 kind)
{
    return kind >= 2 && kind <= 4;
}
bool isMetafileRecord(quint64 type)
{
    return type >= 0xF01A && type <= 0xF01C;
}

// Walks the records for the letters they print.
class LetterWalk
{
public:
    LetterWalk(const StreamByte& byteAt, DeckLetters& letters) : m_byteAt(byteAt), m_letters(letters) {}

    void stream(quint64 size)
    {
        std::set<quint64> starts;
        std::set<quint64> persisted;
        const bool whole = each(m_byteAt, 0, size, [&](const Record& r) {
            starts.insert(r.at);
            if (r.type == kPersistDirectory)
                persistedOffsets(r, persisted);
            else
                take(r, 0);
        });
        // LibreOffice finds slides, masters and objects by the offsets the
        // persist directory lists: each must be a record that was read.
        for (const quint64 offset : persisted) {
            if (!starts.count(offset))
                m_letters.unknown();
        }
        if (!whole)
            m_letters.unknown();
    }

private:
    void container(const Record& r, int depth)
    {
        if (depth >= kDeepest) {
            m_letters.unknown();
            return;
        }
        // A style's runs cover the text of the atom before it, and one more.
        quint64 textLength = 0;
        const bool whole = each(m_byteAt, r.body(), r.end, [&](const Record& inner) {
            if (inner.type == kTextHeader)
                textLength = 0;
            else if (inner.type == kTextChars)
                textLength = (inner.end - inner.body()) / 2;
            else if (inner.type == kTextBytes)
                textLength = inner.end - inner.body();
            if (inner.type == kStyleTextProp)
                paragraphRuns(inner, textLength);
            else
                take(inner, depth + 1);
        });
        if (!whole)
            m_letters.unknown();
    }

    void take(const Record& r, int depth)
    {
        switch (r.type) {
        case kTextChars:
        case kCString:
            text(r, 2);
            return;
        case kTextBytes:
            text(r, 1);
            return;
        case kTextMasterStyle:
            masterStyles(r);
            return;
        case kStyleTextProp9:
        case kTextMasterStyle9:
        case kTextDefaults9:
            numbering(r);
            return;
        case kExOleObjStg:
            m_letters.unknown();
            return;
        case kPictureEntry: {
            Cursor c(m_byteAt, r.body(), r.end);
            if (isMetafile(r.instance) || isMetafile(c.take(1)) || isMetafile(c.take(1)))
                m_letters.unknown();
            return;
        }
        case kBlipEntity9:
            if (isMetafile(Cursor(m_byteAt, r.body(), r.end).take(1)))
                m_letters.unknown();
            return;
        default:
            break;
        }
        if (isMetafileRecord(r.type)) {
            m_letters.unknown();
        } else if (std::find(std::begin(kShapeOptions), std::end(kShapeOptions), r.type) != std::end(kShapeOptions)) {
            shapeOptions(r);
        } else if (r.version == 0xF || r.type == kBinaryTagData) {
            // Tags of later PowerPoint versions hold records too.
            container(r, depth);
        }
    }

    // UTF-16 (width 2), or one byte a letter of U+0000 to U+00FF (width 1).
    void text(const Record& r, int width)
    {
        QString letters;
        Cursor c(m_byteAt, r.body(), r.end);
        while (!c.atEnd()) {
            const auto unit = static_cast<char16_t>(c.take(width));
            if (unit >= 0x80)
                letters += QChar(unit);
        }
        m_letters.add(letters);
    }

    // A paragraph's formatting; its bullet's letter, when it names one.
    void paragraph(Cursor& c)
    {
        const quint64 mask = c.take(4);
        if (mask & 0x000F)
            c.take(2); // which of the bullet's own properties count
        if (mask & 0x0080) {
            const QChar bullet(static_cast<char16_t>(c.take(2)));
            m_letters.add(QStringView(&bullet, 1));
        }
        for (const quint64 two : {0x0010, 0x0040})
            c.skip(mask & two ? 2 : 0); // the bullet's font, its size
        c.skip(mask & 0x0020 ? 4 : 0);  // its colour
        // Alignment, line spacing, space before and after, margin, indent,
        // the tabs' default width.
        for (const quint64 two : {0x0800, 0x1000, 0x2000, 0x4000, 0x0100, 0x0400, 0x8000})
            c.skip(mask & two ? 2 : 0);
        if (mask & 0x100000)
            c.skip(4 * c.take(2)); // tab stops
        c.skip(mask & 0x10000 ? 2 : 0);  // font alignment
        c.skip(mask & 0xE0000 ? 2 : 0);  // wrapping
        c.skip(mask & 0x200000 ? 2 : 0); // direction
    }
    // A run's character formatting, which holds no letters.
    static void character(Cursor& c)
    {
        const quint64 mask = c.take(4);
        c.skip(mask & 0xFFFF ? 2 : 0); // bold, italic and the like
        for (const quint64 two : {0x10000, 0x200000, 0x400000, 0x800000, 0x20000})
            c.skip(mask & two ? 2 : 0); // fonts, size
        c.skip(mask & 0x40000 ? 4 : 0); // colour
        c.skip(mask & 0x80000 ? 2 : 0); // position
    }

    // A text's paragraph runs (each a count of characters, a level and a
    // paragraph's formatting), which cover its length and one more.
    void paragraphRuns(const Record& r, quint64 textLength)
    {
        Cursor c(m_byteAt, r.body(), r.end);
        for (quint64 covered = 0; covered <= textLength && c.ok();) {
            covered += c.take(4);
            c.take(2);
            paragraph(c);
        }
        if (!c.ok())
            m_letters.unknown();
    }

    // The master's styles of one kind of text: a paragraph's and a
    // character's formatting for each of up to five levels.
    void masterStyles(const Record& r)
    {
        Cursor c(m_byteAt, r.body(), r.end);
        const quint64 levels = c.take(2);
        for (quint64 level = 0; level < levels && level < 5; ++level) {
            if (r.instance >= 5)
                c.take(2);
            paragraph(c);
            character(c);
        }
        if (!c.ok() || levels > 5)
            m_letters.unknown();
    }

    // PowerPoint 2000's additions to paragraphs, in three records: the
    // automatic numbers they are numbered with. Numbers other than digits,
    // Latin letters and Roman numerals (Chinese, Hebrew, Thai, circled)
    // print letters the file does not hold.
    void numbering(const Record& r)
    {
        Cursor c(m_byteAt, r.body(), r.end);
        bool ascii = true;
        const auto paragraph9 = [&] {
            const quint64 mask = c.take(4);
            c.skip(mask & 0x800000 ? 2 : 0);  // a picture as the bullet
            c.skip(mask & 0x2000000 ? 2 : 0); // whether it is numbered
            if (mask & 0x1000000) {
                ascii = ascii && c.take(2) <= 0x000F;
                c.take(2); // the first number
            }
        };
        const auto character9 = [&] { c.skip(c.take(4) & 0x100000 ? 4 : 0); };
        if (r.type == kStyleTextProp9) {
            while (!c.atEnd()) {
                paragraph9();
                character9();
                // Spelling, languages, direction, later additions, smart tags.
                const quint64 mask = c.take(4);
                for (const quint64 two : {0x1, 0x2, 0x4, 0x40})
                    c.skip(mask & two ? 2 : 0);
                c.skip(mask & 0x20 ? 4 : 0);
                if (mask & 0x200)
                    c.skip(4 * c.take(4));
            }
        } else if (r.type == kTextDefaults9) {
            character9();
            paragraph9();
        } else {
            const quint64 levels = c.take(2);
            for (quint64 level = 0; level < levels && level < 5; ++level) {
                if (r.instance >= 5)
                    c.take(2);
                paragraph9();
                character9();
            }
            ascii = ascii && levels <= 5;
        }
        if (!c.ok() || !ascii)
            m_letters.unknown();
    }

    // A shape's options: WordArt draws text that no text record holds.
    void shapeOptions(const Record& r)
    {
        Cursor c(m_byteAt, r.body(), r.end);
        for (quint64 i = 0; i < r.instance && c.ok(); ++i) {
            if ((c.take(2) & 0x3FFF) == kWordArtText)
                m_letters.unknown();
            c.take(4);
        }
        if (!c.ok())
            m_letters.unknown();
    }

    // The persist directory: runs of offsets, each run after a word that
    // holds its first identifier (20 bits) and its length (12 bits).
    void persistedOffsets(const Record& r, std::set<quint64>& offsets)
    {
        Cursor c(m_byteAt, r.body(), r.end);
        while (!c.atEnd()) {
            const quint64 run = c.take(4) >> 20;
            for (quint64 i = 0; i < run && c.ok(); ++i)
                offsets.insert(c.take(4));
        }
        if (!c.ok())
            m_letters.unknown();
    }

    const StreamByte& m_byteAt;
    DeckLetters& m_letters;
};
} // namespace

void GatherPptLetters(const StreamByte& byteAt, quint64 size, DeckLetters& letters)
{
    LetterWalk(byteAt, letters).stream(size);
}

} // namespace pradelux::office
