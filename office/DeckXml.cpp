// What the file check takes from a presentation's XML.
#include "DeckXml.h"

#include "PresentationFile.h"

#include <QByteArray>

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

DeckXml::DeckXml(Part part) : m_part(part)
{
    m_reader.setNamespaceProcessing(true);
}

void DeckXml::feed(QByteArrayView piece)
{
    if (m_broken)
        return;
    m_reader.addData(piece.toByteArray());
    while (!m_reader.atEnd()) {
        if (m_reader.readNext() == QXmlStreamReader::StartElement)
            take();
    }
    // The reader stops where a piece ends and goes on with the next.
    m_broken = m_reader.hasError() && m_reader.error() != QXmlStreamReader::PrematureEndOfDocumentError;
}

void DeckXml::take()
{
    const QStringView uri = m_reader.namespaceUri();
    const QStringView name = m_reader.name();
    const QXmlStreamAttributes attributes = m_reader.attributes();
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
