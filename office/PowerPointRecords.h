// What the file check takes from the records of a PowerPoint 97-2003
// document stream (.ppt): its slides and the letters it prints.
#pragma once

#include "DeckLetters.h"

#include <QtGlobal>

#include <functional>

namespace pradelux::office {

// The byte of the stream at an offset; 0 past its end.
using StreamByte = std::function<quint64(quint64)>;

// How the records are read, for the readers of the stream alone.
namespace ppt {
// Each record starts with a header of eight bytes: a version (4 bits; 0xF for
// a container of further records), an instance (12 bits), a type (16 bits)
// and the length of what follows.
struct Record
{
    quint64 at = 0;
    quint64 version = 0;
    quint64 instance = 0;
    quint64 type = 0;
    quint64 end = 0; // past its last byte
    quint64 body() const { return at + 8; }
};

// Little-endian values one after the other in [at, end). Once one runs past
// the end, every read gives 0 and ok() is false.
class Cursor
{
public:
    Cursor(const StreamByte& byteAt, quint64 at, quint64 end) : m_byteAt(byteAt), m_at(at), m_end(end) {}
    quint64 take(int n)
    {
        skip(quint64(n));
        quint64 v = 0;
        for (int i = n - 1; m_ok && i >= 0; --i)
            v = (v << 8) | m_byteAt(m_at - quint64(n) + quint64(i));
        return v;
    }
    void skip(quint64 n)
    {
        if (m_end - m_at < n)
            m_ok = false;
        else if (m_ok)
            m_at += n;
    }
    bool ok() const { return m_ok; }
    bool atEnd() const { return !m_ok || m_at >= m_end; }

private:
    const StreamByte& m_byteAt;
    quint64 m_at;
    quint64 m_end;
    bool m_ok = true;
};

// The records from..to, one after the other; false when one overruns. Bytes
// too few for a header may follow the last (they hold nothing).
template <typename Take> bool each(const StreamByte& byteAt, quint64 from, quint64 to, Take take)
{
    for (quint64 at = from; to - at >= 8;) {
        Cursor head(byteAt, at, to);
        const quint64 first = head.take(2);
        Record r{at, first & 0xF, first >> 4, head.take(2), 0};
        const quint64 length = head.take(4);
        if (!head.ok() || length > to - at - 8)
            return false;
        r.end = at + 8 + length;
        take(r);
        at = r.end;
    }
    return true;
}
} // namespace ppt

// The slides of the document: the slide persist atoms in its list of slides.
// -1 when the records do not nest as they should, when the list is not there
// once, or when the stream holds more than one document (saved by fast save).
int PptSlides(const StreamByte& byteAt, quint64 size);

// Gathers into letters what the stream prints beyond ASCII: its text (of
// slides, masters, notes, headers and footers, names), and the bullets of its
// paragraph styles. Leaves them unknown for what draws letters the records
// do not hold (an embedded object, a metafile, WordArt, numbers in letters
// other than ASCII) and for records that cannot be read.
void GatherPptLetters(const StreamByte& byteAt, quint64 size, DeckLetters& letters);

} // namespace pradelux::office
