// The plain routines of the export run, the guard and the prerequisite checks.
#include "ExportRun.h"
#include "FakeDialogs.h"
#include "Files.h"
#include "InstanceGuard.h"
#include "Prerequisites.h"
#include "Printers.h"
#include "RecordingAutomation.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pradelux;

TEST(ExportRun, OutputNamesReplaceOnlyTheLastExtension)
{
    const QList<QPair<QString, QString>> cases = {
        {"/Talks/Q3.pptx", "Q3.pdf"},    {"/Talks/Plan.final.ppt", "Plan.final.pdf"}, {"/Talks/Notes.", "Notes.pdf"},
        {"/Talks/README", "README.pdf"}, {"/Talks/.hidden", ".hidden.pdf"},           {"relative.odp", "relative.pdf"},
        {"/a.b/c d ü.ODP", "c d ü.pdf"},
    };
    for (const auto& [row, pdf] : cases)
        EXPECT_EQ(OutputFileName(row), pdf) << row.toStdString();
    EXPECT_EQ(FileNameOf(QStringLiteral("/Talks/Q3.pptx")), QStringLiteral("Q3.pptx"));
    EXPECT_EQ(FileNameOf(QStringLiteral("Q3.pptx")), QStringLiteral("Q3.pptx"));
}

TEST(ExportRun, DoneMessageNamesTheRowsWithoutPdfAndTheReplacedOnesAndCutsALongList)
{
    EXPECT_EQ(DoneMessage(3, {}), QStringLiteral("Done."));
    EXPECT_EQ(DoneMessage(3, {"/a.pptx"}, {"/2019/report.pptx"}),
              QStringLiteral("Done.\r\n\r\n1 of 3 presentations gave no PDF:\r\n/a.pptx\r\n\r\n"
                             "The PDF of 1 presentation was replaced by a later one of the same name:\r\n"
                             "/2019/report.pptx"));
    EXPECT_EQ(DoneMessage(3, {"/a.pptx", "/c.ppt"}),
              QStringLiteral("Done.\r\n\r\n2 of 3 presentations gave no PDF:\r\n/a.pptx\r\n/c.ppt"));
    QStringList many;
    for (int i = 1; i <= 13; ++i)
        many << QStringLiteral("/deck%1.ppt").arg(i);
    const QString text = DoneMessage(20, many);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Done.\r\n\r\n13 of 20 presentations gave no PDF:\r\n/deck1.ppt\r\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n/deck10.ppt\r\n... and 3 more.")));
    EXPECT_TRUE(DoneMessage(20, {}, many).endsWith(QStringLiteral("\r\n/deck10.ppt\r\n... and 3 more.")));
}

TEST(InstanceGuard, OnlyAnApplicationNamedExactlySoCountsAsRunning)
{
    test::RecordingAutomation automation;
    test::FakeDialogs dialogs;
    automation.getFails = true;
    EXPECT_FALSE(IsPowerPointRunning(automation));
    EXPECT_FALSE(WarnIfPowerPointOpen(automation, dialogs));
    EXPECT_TRUE(dialogs.boxes.isEmpty());

    automation.getFails = false;
    automation.values.insert(QStringLiteral("RunningApplication."), Value(QStringLiteral("Microsoft Powerpoint")));
    EXPECT_FALSE(IsPowerPointRunning(automation));
    automation.values.insert(QStringLiteral("RunningApplication."), Value(QStringLiteral("Microsoft PowerPoint")));
    EXPECT_TRUE(IsPowerPointRunning(automation));
    EXPECT_FALSE(automation.log.contains(QStringLiteral("RunningApplication.call Quit()")));

    dialogs.answers = {msgbox::kYes, msgbox::kNo};
    EXPECT_FALSE(WarnIfPowerPointOpen(automation, dialogs));
    EXPECT_TRUE(WarnIfPowerPointOpen(automation, dialogs));
    ASSERT_EQ(dialogs.boxes.size(), 2);
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("PowerPoint may be open. It is recommended that you close PowerPoint first.\r"
                             "It is the program pradelux-office: in a terminal, ''pgrep -u \"$USER\" -a pradelux-office'' finds "
                             "it and ''pkill -u \"$USER\" pradelux-office'' ends it, if necessary.\r\n\r\n"
                             "Would you like to proceed anyway?"));
    EXPECT_EQ(dialogs.boxes[0].style, 4);
    EXPECT_TRUE(automation.allReleased());
}

TEST(Prerequisites, MissingApplicationIsToldAndEndsTheProgram)
{
    test::RecordingAutomation automation;
    test::FakeDialogs dialogs;
    QList<int> exits;
    EXPECT_TRUE(CheckPowerPointInstalled(automation, dialogs, [&](int c) { exits << c; }));
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_TRUE(automation.allReleased());

    automation.createFails = true;
    EXPECT_FALSE(CheckPowerPointInstalled(automation, dialogs, [&](int c) { exits << c; }));
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("PowerPoint is not installed on this computer. You need to have it "
                                                    "installed to use this software without error."));
    EXPECT_EQ(dialogs.boxes[0].style, 0);
    EXPECT_EQ(exits, QList<int>({0}));
}

TEST(Prerequisites, PrinterMustCarryExactlyItsName)
{
    test::TempConfig config;
    UserPrinters printers;
    test::FakeDialogs dialogs;
    const QString instructions =
        QStringLiteral("Veltrande PDF Writer is not installed. Please follow these instructions:\r\n"
                       "\r\n"
                       "1) Open a terminal.\r\n"
                       "2) Run ''%1/pradelux-printer install'' to add Veltrande PDF Writer on its port ''CPW2:''.\r\n"
                       "3) Run ''%1/pradelux-printer list'' to see that Veltrande PDF Writer is listed.\r\n"
                       "4) Export: there is no need to restart this program.")
            .arg(AppFolder());
    CheckPdfPrinterInstalled(printers, dialogs); // no printers at all
    printers.install(QStringLiteral("veltrande pdf writer"), QStringLiteral("CPW2:"));
    printers.install(QStringLiteral("Veltrande PDF Writer "), QStringLiteral("CPW2:"));
    CheckPdfPrinterInstalled(printers, dialogs);
    EXPECT_EQ(dialogs.texts(), QStringList({instructions, instructions}));
    printers.install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("CPW2:"));
    CheckPdfPrinterInstalled(printers, dialogs);
    EXPECT_EQ(dialogs.boxes.size(), 2);
}
