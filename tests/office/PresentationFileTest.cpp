// The slides that the check of a presentation file counts from the file's own
// list of them, read in pieces.
#include "PresentationFile.h"

#include <gtest/gtest.h>

using namespace pradelux::office;

namespace {
const QByteArray kNamespaces = "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                               "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
                               "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
                               "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
                               "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                               "xmlns:xlink=\"http://www.w3.org/1999/xlink\"";

QByteArray flat(const QByteArray& body)
{
    return "<?xml version=\"1.0\"?>\n<office:document office:mimetype=\"application/vnd.oasis.opendocument."
           "presentation\" " +
           kNamespaces + "><office:body><office:presentation>" + body +
           "</office:presentation></office:body></office:document>\n";
}
} // namespace

TEST(PresentationFile, SlidesAreCountedByTheirElementsAloneWhereverAPieceOfTheFileEnds)
{
    const QByteArray page = "<draw:page draw:name=\"s\"></draw:page>";
    // Names that only look alike: another element, another prefix, an end
    // tag, text.
    const struct
    {
        QByteArray body;
        int slides;
    } cases[] = {
        {page + page + page, 3},
        {"<draw:page>x</draw:page><draw:page\n/><draw:page/>", 3},
        {page + "<draw:page-thumbnail/><draw:pages/><style:page/><presentation:notes/>draw:page <draw:pagex/>", 1},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InspectPresentationData(flat(c.body), 1 << 20).slides, c.slides) << c.body.toStdString();

    // The file is read a MiB at a time: a name cut by a piece's end counts
    // once, from its first character's place to its last.
    const qint64 piece = 1 << 20;
    for (qsizetype before = -12; before <= 1; ++before) {
        const qint64 head = flat({}).indexOf("</office:presentation>");
        // The second page's "<" stands before bytes from the piece's end.
        const QByteArray body =
            page + "<!--" + QByteArray(piece + before - head - page.size() - 7, 'x') + "-->" + page + page;
        ASSERT_EQ(flat(body).indexOf(page, head + 1), piece + before);
        const FileKind kind = InspectPresentationData(flat(body), 1 << 20);
        EXPECT_EQ(kind.verdict, FileKind::Presentation);
        EXPECT_EQ(kind.slides, 3) << "a page " << before << " bytes from the end of the first piece";
    }
}

namespace {
// A zip package whose table of contents lists one part, name, whose header
// is not where the table says.
QByteArray zipMissing(const QByteArray& name)
{
    const auto le = [](quint64 value, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out += char((value >> (8 * i)) & 0xFF);
        return out;
    };
    const QByteArray head = QByteArray("PK\x03\x04", 4) + QByteArray(8, '\0');
    const QByteArray entry =
        le(0x02014b50, 4) + QByteArray(24, '\0') + le(name.size(), 2) + QByteArray(12, '\0') + le(4, 4) + name;
    return head + entry + le(0x06054b50, 4) + le(0, 4) + le(1, 2) + le(1, 2) + le(entry.size(), 4) +
           le(head.size(), 4) + le(0, 2);
}
} // namespace

// A damaged package's message names its parts quoted, and one with no name
// as such.
TEST(PresentationFile, DamagedPartsAreNamedInQuotesAndOneWithNoNameAsSuch)
{
    const struct
    {
        QByteArray name;
        QString why;
    } cases[] = {
        {"", "a part with no name is missing"},
        {"ppt/slides/slide 1.xml", "the part \"ppt/slides/slide 1.xml\" is missing"},
    };
    for (const auto& c : cases) {
        const FileKind kind = InspectPresentationData(zipMissing(c.name), 1 << 20);
        EXPECT_EQ(kind.verdict, FileKind::Damaged);
        EXPECT_EQ(kind.why, c.why);
    }
}

// The files a presentation links to are found in its own words, and only the
// local ones below its folder are kept.
TEST(PresentationFile, LinkedPicturesAreFoundAndOnlyLocalOnesBelowTheFolderKept)
{
    const QByteArray image = "<draw:frame><draw:image xlink:href=\"%1\" xlink:type=\"simple\"/></draw:frame>";
    QByteArray body = "<draw:page>";
    for (const char* href : {"beside.png", "sub/a%20b.png", "file:///talks/abs.png", "file:///elsewhere/x.png",
                             "https://example.org/x.png", "../up.png", "#Slide 2", "a &amp; b.png"})
        body += QByteArray(image).replace("%1", href);
    body += "<draw:image\nxlink:href='single.png'/><draw:image xlink:href=\"sub&#x2f;by&#46;number.png\"/>";
    // Links that are no pictures: a hyperlink, a sound, an object.
    body += "<text:a xlink:href=\"notes.txt\"/><presentation:sound xlink:href=\"talk.wav\"/>"
            "<draw:object xlink:href=\"board.odp\"/></draw:page>";
    const FileKind kind = InspectPresentationData(flat(body), 1 << 20);
    EXPECT_EQ(kind.links.size(), 10);
    EXPECT_EQ(LocalLinks(kind.links, QStringLiteral("/talks")),
              QStringList({"beside.png", "sub/a b.png", "abs.png", "a & b.png", "single.png", "sub/by.number.png"}));
}
