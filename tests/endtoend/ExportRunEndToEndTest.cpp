// The whole job through the window: rows of real presentations become PDFs
// through the real application, LibreOffice and the PDF printer; and the
// start-up checks against the real application.
#include "Decks.h"
#include "FakeDialogs.h"
#include "FakeShell.h"
#include "Form1.h"
#include "PowerPoint1.h"
#include "Prerequisites.h"
#include "Registry.h"
#include "RunPasswords.h"
#include "SampleFiles.h"
#include "ServerFixture.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

using namespace pradelux;

namespace {

class ExportRunEndToEndTest : public test::ServerFixture
{
protected:
    test::FakeDialogs dialogs;
    test::FakeShell shell;
    SettingsStore settings;
    FileRegistry registry;
    QList<int> exits;
    QString in = config.path(QStringLiteral("Präsentationen"));
    QString out = config.path(QStringLiteral("PDF out"));

    // The window's passwords, asked of dialogs as its rows come.
    RunPasswords passwords{
        {}, [this](const QString& presentation, bool again) { return dialogs.askPassword(presentation, again); }};

    std::unique_ptr<Form1> makeForm(StartupSteps steps = {})
    {
        Form1Services services{dialogs,
                               shell,
                               settings,
                               QStringLiteral(PRADELUX_APPFOLDER),
                               [] { return 0.5; },
                               [this] { return config.path(QStringLiteral("Desktop")); },
                               [this](int code) { exits << code; },
                               &automation,
                               [this](const QString& presentation, const QString& pdf) {
                                   PowerPoint1Services steps = PowerPoint1::defaults(automation, registry, dialogs);
                                   steps.passwords = [this](const QString& deck, int attempt) {
                                       return passwords.next(deck, attempt);
                                   };
                                   return PowerPoint1(steps).DoPPT(presentation, pdf);
                               }};
        services.runEnded = [this] { passwords.forget(); };
        auto form = std::make_unique<Form1>(services, steps);
        form->Form_Load();
        return form;
    }

    QString copyDeck(const QString& suffix, const QString& name)
    {
        QDir().mkpath(in);
        const QString target = in + QLatin1Char('/') + name;
        QFile::copy(test::deck(suffix), target);
        return target;
    }
};

TEST_F(ExportRunEndToEndTest, ListOfPresentationsBecomesPdfsWithOnePagePerSlide)
{
    const QStringList rows = {copyDeck("pptx", "Plan.final.pptx"), copyDeck("ppt", "Vortrag Übersicht 日本.ppt"),
                              copyDeck("odp", "deck.odp")};
    QDir().mkpath(out);
    auto form = makeForm();
    for (const QString& r : rows)
        form->presentations().AppendEntry(r);
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out); // no final separator
    auto* bar = form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QList<int> values;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) { values << v; });

    form->findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();

    for (const char* pdf : {"Plan.final.pdf", "Vortrag Übersicht 日本.pdf", "deck.pdf"})
        EXPECT_EQ(test::pdfPages(out + QLatin1Char('/') + QString::fromUtf8(pdf)), 3) << pdf;
    EXPECT_EQ(values, QList<int>({33, 66, 100, 0}));
    EXPECT_EQ(bar->format(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(dialogs.texts(), QStringList({"Done."}));
    EXPECT_TRUE(waitUntilGone(5000));
}

TEST_F(ExportRunEndToEndTest, FinalMessageNamesTheFailedBlockedAndReplacedRowsAndNothingElse)
{
    QDir().mkpath(in);
    const QString corrupt = in + QStringLiteral("/corrupt.pptx");
    QFile f(corrupt);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("PK\x03\x04") + QByteArray(3000, 'z'));
    f.close();
    const QString missing = in + QStringLiteral("/missing.ppt");
    const QString blocked = copyDeck("odp", "blocked.odp");
    QDir().mkpath(in + QStringLiteral("/2019"));
    QDir().mkpath(in + QStringLiteral("/2020"));
    const QString report2019 = copyDeck("pptx", "2019/report.pptx");
    const QString report2020 = copyDeck("odp", "2020/report.odp");
    const QString good = copyDeck("odp", "good.odp");
    QDir().mkpath(out + QStringLiteral("/blocked.pdf")); // a folder stands at that row's target
    auto form = makeForm();
    for (const QString& r : {corrupt, missing, blocked, report2019, report2020, good})
        form->presentations().AppendEntry(r);
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out + QLatin1Char('/'));

    form->findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();

    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/good.pdf")), 3);
    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/report.pdf")), 3);
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"blocked.pdf", "good.pdf", "report.pdf"}));
    EXPECT_TRUE(QFileInfo(out + QStringLiteral("/blocked.pdf")).isDir());
    const QStringList texts = dialogs.texts();
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_EQ(texts.constLast(),
              QStringLiteral("Done.\r\n\r\n3 of 6 presentations gave no PDF:\r\n%1\r\n%2\r\n%3\r\n\r\n"
                             "The PDF of 1 presentation was replaced by a later one of the same name:\r\n%4")
                  .arg(corrupt, missing, blocked, report2019));
    EXPECT_TRUE(
        texts.constFirst().startsWith(QStringLiteral("PowerPoint can't open %1: the file is damaged").arg(corrupt)));
    EXPECT_TRUE(
        texts.filter(QStringLiteral("PowerPoint can't open %1: the file does not exist.").arg(missing)).size() == 1);
    EXPECT_EQ(texts.filter(QStringLiteral("The earlier %1/blocked.pdf cannot be replaced").arg(out)).size(), 1);
    EXPECT_TRUE(waitUntilGone(5000));
}

// The window asks for a protected presentation's password as its row
// comes, again while one does not open it, tries those given earlier in the
// run first, and keeps none once the run has ended: Skip then fails the row
// as protected.
TEST_F(ExportRunEndToEndTest, WindowAsksForPasswordsAndKeepsThemForTheRunAlone)
{
    QDir().mkpath(in);
    QDir().mkpath(out);
    const QString odp = in + QStringLiteral("/locked.odp");
    const QString pptx = in + QStringLiteral("/locked deck.pptx");
    ASSERT_TRUE(QFile::copy(test::protectedDeck(QStringLiteral("odp")), odp));
    ASSERT_TRUE(QFile::copy(test::protectedDeck(QStringLiteral("pptx")), pptx));
    auto form = makeForm();
    form->presentations().AppendEntry(odp);
    form->presentations().AppendEntry(pptx);
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out);
    dialogs.passwordAnswers = {QStringLiteral("Kestrel 2025"), test::kDeckPassword};
    auto* start = form->findChild<QPushButton*>(QStringLiteral("PushButton2"));
    start->click();
    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/locked.pdf")), 3);
    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/locked deck.pdf")), 3);
    EXPECT_EQ(dialogs.passwordRequests, (QList<std::pair<QString, bool>>{{odp, false}, {odp, true}}));
    EXPECT_EQ(dialogs.texts(), QStringList({"Done."}));

    // The next run knows none of them: the user skips the row.
    form = makeForm();
    form->presentations().AppendEntry(pptx);
    form->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out);
    form->findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
    EXPECT_EQ(dialogs.passwordRequests.size(), 3);
    EXPECT_EQ(dialogs.passwordRequests.constLast(), std::make_pair(pptx, false));
    EXPECT_FALSE(dialogs.texts().filter(QStringLiteral("%1: it is protected by a password.").arg(pptx)).isEmpty());
    EXPECT_TRUE(waitUntilGone(5000));
}

TEST_F(ExportRunEndToEndTest, NewUserExportsTheSamplesWithTwoClicks)
{
    const QString desktop = config.path(QStringLiteral("Desktop"));
    QDir().mkpath(desktop);
    StartupSteps steps;
    steps.recordSampleFiles = [&] { RecordSampleFiles(QStringLiteral(PRADELUX_APPFOLDER), settings, {}); };
    auto form = makeForm(steps);
    dialogs.answers = {msgbox::kNo};
    form->findChild<QPushButton*>(QStringLiteral("PushButton6"))->click();
    EXPECT_EQ(form->presentations().Count(), 3);
    form->findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();

    const QStringList pdfs = QDir(desktop).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
    EXPECT_EQ(pdfs,
              QStringList({"Product Tour.pdf", "Quarterly Review (hidden slide).pdf", "Welcome to Pradelux.pdf"}));
    for (const QString& pdf : pdfs)
        EXPECT_EQ(test::pdfPages(desktop + QLatin1Char('/') + pdf), 3) << pdf.toStdString();
    EXPECT_EQ(dialogs.texts().constLast(), QStringLiteral("Done."));
    EXPECT_TRUE(waitUntilGone(5000));
}

TEST_F(ExportRunEndToEndTest, StartUpChecksTheRealApplicationAndLeavesNothingRunning)
{
    StartupSteps steps;
    steps.checkPowerPointInstalled = [&] {
        return CheckPowerPointInstalled(automation, dialogs, [this](int c) { exits << c; });
    };
    int printerChecks = 0;
    steps.checkPdfPrinterInstalled = [&] {
        ++printerChecks;
        CheckPdfPrinterInstalled(printers, dialogs);
    };
    auto form = makeForm(steps);
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    EXPECT_EQ(printerChecks, 1);
    EXPECT_TRUE(exits.isEmpty());
    EXPECT_TRUE(waitUntilGone(5000));
}

TEST_F(ExportRunEndToEndTest, WithoutLibreOfficeTheProgramEndsBeforeItsWindowShows)
{
    test::ScopedEnv noOffice("PRADELUX_OFFICE_SOFFICE", "/nonexistent/soffice");
    StartupSteps steps;
    steps.checkPowerPointInstalled = [&] {
        return CheckPowerPointInstalled(automation, dialogs, [this](int c) { exits << c; });
    };
    int printerChecks = 0;
    steps.checkPdfPrinterInstalled = [&] { ++printerChecks; };
    auto form = makeForm(steps);
    // The first sentence stays; the rest says what is missing here and how to install it.
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(kApplicationMissingFirst + QLatin1Char(' ')));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("LibreOffice Impress")));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("sudo apt install libreoffice-impress")))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Pradelux"));
    EXPECT_EQ(exits, QList<int>({0}));
    EXPECT_EQ(printerChecks, 0);
    EXPECT_FALSE(form->isVisible());
}

} // namespace
