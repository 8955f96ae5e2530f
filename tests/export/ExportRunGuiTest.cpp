// The export run through the real window, with a stand-in for the export of
// one presentation: checks, progress, the busy pointer, the guard, and what
// the user can do while the run goes on.
#include "FormFixture.h"
#include "PrivateMounts.h"
#include "RecordingAutomation.h"
#include "RunLock.h"
#include "WindowChoices.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace pradelux;

namespace {

struct Call
{
    QString presentation;
    QString pdf;
    int progress;
    QString progressText;
    int pointer;
};

class ExportRunGuiTest : public test::FormFixture
{
protected:
    QList<Call> calls;
    QString out = config.path(QStringLiteral("Out put"));
    std::unique_ptr<Form1> form;
    std::function<void(int)> duringCall; // runs inside the n-th export
    QSet<QString> failing;

    void SetUp() override
    {
        QDir().mkpath(out);
        exportOne = [this](const QString& in, const QString& pdf) {
            auto* bar = child<QProgressBar>(*form, "ProgressBar1");
            calls.append({in, pdf, bar->value(), bar->text(), form->mousePointer()});
            if (duringCall)
                duringCall(static_cast<int>(calls.size()));
            if (failing.contains(in))
                return false;
            QFile f(pdf);
            return f.open(QIODevice::WriteOnly);
        };
    }

    void start(const QStringList& rows, const QString& folder)
    {
        form = load();
        for (const QString& r : rows)
            form->presentations().AppendEntry(r);
        child<QLineEdit>(*form, "Text1")->setText(folder);
    }
    void clickStart() { QTest::mouseClick(child<QPushButton>(*form, "PushButton2"), Qt::LeftButton); }
};

TEST_F(ExportRunGuiTest, ExportsEveryRowWithProgressAndEndsWithDone)
{
    start({"/in/Q3.pptx", "/in/Plan.final.ppt", "/in/Notes.", "/in/READ %p%v%m"}, out);
    clickStart();
    ASSERT_EQ(calls.size(), 4);
    const QStringList pdfs = {out + "/Q3.pdf", out + "/Plan.final.pdf", out + "/Notes.pdf", out + "/READ %p%v%m.pdf"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[i].pdf, pdfs[i]);
        EXPECT_EQ(calls[i].progress, 25 * (i + 1));
        EXPECT_EQ(calls[i].pointer, pointer::kBusy);
    }
    EXPECT_EQ(calls[1].progressText, QStringLiteral("Processing: Plan.final.ppt"));
    EXPECT_EQ(calls[3].progressText, QStringLiteral("Processing: READ %p%v%m")); // shown as it stands
    auto* bar = child<QProgressBar>(*form, "ProgressBar1");
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->text(), QStringLiteral("Progress Bar"));
    EXPECT_EQ(form->mousePointer(), pointer::kDefault);
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Done."));
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Pradelux"));
    EXPECT_EQ(dialogs.boxes[0].style, 0);
    EXPECT_FALSE(form->exportRun().ExportInProgress);
}

TEST_F(ExportRunGuiTest, EmptyListIsCheckedBeforeTheFolder)
{
    const QString file = out + "/a file";
    QFile(file).open(QIODevice::WriteOnly);
    const QList<QPair<QStringList, QString>> cases = {
        {{}, "/no/such/folder"}, {{"/in/a.ppt"}, "/no/such/folder"}, {{"/in/a.ppt"}, file}, {{"/in/a.ppt"}, ""}};
    for (const auto& [rows, folder] : cases) {
        start(rows, folder);
        clickStart();
    }
    EXPECT_EQ(dialogs.texts(), QStringList({"No files added.", "Folder does not exist. Please select another folder.",
                                            "Folder does not exist. Please select another folder.",
                                            "Folder does not exist. Please select another folder."}));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_FALSE(form->exportRun().ExportInProgress);
}

// Slides chosen in PDF Options past every listed presentation's last slide
// are said once, before anything runs; a file that cannot be read is left
// to its row.
TEST_F(ExportRunGuiTest, SlidesPastEveryPresentationsLastAreSaidBeforeAnythingRuns)
{
    const QString deck = config.path(QStringLiteral("three.fodp"));
    ASSERT_TRUE(test::writeFile(deck, {},
                                "<?xml version=\"1.0\"?><office:document office:mimetype=\"application/"
                                "vnd.oasis.opendocument.presentation\" "
                                "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                                "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\"><office:body><office:presentation>"
                                "<draw:page/><draw:page/><draw:page/></office:presentation></office:body>"
                                "</office:document>"));
    for (const auto& [ranges, runs] : {std::pair{"2,4-5", false}, {"3-9", true}}) {
        settings.WriteSetting(settings::kSlideRanges, QLatin1String(ranges));
        dialogs.boxes.clear();
        calls.clear();
        start({deck, "/in/missing.ppt"}, out);
        clickStart();
        EXPECT_EQ(calls.size(), runs ? 2 : 0) << ranges;
        EXPECT_EQ(dialogs.texts(),
                  QStringList(runs ? QStringLiteral("Done.")
                                   : QStringLiteral("The slides chosen in PDF Options (2,4-5) start past the last "
                                                    "slide of every presentation in the list: slide 4 was chosen, "
                                                    "and the longest has 3 slides. Nothing was exported.")))
            << ranges;
    }
}

TEST_F(ExportRunGuiTest, WhatTheUserDoesDuringARunTakesEffectAsIntended)
{
    const QString second = config.path(QStringLiteral("second"));
    QDir().mkpath(second);
    start({"/in/a.pptx", "/in/b.pptx"}, out + "/");
    duringCall = [&](int n) {
        if (n != 1)
            return;
        clickStart(); // ignored: the run is in progress
        form->presentations().AppendEntry(QStringLiteral("/in/late1.pptx"));
        form->presentations().AppendEntry(QStringLiteral("/in/late2.pptx"));
        QTest::mouseClick(child<QPushButton>(*form, "PushButton5"), Qt::LeftButton); // refused: busy
        child<QLineEdit>(*form, "Text1")->setText(second);
    };
    clickStart();
    ASSERT_EQ(calls.size(), 2); // the rows added during the run are not exported
    EXPECT_EQ(calls[0].progress, 50);
    EXPECT_EQ(calls[1].progress, 50); // row 2 of now 4 rows
    EXPECT_EQ(calls[0].pdf, out + "/a.pdf");
    EXPECT_EQ(calls[1].pdf, second + "/b.pdf");
    EXPECT_EQ(form->presentations().Count(), 4);
    EXPECT_EQ(dialogs.texts(), QStringList({"Done."}));
}

TEST_F(ExportRunGuiTest, EarlierFilesStayUntilARowOfTheRunReallyReplacesThem)
{
    // An earlier PDF, a PDF that is itself a row, and a second
    // name that reaches the first PDF, as "Q3.pdf" does on a disk that ignores
    // case: the run deletes nothing, says "replaced" only of a PDF that a
    // later row overwrote, and keeps what a failed row would have replaced.
    struct Case
    {
        QStringList rows;
        QSet<QString> failing;
        QString summary;
    };
    const QList<Case> cases = {
        {{"/in/Q3.ppt", "/in/Q3.pptx"},
         {},
         "Done.\r\n\r\nThe PDF of 1 presentation was replaced by a later one of the same name:\r\n/in/Q3.ppt"},
        {{"/in/Q3.ppt", "/in/Q3.pptx"},
         {"/in/Q3.pptx"},
         "Done.\r\n\r\n1 of 2 presentations gave no PDF:\r\n/in/Q3.pptx"},
        {{"/in/Q3.pptx", "/in/LINK.odp"},
         {},
         "Done.\r\n\r\nThe PDF of 1 presentation was replaced by a later one of the same name:\r\n/in/Q3.pptx"},
        {{out + "/invoice.pdf", "/in/Q3.odp"},
         {"/in/Q3.odp"},
         "Done.\r\n\r\n2 of 2 presentations gave no PDF:\r\n" + out + "/invoice.pdf\r\n/in/Q3.odp"},
    };
    for (const Case& c : cases) {
        QDir(out).removeRecursively();
        ASSERT_TRUE(test::writeFile(out + "/Q3.pdf", {}, "earlier"));
        ASSERT_TRUE(test::writeFile(out + "/invoice.pdf", {}, "invoice"));
        ASSERT_TRUE(QFile::link(out + "/Q3.pdf", out + "/LINK.pdf"));
        calls.clear();
        dialogs.boxes.clear();
        failing = c.failing;
        QStringList seen; // what stood at Q3.pdf while each row was exported
        duringCall = [&](int) { seen << test::readFile(out + "/Q3.pdf"); };
        start(c.rows, out);
        clickStart();
        EXPECT_EQ(dialogs.boxes.constLast().text, c.summary) << c.rows.join(' ').toStdString();
        EXPECT_EQ(seen.value(0), QStringLiteral("earlier")) << c.rows.join(' ').toStdString();
        EXPECT_EQ(test::readFile(out + "/invoice.pdf"), QStringLiteral("invoice"));
    }
    // The row that is its own PDF was never handed on, and said why.
    EXPECT_EQ(calls.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(out + "/invoice.pdf is itself the PDF that its export would write"))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({136}));
}

TEST_F(ExportRunGuiTest, TargetThatCannotBeClearedFailsItsRowWithAReportAndIsNotExported)
{
    // A folder in the way, and an old PDF on a disk mounted read-only.
    QDir().mkpath(out + "/blocked.pdf/inside");
    const QString oneFailed = QStringLiteral("Done.\r\n\r\n1 of 2 presentations gave no PDF:\r\n/in/blocked.pptx");
    QList<std::tuple<QString, QString, QString>> cases = {{out, "a folder of that name stands there", oneFailed}};
    const QString readOnly = config.path(QStringLiteral("read-only"));
    ASSERT_TRUE(test::writeFile(readOnly + "/blocked.pdf", {}, "old"));
    if (test::PrivateMounts::available() && test::PrivateMounts::readOnly(readOnly))
        cases.append({readOnly, "the folder is on a read-only disk",
                      QString(oneFailed).replace("1 of", "2 of") + "\r\n/in/free.pptx"});
    for (const auto& [folder, why, summary] : cases) {
        calls.clear();
        dialogs.boxes.clear();
        start({"/in/blocked.pptx", "/in/free.pptx"}, folder);
        clickStart();
        ASSERT_EQ(calls.size(), 1);
        EXPECT_EQ(calls[0].presentation, QStringLiteral("/in/free.pptx"));
        EXPECT_EQ(dialogs.reportedLines(), QList<int>({136}));
        EXPECT_TRUE(dialogs.boxes[0].text.startsWith(
            QStringLiteral("The earlier %1/blocked.pdf cannot be replaced (").arg(folder)))
            << dialogs.boxes[0].text.toStdString();
        EXPECT_TRUE(dialogs.boxes[0].text.contains(why)) << dialogs.boxes[0].text.toStdString();
        EXPECT_EQ(dialogs.boxes.constLast().text, summary);
    }
    EXPECT_TRUE(QDir(out + "/blocked.pdf/inside").exists());
    if (cases.size() == 1)
        GTEST_SKIP() << "the read-only disk case needs a mount, which this process may not make";
    test::PrivateMounts::unmount(readOnly);
}

TEST_F(ExportRunGuiTest, ListEmptiedDuringTheRunReportsTheStepsAndExportsNoNamelessPdf)
{
    start({"/in/a.pptx", "/in/b.pptx", "/in/c.pptx"}, out);
    duringCall = [&](int n) {
        if (n != 1)
            return;
        // A folder scan that ends during the run sets the default pointer,
        // and "Clear List" then works.
        form->setMousePointer(pointer::kDefault);
        QTest::mouseClick(child<QPushButton>(*form, "PushButton5"), Qt::LeftButton);
    };
    clickStart();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(form->presentations().Count(), 0);
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({114, 116, 114, 116}));
    EXPECT_TRUE(dialogs.boxes[1].text.startsWith(QStringLiteral("Division by zero\r\n")));
    EXPECT_EQ(dialogs.boxes.constLast().text,
              QStringLiteral("Done.\r\n\r\n2 of 3 presentations gave no PDF:\r\nrow 2 (it was removed during the "
                             "export)\r\nrow 3 (it was removed during the export)"));
    EXPECT_FALSE(QFile::exists(out + "/.pdf"));
}

TEST_F(ExportRunGuiTest, RowsWithoutPdfAreNamedInsteadOfReportingSuccess)
{
    failing = {"/in/b.pptx", "/in/c.odp"};
    start({"/in/a.pptx", "/in/b.pptx", "/in/c.odp"}, out);
    clickStart();
    EXPECT_EQ(dialogs.texts(),
              QStringList({"Done.\r\n\r\n2 of 3 presentations gave no PDF:\r\n/in/b.pptx\r\n/in/c.odp"}));
}

TEST_F(ExportRunGuiTest, AnotherRunHoldingThePrinterValuesIsNamedAndNothingStarts)
{
    const QString lockFile = config.path(QStringLiteral("export-lock"));
    RunLock other(lockFile);
    ASSERT_TRUE(other.tryLock(QStringLiteral("pradelux --export")));
    RunLock mine(lockFile);
    exportLock = &mine;
    start({"/in/a.pptx"}, out);
    clickStart();
    EXPECT_TRUE(calls.isEmpty());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(
        dialogs.boxes[0].text.startsWith(QStringLiteral("Another export is running: pradelux --export (process %1 on ")
                                             .arg(QCoreApplication::applicationPid())))
        << dialogs.boxes[0].text.toStdString();
    EXPECT_FALSE(form->exportRun().ExportInProgress);
    other.unlock(); // as when that process ends
    clickStart();
    EXPECT_EQ(calls.size(), 1);
    EXPECT_EQ(dialogs.boxes.constLast().text, QStringLiteral("Done."));
}

// A lock file that cannot be opened at all does not end the exclusion
// without a word: it is named, and nothing starts.
TEST_F(ExportRunGuiTest, LockFileThatCannotBeOpenedIsNamedAndNothingStarts)
{
    ASSERT_TRUE(test::writeFile(config.path(QStringLiteral("a-file")), {}, "not a folder"));
    RunLock unusable(config.path(QStringLiteral("a-file/export-lock")));
    exportLock = &unusable;
    start({"/in/a.pptx"}, out);
    clickStart();
    EXPECT_TRUE(calls.isEmpty());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("The export lock cannot be taken: the lock file %1 "
                                                                "cannot be opened: ")
                                                     .arg(config.path(QStringLiteral("a-file/export-lock")))))
        << dialogs.boxes[0].text.toStdString();
}

TEST_F(ExportRunGuiTest, RunningApplicationIsAskedAboutFirst)
{
    test::RecordingAutomation running;
    running.values.insert(QStringLiteral("RunningApplication."), Value(QStringLiteral("Microsoft PowerPoint")));
    automation = &running;
    dialogs.answers = {msgbox::kNo, msgbox::kYes};
    start({"/in/a.pptx"}, out);
    clickStart();
    EXPECT_TRUE(calls.isEmpty());
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].style, 4);
    EXPECT_FALSE(form->exportRun().ExportInProgress);
    clickStart(); // the button works again; this time the user goes on
    EXPECT_EQ(calls.size(), 1);
    EXPECT_EQ(dialogs.boxes.size(), 3);
    EXPECT_EQ(dialogs.boxes[2].text, QStringLiteral("Done."));
}

} // namespace
