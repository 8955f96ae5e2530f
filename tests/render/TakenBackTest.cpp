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
