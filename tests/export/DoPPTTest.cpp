// The export of one presentation against a recording application: the whole
// call sequence, the reports of failing steps, and the bounded wait.
#include "ErrorReport.h"
#include "FakeDialogs.h"
#include "PowerPoint1.h"
#include "RecordingAutomation.h"
#include "RecordingRegistry.h"

#include <gtest/gtest.h>

using namespace pradelux;

namespace {

class DoPPTTest : public ::testing::Test
{
protected:
    test::RecordingAutomation automation;
    test::RecordingRegistry registry{automation.log};
    test::FakeDialogs dialogs;
    qint64 clockMs = 0;
    int identityCalls = 0;
    QString standing;     // what stands at the output path before the call
    int appearsAfter = 1; // the new PDF shows up after this many tests of the wait
    std::optional<PowerPoint1> ppt;

    void SetUp() override
    {
        automation.values.insert(QStringLiteral("PrintOptions.ActivePrinter"), Value(QStringLiteral("Office Laser")));
        PowerPoint1Services services{automation, registry, dialogs,
                                     [this](double s) {
                                         automation.log << QStringLiteral("pause %1").arg(s);
                                         clockMs += static_cast<qint64>(s * 1000);
                                     },
                                     // The first look is the one before the call.
                                     [this](const QString&) {
                                         return appearsAfter >= 0 && identityCalls++ > appearsAfter
                                                    ? QStringLiteral("new")
                                                    : standing;
                                     },
                                     [this] { return clockMs; }};
        services.waitBoundMs = 3000;
        ppt.emplace(services);
    }
};

TEST_F(DoPPTTest, MakesTheWholeCallSequenceWithExactTypes)
{
    EXPECT_TRUE(ppt->DoPPT(QStringLiteral("/in/Q3.pptx"), QStringLiteral("/out/Q3.pdf")));
    const QStringList expected = {
        "registry create Software\\Veltrande PDF Writer",
        "registry set 7 OutputFile = /out/Q3.pdf",
        "registry set 7 BypassSaveAs = 1",
        "registry close 7",
        "CreateObject PowerPoint.Application",
        "GetObject PowerPoint.Application",
        "Application.put Visible = Boolean:True",
        "RunningApplication.get Presentations",
        "Presentations.call Open(fileName:=String:/in/Q3.pptx)",
        "pause 0.2",
        "Application.get ActivePresentation",
        "ActivePresentation.get PrintOptions",
        "PrintOptions.get ActivePrinter",
        "Application.get ActivePresentation",
        "ActivePresentation.get PrintOptions",
        "PrintOptions.put ActivePrinter = String:Veltrande PDF Writer",
        "pause 0.2",
        "Application.get ActivePresentation",
        "ActivePresentation.get PrintOptions",
        "PrintOptions.put RangeType = Long:1",
        "PrintOptions.put NumberOfCopies = Integer:1",
        "PrintOptions.put Collate = Integer:1",
        "PrintOptions.put PrintHiddenSlides = Integer:1",
        "PrintOptions.put PrintColorType = Long:1",
        "PrintOptions.put FitToPage = Integer:0",
        "PrintOptions.put OutputType = Integer:1",
        "Application.get ActivePresentation",
        "ActivePresentation.call PrintOut()",
        "pause 1",
        "pause 0.05", // one poll: the PDF appears at the second test
        "pause 1",
        "Application.get ActivePresentation",
        "ActivePresentation.get PrintOptions",
        "PrintOptions.put ActivePrinter = String:Office Laser",
        "pause 1",
        "RunningApplication.put DisplayAlerts = Boolean:False",
        "RunningApplication.call Quit()",
    };
    EXPECT_EQ(automation.log, expected) << automation.log.join("\n").toStdString();
    EXPECT_TRUE(dialogs.boxes.isEmpty());
    EXPECT_TRUE(automation.allReleased());
}

TEST_F(DoPPTTest, UnopenablePresentationReportsEachDependentStepAndNeverPrintsTheOneStillOpen)
{
    // The application still has an earlier presentation open: it answers
    // ActivePresentation, and must not be printed under this name.
    automation.failures.emplace(
        QStringLiteral("Presentations.Open"),
        Failure(53, QStringLiteral("PowerPoint can't open /in/gone.pptx: the file does not exist.")));
    appearsAfter = -1;
    EXPECT_FALSE(ppt->DoPPT(QStringLiteral("/in/gone.pptx"), QStringLiteral("/out/gone.pdf")));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({118, 122, 124, 140, 142, 144, 146, 148, 150, 152, 156, 164, 174}));
    EXPECT_EQ(dialogs.boxes[0].text,
              ErrorReportText(QStringLiteral("PowerPoint can't open /in/gone.pptx: the file does not exist."),
                              tags::kDoPPT, 118));
    EXPECT_FALSE(automation.log.contains(QStringLiteral("pause 0.05")));
    EXPECT_FALSE(automation.log.join('\n').contains(QStringLiteral("PrintOut")));
    EXPECT_FALSE(automation.log.contains(QStringLiteral("Application.get ActivePresentation")));
    EXPECT_EQ(automation.log.mid(automation.log.size() - 2),
              QStringList({"RunningApplication.put DisplayAlerts = Boolean:False", "RunningApplication.call Quit()"}));
}

TEST_F(DoPPTTest, PrinterThatNeverWritesEndsTheWaitWithAReportNamingTheFile)
{
    appearsAfter = -1;
    EXPECT_FALSE(ppt->DoPPT(QStringLiteral("/in/Q3.pptx"), QStringLiteral("/out/Q3.pdf")));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({170}));
    EXPECT_EQ(dialogs.boxes[0].text,
              ErrorReportText(QStringLiteral("The PDF printer did not write /out/Q3.pdf within 3 seconds."),
                              tags::kDoPPT, 170));
    EXPECT_EQ(automation.log.count(QStringLiteral("pause 0.05")), 60); // 3 s of 50 ms polls
    EXPECT_TRUE(automation.log.contains(QStringLiteral("PrintOptions.put ActivePrinter = String:Office Laser")));
    EXPECT_EQ(automation.log.constLast(), QStringLiteral("RunningApplication.call Quit()"));
}

TEST_F(DoPPTTest, FileThatStoodThereBeforeIsNotTakenForTheNewPdf)
{
    standing = QStringLiteral("old");
    appearsAfter = -1;
    EXPECT_FALSE(ppt->DoPPT(QStringLiteral("/in/Q3.pptx"), QStringLiteral("/out/Q3.pdf")));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({170}));
    appearsAfter = 0;
    identityCalls = 0;
    EXPECT_TRUE(ppt->DoPPT(QStringLiteral("/in/Q3.pptx"), QStringLiteral("/out/Q3.pdf")));
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({170}));
}

TEST_F(DoPPTTest, ApplicationThatCannotStartFailsEveryStepThatUsesIt)
{
    automation.createFails = true;
    automation.getFails = true;
    appearsAfter = -1;
    EXPECT_FALSE(ppt->DoPPT(QStringLiteral("/in/Q3.pptx"), QStringLiteral("/out/Q3.pdf")));
    EXPECT_EQ(dialogs.reportedLines(),
              QList<int>({112, 114, 116, 118, 122, 124, 140, 142, 144, 146, 148, 150, 152, 156, 164, 174, 178, 180}));
    EXPECT_TRUE(dialogs.boxes[2].text.startsWith(QStringLiteral("Object variable or With block variable not set\r\n")));
}

} // namespace
