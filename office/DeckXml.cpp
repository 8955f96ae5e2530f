// What the file check takes from a presentation's XML.
#include "DeckXml.h"

#include "PresentationFile.h"

#include <QByteArray>

#include <utility>

namespace pradelux::office {

namespace {
// OpenDocument's drawing namespace, and OpenOffice.org 1's before it.
bool isDrawing(QStringView uri)
{
    return uri == u"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" || uri == u"http://openoffice.org/2000/drawing";
}
// PresentationML, transitional and strict.
bool isPresentationMl(QStringView uri)
{
    return uri == u"http://schemas.openxmlformats.org/presentationml/2006/main" ||
           uri == u"http://purl.oclc.org/ooxml/presentationml/main";
}
// PowerPoint's automatic numbers that are digits, Latin letters or Roman
// numerals.
bool numberedInAscii(QStringView type)
{
    for (const char* ascii : {"arabicPeriod", "arabicParen", "arabicPlain", "alpha", "roman"}) {
        if (type.startsWith(QLatin1StringView(ascii)))
            return true;
    }
    return false;
}
constexpr QLatin1StringView kXlink("http://www.w3.org/1999/xlink");
constexpr QStringView kRelationships = u"http://schemas.openxmlformats.org/package/2006/relationships";
} // namespace

void AddLinks(QStringList& links, const QStringList& more)
{
    for (const QString& link : more) {
        if (links.size() < kLinksMax && !links.contains(link))
            links << link;
    }
}

DeckXml::DeckXml(Part part, DeckLetters* letters) : m_part(part), m_letters(letters)
{
    m_reader.setNamespaceProcessing(true);
}

namespace {
// Whether XML may hold a letter beyond ASCII, or what makes letters
// unknown: a byte beyond ASCII, a character reference, PowerPoint's
// automatic numbers, a picture inside the XML.
bool mayHoldLetters(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<uchar>(c) >= 0x80)
            return true;
    }
    return bytes.contains("&#") || bytes.contains("buAutoNum") || bytes.contains("binary-data");
}
} // namespace

void DeckXml::feed(QByteArrayView piece)
{
    if (m_broken)
        return;
    // A part read for its letters alone is read as XML only once it may
    // hold one: most are ASCII throughout, and give none.
    if (m_part == Part::Text && !m_reading) {
        const qsizetype overlap = qMin<qsizetype>(m_held.size(), 16);
        m_held.append(piece.data(), piece.size());
        const QByteArrayView fresh = QByteArrayView(m_held).sliced(m_held.size() - piece.size() - overlap);
        if (!mayHoldLetters(fresh) && m_held.size() < kHeldMost)
            return;
        m_reading = true;
        const QByteArray held = std::exchange(m_held, QByteArray());
        feed(held);
        return;
    }
    m_reader.addData(piece.toByteArray());
    m_pending += piece.size();
    while (!m_reader.atEnd()) {
        const QXmlStreamReader::TokenType token = m_reader.readNext();
        if (token != QXmlStreamReader::Invalid)
            m_pending = 0;
        if (token == QXmlStreamReader::StartElement)
            take();
        else if (token == QXmlStreamReader::Characters && m_letters)
            m_letters->add(m_reader.text());
    }
    // The reader stops where a piece ends and goes on with the next; it
    // holds a token whole, so one that runs on past kLongestToken (a text
    // of hundreds of MiB) ends the reading, as XML that is not well formed
    // does.
    m_broken = (m_reader.hasError() && m_reader.error() != QXmlStreamReader::PrematureEndOfDocumentError) ||
               m_pending > kLongestToken;
    if (m_broken && m_letters)
        m_letters->unknown();
}

void DeckXml::take()
{
    const QStringView uri = m_reader.namespaceUri();
    const QStringView name = m_reader.name();
    const QXmlStreamAttributes attributes = m_reader.attributes();
    if (m_letters) {
        // The names of fonts and shapes print nothing.
        for (const QXmlStreamAttribute& attribute : attributes) {
            const QStringView what = attribute.name();
            if (what != u"typeface" && what != u"name" && !what.contains(u"font"))
                m_letters->add(attribute.value());
        }
        // Pictures kept in the XML itself may be metafiles that draw text;
        // numbering PowerPoint makes of letters it does not hold (Chinese,
        // Hebrew, Thai numbers, digits of full width).
        if (name == u"binary-data" ||
            (name == u"buAutoNum" && !numberedInAscii(attributes.value(QLatin1StringView("type")))))
            m_letters->unknown();
    }
    switch (m_part) {
    case Part::Content:
        if (name == u"page" && isDrawing(uri)) {
            ++m_count;
        } else if (name == u"image" && isDrawing(uri)) {
            const QString href = attributes.value(kXlink, QLatin1StringView("href")).toString();
            if (!href.isEmpty())
                AddLinks(m_links, {href});
        }
        break;
    case Part::SlideList:
        if (name == u"sldId" && isPresentationMl(uri))
            ++m_count;
        break;
    case Part::Text:
        break;
    case Part::Relationships:
        if (name == u"Relationship" && uri == kRelationships &&
            attributes.value(QLatin1StringView("TargetMode")) == u"External" &&
            attributes.value(QLatin1StringView("Type")).endsWith(u"/image")) {
            const QString target = attributes.value(QLatin1StringView("Target")).toString();
            if (!target.isEmpty())
                AddLinks(m_links, {target});
        }
        break;
    }
}

} // namespace pradelux::office
