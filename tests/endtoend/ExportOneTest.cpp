// The export of one presentation with the real application, LibreOffice and
// the PDF printer.
#include "Decks.h"
#include "ErrorReport.h"
#include "FakeDialogs.h"
#include "PdfPrinter.h"
#include "PowerPoint1.h"
#include "PrivateMounts.h"
#include "Registry.h"
#include "ServerFixture.h"
#include "SpyAutomation.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <optional>

using namespace pradelux;

namespace {

class ExportOneTest : public test::ServerFixture
{
protected:
    test::FakeDialogs dialogs;
    FileRegistry registry;
    QString out = config.path(QStringLiteral("Résultats 2026"));

    void SetUp() override
    {
        ServerFixture::SetUp();
        QDir().mkpath(out);
    }

    bool export1(Automation& through, const QString& deck, const QString& pdf, qint64 boundMs = 60000)
    {
        PowerPoint1Services services = PowerPoint1::defaults(through, registry, dialogs);
        services.waitBoundMs = boundMs;
        return PowerPoint1(services).DoPPT(deck, pdf);
    }
};

TEST_F(ExportOneTest, EachFormatGivesOnePagePerSlideHiddenOnesIncluded)
{
    for (const QString& suffix : {QStringLiteral("pptx"), QStringLiteral("ppt"), QStringLiteral("odp")}) {
        const QString pdf = out + QStringLiteral("/Plan.final ") + suffix + QStringLiteral(".pdf");
        EXPECT_TRUE(export1(automation, test::deck(suffix), pdf)) << suffix.toStdString();
        EXPECT_EQ(test::pdfPages(pdf), 3) << suffix.toStdString();
        EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
        EXPECT_EQ(registry.readString(pdfprinter::kKey, pdfprinter::kOutputFile), pdf);
        EXPECT_EQ(registry.readString(pdfprinter::kKey, pdfprinter::kBypassSaveAs), QStringLiteral("1"));
        EXPECT_TRUE(waitUntilGone(5000)) << "still running after " << suffix.toStdString();
    }
    // Nothing but the PDFs was left in the output folder.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(ExportOneTest, PrinterChosenBeforeIsChosenAgainAfterwards)
{
    ASSERT_TRUE(printers.install(QStringLiteral("Office Laser"), QStringLiteral("LPT1:")));
    ASSERT_TRUE(printers.setDefault(QStringLiteral("Office Laser")));
    test::SpyAutomation spy(automation);
    const QString pdf = out + QStringLiteral("/deck.pdf");
    EXPECT_TRUE(export1(spy, test::deck(QStringLiteral("odp")), pdf));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    QStringList printerChoices;
    for (const QString& put : spy.puts)
        if (put.startsWith(QStringLiteral("put ActivePrinter")))
            printerChoices << put;
    EXPECT_EQ(printerChoices, QStringList({"put ActivePrinter = String:Veltrande PDF Writer",
                                           "put ActivePrinter = String:Office Laser"}));
    EXPECT_EQ(test::pdfPages(pdf), 3);
}

TEST_F(ExportOneTest, MissingAndCorruptFilesAreReportedWithoutHanging)
{
    EXPECT_FALSE(export1(automation, config.path(QStringLiteral("gone.pptx")), out + QStringLiteral("/gone.pdf")));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({118, 122, 124, 140, 142, 144, 146, 148, 150, 152, 156, 164, 174}));
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(
        QStringLiteral("PowerPoint can't open %1: the file does not exist.\r\n").arg(config.path("gone.pptx"))));
    EXPECT_TRUE(waitUntilGone(5000));

    dialogs.boxes.clear();
    const QString corrupt = config.path(QStringLiteral("corrupt.pptx"));
    QFile f(corrupt);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("PK\x03\x04") + QByteArray(4000, 'x'));
    f.close();
    EXPECT_FALSE(export1(automation, corrupt, out + QStringLiteral("/corrupt.pdf")));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({118, 122, 124, 140, 142, 144, 146, 148, 150, 152, 156, 164, 174}));
    EXPECT_TRUE(
        dialogs.boxes[0].text.startsWith(QStringLiteral("PowerPoint can't open %1: the file is damaged").arg(corrupt)))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(out + QStringLiteral("/corrupt.pdf")));
}

TEST_F(ExportOneTest, RunningApplicationIsUsedAndQuit)
{
    // Another client holds the application, as a user's script would.
    ObjectRef held = automation.createObject(QStringLiteral("PowerPoint.Application"));
    held->put(QStringLiteral("Visible"), Value::boolean(true));
    const auto before = bus.interface()->serviceOwner(name).value();
    ASSERT_FALSE(before.isEmpty());
    test::SpyAutomation spy(automation);
    EXPECT_TRUE(export1(spy, test::deck(QStringLiteral("pptx")), out + QStringLiteral("/running.pdf")));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    EXPECT_TRUE(waitUntilGone(5000)); // its Quit ended the application the other client held
}

// A presentation starts rendering when it is opened, as the last one was
// printed. One opened and never printed neither holds the application's end
// nor takes it down with a rendering still running, and the next one prints.
TEST_F(ExportOneTest, PresentationOpenedAndNeverPrintedEndsWithTheApplication)
{
    const QString deck = test::deck(QStringLiteral("pptx"));
    ASSERT_TRUE(export1(automation, deck, out + QStringLiteral("/first.pdf")));
    ASSERT_TRUE(waitUntilGone(5000));
    QFile log(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/pradelux-office/server.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    log.seek(log.size());
    {
        ObjectRef app = automation.createObject(QStringLiteral("PowerPoint.Application"));
        app->object(QStringLiteral("Presentations"))
            ->call(QStringLiteral("Open"), {Argument{deck, QStringLiteral("fileName")}});
        const qint64 pid = bus.interface()->servicePid(name).value();
        QElapsedTimer clock;
        clock.start();
        app->call(QStringLiteral("Quit"));
        EXPECT_TRUE(waitUntilGone(3000)) << clock.elapsed() << " ms";
        // Nothing of the rendering is left in its work folder.
        EXPECT_EQ(QDir(QDir::tempPath()).entryList({QStringLiteral("pradelux-office-%1-*").arg(pid)}, QDir::AllEntries),
                  QStringList());
    }
    EXPECT_EQ(log.readAll(), QByteArray()); // no complaint, nothing a sanitizer found
    EXPECT_TRUE(export1(automation, deck, out + QStringLiteral("/second.pdf")));
    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/second.pdf")), 3);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
}

TEST_F(ExportOneTest, JobThatFailsEndsAtOnceWithItsCauseAndLeavesNoPartialPdf)
{
    const QString full = config.path(QStringLiteral("full disk"));
    const bool mounted = test::PrivateMounts::available() && test::PrivateMounts::tmpfs(full, "size=4k");
    const QString crashing = config.path(QStringLiteral("crashing-soffice"));
    // Writes the start of a PDF, then crashes as LibreOffice can.
    ASSERT_TRUE(test::writeFile(crashing, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner,
                                "#!/bin/sh\nprev=; for a; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; done\n"
                                "printf '%%PDF-1.4\\n1 0 obj <<' > \"$out/deck.pdf\"\nkill -SEGV $$\n"));
    struct Case
    {
        QString folder;
        QByteArray soffice;
        QString cause;
    };
    QList<Case> cases = {
        {config.path(QStringLiteral("no such folder")), {}, QStringLiteral("does not exist")},
        {out, crashing.toUtf8(), QStringLiteral("LibreOffice crashed while printing")},
    };
    if (mounted)
        cases.append({full, {}, QStringLiteral("the disk is full")});
    for (const Case& c : cases) {
        dialogs.boxes.clear();
        // The stand-in LibreOffice is started for each presentation.
        std::optional<test::ScopedEnv> renderer;
        std::optional<test::ScopedEnv> cold;
        if (!c.soffice.isEmpty()) {
            renderer.emplace("PRADELUX_OFFICE_SOFFICE", c.soffice);
            cold.emplace("PRADELUX_OFFICE_RENDERER", "soffice");
        }
        const QString pdf = c.folder + QStringLiteral("/deck.pdf");
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(export1(automation, test::deck(QStringLiteral("odp")), pdf, 30000));
        // The job's failure reached the program: no wait for a file that never comes.
        EXPECT_LT(clock.elapsed(), 20000) << c.cause.toStdString();
        EXPECT_EQ(dialogs.reportedLines(), QList<int>({164})) << dialogs.texts().join("\n").toStdString();
        EXPECT_TRUE(!dialogs.boxes.isEmpty() && dialogs.boxes[0].text.contains(c.cause) &&
                    dialogs.boxes[0].text.contains(test::deck(QStringLiteral("odp"))))
            << dialogs.texts().join("\n").toStdString();
        EXPECT_EQ(QDir(c.folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
            << c.cause.toStdString();
        EXPECT_TRUE(waitUntilGone(5000));
    }
    if (!mounted)
        GTEST_SKIP() << "the full-disk case needs a mount, which this process may not make";
    test::PrivateMounts::unmount(full);
}

} // namespace
