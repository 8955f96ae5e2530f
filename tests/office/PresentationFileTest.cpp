// The slides that the check of a presentation file counts from the file's own
// list of them, read in pieces.
#include "PresentationFile.h"

#include <gtest/gtest.h>

using namespace pradelux::office;

namespace {
QByteArray flat(const QByteArray& body)
{
    return "<?xml version=\"1.0\"?>\n<office:document office:mimetype=\"application/vnd.oasis.opendocument."
           "presentation\"><office:body><office:presentation>" +
           body + "</office:presentation></office:body></office:document>\n";
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
