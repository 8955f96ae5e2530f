// What the outside takes back from a rendering, as a LibreOffice taken over
// would leave it: links, pipes, other names of outside files, floods beside
// the PDF, a PDF cut short, a counter that lies, a PDF changed after its check.
#include "TakenBack.h"
#include "Failure.h"
#include "Files.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace pradelux;
using namespace pradelux::render::client;

namespace {

const QString kCounter = QStringLiteral(PRADELUX_APPFOLDER "/pradelux-pages");

QByteArray pdfOf(int pages)
{
    QByteArray kids, objects;
    for (int i = 0; i < pages; ++i) {
        kids += QByteArray::number(i + 3) + " 0 R ";
        objects += QByteArray::number(i + 3) + " 0 obj <</Type /Page /Parent 2 0 R /MediaBox [0 0 9 9]>> endobj\n";
    }
    return "%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n2 0 obj <</Type /Pages /Kids [" + kids +
           "] /Count " + QByteArray::number(pages) + ">> endobj\n" + objects + "trailer <</Root 1 0 R>>\n%%EOF\n";
}

TEST(TakenBackTest, OnlyTheBytesOfAWholePdfOfTheRenderersOwnAreTakenAndCountedOutside)
{
    test::TempConfig dir;
    const test::ScopedEnv limit("PRADELUX_RENDER_PDF_LIMIT", "10");
    const QString folder = dir.path(QStringLiteral("job"));
    const QString pdf = folder + QStringLiteral("/deck.pdf");
    const QString secret = dir.path(QStringLiteral("id_ed25519"));
    const QString liar = dir.path(QStringLiteral("liar"));
    const auto whole = [&] { test::writeFile(pdf, {}, pdfOf(2)); };
    const struct
    {
        const char* what;
        std::function<void()> leave; // what the inside leaves in the folder
        QString name;                // the PDF's name, empty: the one there is
        QString counter;
        QString why; // empty: taken, with two pages
    } cases[] = {
        {"a whole PDF", whole, "deck.pdf", kCounter, {}},
        {"the one PDF there is", whole, {}, kCounter, {}},
        {"a link to a secret", [&] { QFile::link(secret, pdf); }, "deck.pdf", kCounter, "damaged"},
        {"another name of a file outside", [&] { ::link(QFile::encodeName(secret), QFile::encodeName(pdf)); },
         "deck.pdf", kCounter, "damaged"},
        {"a pipe", [&] { ::mkfifo(QFile::encodeName(pdf).constData(), 0600); }, "deck.pdf", kCounter, "damaged"},
        {"two PDFs",
         [&] {
             whole();
             test::writeFile(folder + "/b.pdf", {}, pdfOf(2));
         },
         {},
         kCounter,
         "damaged"},
        {"11 MiB under another name in a subfolder",
         [&] {
             whole();
             test::writeFile(folder + "/sub/.hidden", {}, QByteArray(11 << 20, 'x'));
         },
         "deck.pdf", kCounter, "larger than 10 MiB"},
        {"a PDF cut short", [&] { test::writeFile(pdf, {}, pdfOf(2).left(60)); }, "deck.pdf", kCounter, "incomplete"},
        {"a counter that says more than a page count", whole, "deck.pdf", liar, "incomplete"},
    };
    test::writeFile(liar, QFileDevice::ReadOwner | QFileDevice::ExeOwner, "#!/bin/sh\necho pages 2147483647\n");
    for (const auto& c : cases) {
        test::writeFile(secret, {}, "secret");
        RemoveTree(folder);
        QDir().mkpath(folder);
        c.leave();
        // The inside holds the PDF open, to change it once it was checked.
        const int inside = ::open(QFile::encodeName(pdf).constData(), O_WRONLY | O_NONBLOCK);
        QString why;
        RenderedPdf taken;
        QElapsedTimer clock;
        clock.start();
        try {
            taken = TakePdf(folder, c.name, QStringLiteral("deck.pptx"), c.counter);
        } catch (const Failure& f) {
            why = f.description();
        }
        EXPECT_LT(clock.elapsed(), 10000) << c.what;
        EXPECT_EQ(test::readFile(secret), "secret") << c.what;
        if (c.why.isEmpty()) {
            EXPECT_TRUE(why.isEmpty()) << c.what << ": " << why.toStdString();
            EXPECT_EQ(taken.pages, 2) << c.what;
            ASSERT_GE(inside, 0);
            EXPECT_EQ(::pwrite(inside, "changed", 7, 0), 7);
            EXPECT_EQ(::write(inside, "grown", 5), 5);
            ASSERT_TRUE(taken.file && taken.file->seek(0));
            EXPECT_EQ(taken.file->readAll(), pdfOf(2)) << c.what;
        } else {
            EXPECT_TRUE(why.contains(c.why)) << c.what << ": " << why.toStdString();
        }
        if (inside >= 0)
            ::close(inside);
    }
}

} // namespace

namespace {
// A page whose one letter the PDF's text says is U+18B00, Khitan, which no
// font Debian packages has.
QByteArray pdfWithKhitan()
{
    const QByteArray text = "BT /F1 12 Tf 10 20 Td (A) Tj ET\n";
    const QByteArray map = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /K def "
                           "/CMapType 2 def\n1 begincodespacerange <00> <FF> endcodespacerange\n1 beginbfchar <41> "
                           "<D822DF00> endbfchar\nendcmap CMapName currentdict /CMap defineresource pop end end\n";
    return "%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n2 0 obj <</Type /Pages /Kids [3 0 R] /Count 1>> "
           "endobj\n3 0 obj <</Type /Page /Parent 2 0 R /MediaBox [0 0 200 50] /Resources <</Font <</F1 5 0 R>>>> "
           "/Contents 4 0 R>> endobj\n4 0 obj <</Length " +
           QByteArray::number(text.size()) + ">> stream\n" + text +
           "endstream endobj\n5 0 obj <</Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R>> endobj\n"
           "6 0 obj <</Length " +
           QByteArray::number(map.size()) + ">> stream\n" + map + "endstream endobj\ntrailer <</Root 1 0 R>>\n%%EOF\n";
}
} // namespace

// The count reads a PDF's text for letters that no font has unless the
// deck's own letters, all known, are in installed fonts.
TEST(TakenBackTest, ThePdfsTextIsReadUnlessEveryLetterOfItsDeckIsInAFont)
{
    const test::TempConfig dir;
    const QString pdf = dir.path(QStringLiteral("khitan.pdf"));
    ASSERT_TRUE(test::writeFile(pdf, {}, pdfWithKhitan()));
    const struct
    {
        const char* what;
        CountAsk ask;
        QList<char32_t> lacking;
    } cases[] = {
        {"letters not known", {}, {0x18B00}},
        {"a deck with a letter of no font", {QList<char32_t>{0xE9, 0x18B00}}, {0x18B00}},
        {"a deck of ASCII alone", {QList<char32_t>{}}, {}},
        {"a deck whose letters fonts have", {QList<char32_t>{0xE9, 0x3B1}}, {}},
    };
    for (const auto& c : cases) {
        const int fd = ::open(QFile::encodeName(pdf).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const PdfFacts facts = CountPages(fd, kCounter, c.ask);
        ::close(fd);
        EXPECT_EQ(facts.pages, 1) << c.what;
        EXPECT_EQ(facts.lacking, c.lacking) << c.what;
    }
}
