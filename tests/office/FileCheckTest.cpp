// What the file check says of packages made for each verdict, and the
// process it runs in, which a check that reaches for anything but its file
// does not survive.
#include "PresentationFile.h"

#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pradelux::office;

namespace {
QByteArray le(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
    return out;
}

quint32 crc32Of(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : data) {
        crc ^= static_cast<uchar>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

struct Part
{
    QByteArray name;
    QByteArray data;
    bool deflated = false; // as one stored block of deflate, which needs no compressor
};

enum class Fault { None, WrongCrc, SecondPartOverFirst, Zip64 };

QByteArray zipOf(const QList<Part>& parts, Fault fault = Fault::None)
{
    QByteArray body;
    QByteArray directory;
    QList<qint64> offsets;
    for (const Part& p : parts) {
        const QByteArray packed =
            p.deflated ? "\x01" + le(p.data.size(), 2) + le(~p.data.size() & 0xFFFF, 2) + p.data : p.data;
        const quint32 crc = crc32Of(p.data) ^ (fault == Fault::WrongCrc ? 1 : 0);
        const QByteArray sizes = le(crc, 4) + le(packed.size(), 4) + le(p.data.size(), 4) + le(p.name.size(), 2);
        const qint64 offset = fault == Fault::SecondPartOverFirst && !offsets.isEmpty() ? offsets[0] : body.size();
        offsets << offset;
        body += le(0x04034b50, 4) + le(20, 2) + le(0, 2) + le(p.deflated ? 8 : 0, 2) + le(0, 4) + sizes + le(0, 2) +
                p.name + packed;
        directory += le(0x02014b50, 4) + le(20, 2) + le(20, 2) + le(0, 2) + le(p.deflated ? 8 : 0, 2) + le(0, 4) +
                     sizes + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(offset, 4) + p.name;
    }
    const qint64 at = body.size();
    QByteArray tail;
    if (fault == Fault::Zip64) {
        const qint64 record = at + directory.size();
        tail = le(0x06064b50, 4) + le(44, 8) + le(45, 2) + le(45, 2) + le(0, 8) + le(parts.size(), 8) +
               le(parts.size(), 8) + le(directory.size(), 8) + le(at, 8) + le(0x07064b50, 4) + le(0, 4) +
               le(record, 8) + le(1, 4) + le(0x06054b50, 4) + le(0, 4) + le(0xFFFF, 2) + le(0xFFFF, 2) +
               le(0xFFFFFFFF, 4) + le(0xFFFFFFFF, 4) + le(0, 2);
    } else {
        tail = le(0x06054b50, 4) + le(0, 4) + le(parts.size(), 2) + le(parts.size(), 2) + le(directory.size(), 4) +
               le(at, 4) + le(0, 2);
    }
    return body + directory + tail;
}

const QByteArray kOdfNamespaces = "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                                  "xmlns:xlink=\"http://www.w3.org/1999/xlink\"";

QByteArray odp(const QByteArray& presentation, bool encrypted = false)
{
    QList<Part> parts{{"mimetype", "application/vnd.oasis.opendocument.presentation"},
                      {"content.xml",
                       "<?xml version=\"1.0\"?><office:document-content " + kOdfNamespaces +
                           "><office:body><office:presentation>" + presentation +
                           "</office:presentation></office:body></office:document-content>",
                       true}};
    if (encrypted)
        parts << Part{"META-INF/manifest.xml", "<manifest><file-entry><encryption-data/></file-entry></manifest>",
                      true};
    return zipOf(parts);
}

QByteArray pptx(const QByteArray& prefix, const QByteArray& uri, int slides, Fault fault = Fault::None)
{
    QByteArray ids;
    for (int i = 0; i < slides; ++i)
        ids += "<" + prefix + "sldId id=\"" + QByteArray::number(256 + i) + "\"/>";
    const QByteArray colon = prefix.isEmpty() ? "" : ":" + prefix.chopped(1);
    return zipOf({{"ppt/presentation.xml",
                   "<?xml version=\"1.0\"?><" + prefix + "presentation xmlns" + colon + "=\"" + uri + "\"><" + prefix +
                       "sldIdLst>" + ids + "</" + prefix + "sldIdLst></" + prefix + "presentation>",
                   true},
                  {"ppt/slides/_rels/slide1.xml.rels",
                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                   "<Relationship Id=\"r1\" TargetMode=\"External\" Type=\"http://x/image\" Target=\"&#x2e;&#x2e;/"
                   "far.png\"/><Relationship Id=\"r2\" Target=\"in.png\" Type=\"http://x/image\"/></Relationships>"}},
                 fault);
}

const QByteArray kTransitional = "http://schemas.openxmlformats.org/presentationml/2006/main";

QByteArray protectedPptxBytes()
{
    QFile file(QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/protected.pptx"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
const QByteArray kDrawing = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";

QByteArray utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}
// A record of a PowerPoint document stream; a container of records when its
// version is 0xF.
QByteArray record(int type, const QByteArray& body, int instance = 0, int version = 0)
{
    return le(version | instance << 4, 2) + le(type, 2) + le(body.size(), 4) + body;
}
QByteArray container(int type, const QByteArray& records)
{
    return record(type, records, 0, 0xF);
}
// A compound file that holds a PowerPoint document stream of these records,
// padded with empty records to the 4096 bytes below which it would be kept
// in the mini stream: a header, the allocation table, the directory, the
// stream.
QByteArray pptOf(QByteArray stream)
{
    stream += QByteArray(std::max<qsizetype>(0, 4096 - stream.size()), '\0');
    const qsizetype sectors = (stream.size() + 511) / 512;
    QByteArray header = QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(16, '\0') + le(0x3E, 2) + le(3, 2) +
                        le(0xFFFE, 2) + le(9, 2) + le(6, 2) + QByteArray(10, '\0') + le(1, 4) + le(1, 4) + le(0, 4) +
                        le(4096, 4) + le(0xFFFFFFFE, 4) + le(0, 4) + le(0xFFFFFFFE, 4) + le(0, 4) + le(0, 4);
    while (header.size() < 512)
        header += le(0xFFFFFFFF, 4);
    QByteArray fat = le(0xFFFFFFFD, 4) + le(0xFFFFFFFE, 4);
    for (qsizetype i = 1; i < sectors; ++i)
        fat += le(2 + i, 4);
    fat += le(0xFFFFFFFE, 4);
    while (fat.size() < 512)
        fat += le(0xFFFFFFFF, 4);
    const auto entry = [](const QString& name, int type, qsizetype start, qsizetype size, int child) {
        QByteArray e = utf16(name);
        e.resize(64, '\0');
        return e + le((name.size() + 1) * 2, 2) + le(type, 1) + le(1, 1) + le(~quint64(0), 8) + le(child, 4) +
               QByteArray(36, '\0') + le(start, 4) + le(size, 4) + le(0, 4);
    };
    QByteArray directory = entry("Root Entry", 5, 0xFFFFFFFE, 0, 1) + entry("PowerPoint Document", 2, 2, stream.size(), -1);
    directory.resize(512, '\0');
    stream.resize(sectors * 512, '\0');
    return header + fat + directory + stream;
}
} // namespace

// Each verdict, from packages made for it: slides counted by their
// namespace, whatever the prefix; links with references decoded; pages in
// comments and CDATA not counted; and the faults a package can have.
TEST(FileCheck, PackagesGetTheVerdictTheirBytesEarn)
{
    const QByteArray page = "<d:page xmlns:d=\"" + kDrawing + "\"/>";
    const QByteArray far = "<d:image xmlns:d=\"" + kDrawing + "\" xlink:href=\"&#x2e;&#x2e;/p&#105;c.png\"/>";
    const QByteArray good = odp(page + page);
    const struct
    {
        const char* what;
        QByteArray bytes;
        FileKind::Verdict verdict;
        int slides;
        QString why = {};
        QStringList links = {};
    } cases[] = {
        {"the drawing namespace under another prefix", good, FileKind::Presentation, 2},
        {"a picture beside it named by character references",
         odp(page + far),
         FileKind::Presentation,
         1,
         {},
         {"pic.png"}},
        {"pages in a comment and in CDATA", odp(page + "<!-- <draw:page/> --><![CDATA[<draw:page/>]]>"),
         FileKind::Presentation, 1},
        {"a page in an unknown namespace", odp(page + "<d:page xmlns:d=\"urn:elsewhere\"/>"), FileKind::Presentation,
         1},
        {"XML that breaks off into nonsense", odp(page + "<d:page </>"), FileKind::Presentation, -1},
        {"slide ids, transitional", pptx("p:", kTransitional, 3), FileKind::Presentation, 3, {}, {"../far.png"}},
        {"slide ids in the default namespace",
         pptx("", kTransitional, 2),
         FileKind::Presentation,
         2,
         {},
         {"../far.png"}},
        {"slide ids, strict",
         pptx("x:", "http://purl.oclc.org/ooxml/presentationml/main", 4),
         FileKind::Presentation,
         4,
         {},
         {"../far.png"}},
        {"slide ids of another namespace",
         pptx("p:", "urn:elsewhere", 3),
         FileKind::Presentation,
         0,
         {},
         {"../far.png"}},
        {"zip64", pptx("p:", kTransitional, 5, Fault::Zip64), FileKind::Presentation, 5, {}, {"../far.png"}},
        {"a part whose checksum is wrong", pptx("p:", kTransitional, 1, Fault::WrongCrc), FileKind::Damaged, -1,
         "parts of it do not match their checksums"},
        {"two parts in the same bytes", pptx("p:", kTransitional, 1, Fault::SecondPartOverFirst), FileKind::Damaged, -1,
         "the part \"ppt/presentation.xml\" and the part \"ppt/slides/_rels/slide1.xml.rels\" overlap"},
        {"cut short", good.first(good.size() - 30), FileKind::Damaged, -1, "it is cut short"},
        {"an encrypted OpenDocument package", odp(page, true), FileKind::Protected, -1},
        {"a compound file that holds an encrypted package", protectedPptxBytes(), FileKind::Protected, -1},
        {"a text document", zipOf({{"mimetype", "application/vnd.oasis.opendocument.text"}}), FileKind::NotPresentation,
         -1},
    };
    for (const auto& c : cases) {
        const FileKind kind = InspectPresentationData(c.bytes, 1 << 20);
        EXPECT_EQ(kind.verdict, c.verdict) << c.what;
        EXPECT_EQ(kind.slides, c.slides) << c.what;
        EXPECT_EQ(kind.why, c.why) << c.what;
        EXPECT_EQ(kind.links, c.links) << c.what;
    }
    EXPECT_EQ(InspectPresentationData(good, 100).why, "it unpacks to more than 0 MiB");
}

namespace {
FileKind opensAFile(int, qint64)
{
    const int fd = ::open("/etc/hostname", O_RDONLY | O_CLOEXEC);
    return {FileKind::Presentation, QString::number(fd)};
}
FileKind opensASocket(int, qint64)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return {FileKind::Presentation, QString::number(fd)};
}
// A build with the address sanitizer lets every process write anywhere:
// its check of memory writes to a pipe of its own.
#ifndef __SANITIZE_ADDRESS__
FileKind writesToTheTerminal(int, qint64)
{
    (void)!::write(STDOUT_FILENO, "x", 1);
    return {FileKind::Presentation, {}};
}
#endif
FileKind readsAnotherDescriptor(int, qint64)
{
    struct stat st;
    return {::fstat(STDERR_FILENO, &st) == 0 ? FileKind::Presentation : FileKind::NotRegular, {}};
}
} // namespace

// The check runs where it may read its file and write its answer and
// nothing else: the real check of a real package gets its answer out; one
// that opens a file or a socket, or writes or looks elsewhere, is killed
// before it can, and the file is one that could not be read.
TEST(FileCheck, RunsWhereReachingForAnythingButItsFileKillsIt)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(pptx("p:", kTransitional, 3));
    file.flush();
    const FileKind real = InspectPresentationApart(file.handle(), 1 << 20, 20000);
    EXPECT_EQ(real.verdict, FileKind::Presentation);
    EXPECT_EQ(real.slides, 3);
    EXPECT_EQ(real.links, QStringList{"../far.png"});
    std::vector<FileCheck> trespassers{opensAFile, opensASocket, readsAnotherDescriptor};
#ifndef __SANITIZE_ADDRESS__
    trespassers.push_back(writesToTheTerminal);
#endif
    for (const FileCheck check : trespassers) {
        const FileKind kind = InspectPresentationApart(file.handle(), 1 << 20, 20000, check);
        EXPECT_EQ(kind.verdict, FileKind::Damaged) << kind.why.toStdString();
        EXPECT_EQ(kind.why, "it could not be read to the end");
    }
}

// The letters beyond ASCII a deck prints are known only when every part
// that can print them was read: text and bullets count, fonts' names and
// themes do not; a metafile, a picture inside the XML, an embedded object,
// WordArt or numbers in other letters leave them unknown, in packages and in
// .ppt records alike. They cross from the check's process whole.
TEST(FileCheck, TheLettersOfADeckAreKnownOnlyWhenEveryPartThatPrintsWasRead)
{
    const QByteArray a = "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"";
    const auto withParts = [&](const QList<Part>& more) {
        QList<Part> parts{{"ppt/presentation.xml", "<p:presentation xmlns:p=\"" + kTransitional +
                                                       "\"><p:sldIdLst><p:sldId/></p:sldIdLst></p:presentation>"},
                          {"ppt/theme/theme1.xml", "<a:theme " + a +
                                                       "><a:font script=\"Hans\" typeface=\"宋体\"/>"
                                                       "<a:t>見出し</a:t></a:theme>"},
                          {"ppt/slides/slide1.xml", "<a:sld " + a +
                                                        "><a:latin typeface=\"ＭＳ Ｐゴシック\"/>"
                                                        "<a:buChar char=\"•\"/><a:t>Ελλάδα</a:t></a:sld>"}};
        return zipOf(parts + more);
    };
    const QByteArray greek = "•Ελλάδα";
    QList<char32_t> greekLetters;
    for (const uint c : QString::fromUtf8(greek).toUcs4())
        greekLetters << c;
    std::sort(greekLetters.begin(), greekLetters.end());
    greekLetters.erase(std::unique(greekLetters.begin(), greekLetters.end()), greekLetters.end());
    const struct
    {
        const char* what;
        QByteArray bytes;
        std::optional<QList<char32_t>> letters;
    } cases[] = {
        {"slides, bullets, a theme and a font's name", withParts({}), greekLetters},
        {"an ASCII deck", pptx("p:", kTransitional, 1), QList<char32_t>{}},
        {"a metafile", withParts({{"ppt/media/image1.emf", "EMF"}}), std::nullopt},
        {"Chinese numbers",
         withParts({{"ppt/slides/slide2.xml", "<a:sld " + a + "><a:buAutoNum type=\"ea1ChsPeriod\"/></a:sld>"}}),
         std::nullopt},
        {"a picture inside the XML",
         odp("<d:page xmlns:d=\"" + kDrawing + "\"><office:binary-data>AAAA</office:binary-data></d:page>"),
         std::nullopt},
        {"a compound file", protectedPptxBytes(), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InspectPresentationData(c.bytes, 1 << 20).letters, c.letters) << c.what;

    // A .ppt's: a master's bullet, a slide's text in UTF-16 and in bytes,
    // the bullet of its paragraph style, numbers in digits.
    const QString text = QStringLiteral("Ελλάδα \U00018B00");
    const auto paragraph = [](char16_t bullet) { return le(0x80, 4) + le(bullet, 2); };
    const QByteArray slides =
        container(0x03E8, record(0x0FA3, le(1, 2) + paragraph(u'•') + le(0, 4), 1) +
                              container(0x0FF0, record(0x03F3, QByteArray(20, '\0')))) +
        container(0x03EE, container(0xF00D, record(0x0F9F, le(1, 4)) + record(0x0FA0, utf16(text)) +
                                                record(0x0FA1, le(text.size() + 1, 4) + le(0, 2) + paragraph(u'–')) +
                                                record(0x0FA8, "caf\xE9"))) +
        record(0x0FAC, le(0x1000000, 4) + le(3, 2) + le(1, 2) + le(0, 4) + le(0, 4));
    QList<char32_t> pptLetters;
    for (const uint c : (text + QStringLiteral("•–é")).toUcs4())
        pptLetters << c;
    pptLetters.removeAll(U' ');
    std::sort(pptLetters.begin(), pptLetters.end());
    pptLetters.erase(std::unique(pptLetters.begin(), pptLetters.end()), pptLetters.end());
    EXPECT_EQ(InspectPresentationData(pptOf(slides), 1 << 20).slides, 1);
    const struct
    {
        const char* what;
        QByteArray more;
        std::optional<QList<char32_t>> letters;
    } ppts[] = {
        {"text, bullets and numbers in digits", {}, pptLetters},
        {"an embedded object", record(0x1011, "x"), std::nullopt},
        {"a metafile in the drawings' store", container(0xF001, record(0xF007, le(3, 1) + QByteArray(35, '\0'), 3, 2)),
         std::nullopt},
        {"WordArt", record(0xF00B, le(0xC0, 2) + le(0, 4), 1, 3), std::nullopt},
        {"Chinese numbers", record(0x0FAC, le(0x1000000, 4) + le(0x11, 2) + le(1, 2) + le(0, 4) + le(0, 4)),
         std::nullopt},
        {"paragraph runs shorter than their text",
         container(0x03EE, record(0x0FA0, utf16("abc")) + record(0x0FA1, le(1, 4) + le(0, 2) + le(0, 4))),
         std::nullopt},
        {"a slide found inside another record", record(0x1772, le(1 << 20 | 1, 4) + le(3, 4)), std::nullopt},
    };
    for (const auto& c : ppts)
        EXPECT_EQ(InspectPresentationData(pptOf(slides + c.more), 1 << 20).letters, c.letters) << c.what;

    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(withParts({}));
    file.flush();
    EXPECT_EQ(InspectPresentationApart(file.handle(), 1 << 20, 20000).letters, greekLetters);
}
