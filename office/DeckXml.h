// What the file check takes from a presentation's XML, read as it is
// unpacked, a piece at a time, by Qt's XML reader: elements and attributes by
// their namespace, whatever prefix the file binds to it; references decoded;
// nothing inside comments or CDATA.
#pragma once

#include "DeckLetters.h"

#include <QByteArrayView>
#include <QList>
#include <QStringList>
#include <QXmlStreamReader>

namespace pradelux::office {

class DeckXml
{
public:
    enum class Part {
        // An OpenDocument presentation's content (content.xml, or a flat
        // .fodp): its pages, and the pictures it links (draw:image's
        // xlink:href).
        Content,
        // ppt/presentation.xml: its slide ids.
        SlideList,
        // A relationships part: the targets of external picture relationships.
        Relationships,
        // Any other part that may print letters (slides, masters, charts).
        Text,
    };
    // letters, when given, gathers the letters of the part.
    explicit DeckXml(Part part, DeckLetters* letters = nullptr);

    void feed(QByteArrayView piece);
    // The elements counted so far: pages or slide ids.
    int count() const { return m_count; }
    // The links found so far, each once, at most kLinksMax.
    const QStringList& links() const { return m_links; }
    // True when the XML is not well formed, or holds a token (a text, a
    // tag) longer than kLongestToken bytes; what came before still counts.
    bool broken() const { return m_broken; }
    static constexpr qint64 kLongestToken = 64 << 20;

private:
    void take();

    Part m_part;
    DeckLetters* m_letters;
    QXmlStreamReader m_reader;
    qint64 m_pending = 0; // bytes given since the last whole token
    // A part read for its letters alone: what came before it may hold one.
    static constexpr qsizetype kHeldMost = 1 << 20;
    QByteArray m_held;
    bool m_reading = false;
    int m_count = 0;
    QStringList m_links;
    bool m_broken = false;
};

// Adds to links each of more it does not hold, up to kLinksMax in all.
void AddLinks(QStringList& links, const QStringList& more);

} // namespace pradelux::office
