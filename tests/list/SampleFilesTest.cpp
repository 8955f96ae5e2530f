// The sample files through the real window: the record at start-up and the
// "Load Sample/Example Files" button.
#include "SampleFiles.h"
#include "FormFixture.h"
#include "SampleRecord.h"

#include <QPushButton>
#include <QTest>

using namespace pradelux;

namespace {

class SampleFilesTest : public test::FormFixture
{
protected:
    QString samples = appFolder + QStringLiteral("/Samples");
    int recordings = 0;

    void SetUp() override
    {
        steps.recordSampleFiles = [this] {
            ++recordings;
            RecordSampleFiles(appFolder, settings, {});
        };
    }
    void addSample(const QString& name)
    {
        QDir().mkpath(samples);
        QFile f(samples + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QStringList record() const
    {
        const QString text = UnscrambleText(settings.ReadSetting(settings::kSnapshot, QString()), kScrambleKey);
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('|'));
    }
    void clickLoad(Form1& form) { QTest::mouseClick(child<QPushButton>(form, "PushButton6"), Qt::LeftButton); }
};

TEST_F(SampleFilesTest, FirstStartRecordsTheSamplesOnce)
{
    addSample("b deck.pptx");
    addSample("a Präsentation.ppt");
    load();
    EXPECT_EQ(recordings, 1);
    EXPECT_EQ(record(), QStringList({samples + "/a Präsentation.ppt", samples + "/b deck.pptx"}));
    EXPECT_NE(settings.ReadSetting(settings::kSnapshot, QString()), record().join(QLatin1Char('|')));
    load();
    EXPECT_EQ(recordings, 1); // a stored record is not made again
}

TEST_F(SampleFilesTest, WithoutSamplesTheEmptyRecordIsTriedAgain)
{
    load();
    EXPECT_EQ(recordings, 2); // tried twice within the same start
    EXPECT_EQ(settings.ReadSetting(settings::kSnapshot, QStringLiteral("absent")), QString());
    load();
    EXPECT_EQ(recordings, 4); // and again at the next start
}

TEST_F(SampleFilesTest, ButtonAddsRecordedSamplesOnceInRecordOrder)
{
    for (const char* name : {"one.pptx", "two.ppt", "three.odp"})
        addSample(QString::fromUtf8(name));
    auto form = load();
    QFile::remove(samples + "/three.odp");                              // deleted since: skipped
    form->presentations().AppendEntry(samples + "/two.ppt");            // already listed: skipped
    form->presentations().AppendEntry(samples.toUpper() + "/ONE.PPTX"); // other case: not the same row
    addSample("four.pptx");                                             // not in the record
    dialogs.answers = {msgbox::kNo, msgbox::kNo};
    clickLoad(*form);
    clickLoad(*form);
    EXPECT_EQ(rows(*form), QStringList({samples + "/two.ppt", samples.toUpper() + "/ONE.PPTX", samples + "/one.pptx"}));
    ASSERT_EQ(dialogs.boxes.size(), 2); // asked each time, rows added or not
    EXPECT_EQ(dialogs.boxes[0].text,
              QStringLiteral("Would you like this software to open the folder where these sample files are stored (so "
                             "that you can view them before working with them)?"));
    EXPECT_EQ(dialogs.boxes[0].style, 4);
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Pradelux"));
    EXPECT_TRUE(shell.opened.isEmpty());
}

TEST_F(SampleFilesTest, YesOpensTheSamplesFolder)
{
    addSample("one.pptx");
    auto form = load();
    dialogs.answers = {msgbox::kYes};
    clickLoad(*form);
    EXPECT_EQ(shell.opened, QStringList({samples + "/"}));
    // A shell that cannot open it is reported under the button's tag.
    shell.fail = true;
    dialogs.answers = {msgbox::kYes};
    clickLoad(*form);
    ASSERT_EQ(dialogs.boxes.size(), 3);
    EXPECT_TRUE(
        dialogs.boxes[2].text.contains(QStringLiteral("in Slidora2021/08/31.Form1.PushButton6_Click at line 100")));
}

} // namespace
