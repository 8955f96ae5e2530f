// The export of one presentation with the real application, LibreOffice and
// the PDF printer.
#include "Decks.h"
#include "ErrorReport.h"
#include "FakeDialogs.h"
#include "PdfPrinter.h"
#include "PowerPoint1.h"
#include "Registry.h"
#include "ServerFixture.h"
#include "SpyAutomation.h"

#include <QDir>
#include <QFile>

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
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({164}));
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("LibreOffice could not print %1").arg(corrupt)));
    EXPECT_FALSE(QFile::exists(out + QStringLiteral("/corrupt.pdf")));
}

TEST_F(ExportOneTest, RunningApplicationIsUsedAndQuit)
{
    {
        ObjectRef app = automation.createObject(QStringLiteral("PowerPoint.Application"));
        app->put(QStringLiteral("Visible"), Value::boolean(true));
    }
    ASSERT_TRUE(running());
    const auto before = bus.interface()->serviceOwner(name).value();
    test::SpyAutomation spy(automation);
    EXPECT_TRUE(export1(spy, test::deck(QStringLiteral("pptx")), out + QStringLiteral("/running.pdf")));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    EXPECT_TRUE(waitUntilGone(5000));
    EXPECT_FALSE(before.isEmpty());
}

TEST_F(ExportOneTest, PrinterThatCannotWriteEndsTheWaitWithAReport)
{
    const QString pdf = config.path(QStringLiteral("no such folder/deck.pdf"));
    EXPECT_FALSE(export1(automation, test::deck(QStringLiteral("odp")), pdf, 2000));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({170}));
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(
        QStringLiteral("The PDF printer did not write %1 within 2 seconds.\r\n").arg(pdf)));
    EXPECT_FALSE(QFile::exists(pdf));
}

} // namespace
