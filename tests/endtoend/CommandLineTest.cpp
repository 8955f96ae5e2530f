// pradelux --export as a script runs it: the real program, application and
// LibreOffice, no display; what it prints, where, and its exit status.
#include "Decks.h"
#include "ServerFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace pradelux;

namespace {

class CommandLineTest : public test::ServerFixture
{
protected:
    QString in = config.path(QStringLiteral("Vorträge"));
    QString out = config.path(QStringLiteral("PDF out"));

    struct Result
    {
        int status = -1;
        QStringList written; // standard output, a line each
        QString errors;
    };

    static void start(QProcess& program, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(display));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), arguments);
    }

    Result run(const QStringList& arguments)
    {
        QProcess program;
        start(program, arguments);
        return finish(program);
    }

    static Result finish(QProcess& program)
    {
        EXPECT_TRUE(program.waitForFinished(300000));
        Result r;
        r.status = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        r.written = QString::fromUtf8(program.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        r.errors = QString::fromUtf8(program.readAllStandardError());
        return r;
    }
};

TEST_F(CommandLineTest, FolderOfGoodAndBrokenPresentationsGivesThePdfsTheSummaryAndStatusOne)
{
    QDir().mkpath(in + QStringLiteral("/sub"));
    QDir().mkpath(out);
    QFile::copy(test::deck(QStringLiteral("pptx")), in + QStringLiteral("/Plan.pptx"));
    QFile::copy(test::deck(QStringLiteral("odp")), in + QStringLiteral("/sub/Tour.odp"));
    QFile::copy(test::deck(QStringLiteral("odp")), in + QStringLiteral("/~lock.odp"));
    ASSERT_TRUE(test::writeFile(in + QStringLiteral("/broken.pptx"), {}, "PK\x03\x04 not really"));

    const Result mixed = run({"--export", "--output", out, in});
    EXPECT_EQ(mixed.status, 1) << mixed.errors.toStdString();
    EXPECT_EQ(mixed.written, QStringList({out + "/Plan.pdf", out + "/Tour.pdf"}));
    for (const QString& pdf : mixed.written)
        EXPECT_EQ(test::pdfPages(pdf), 3) << pdf.toStdString();
    EXPECT_TRUE(mixed.errors.contains(QStringLiteral("1/3 Processing: Plan.pptx\n")));
    EXPECT_TRUE(mixed.errors.contains(QStringLiteral("PowerPoint can't open %1/broken.pptx: the file is damaged").arg(in)));
    EXPECT_TRUE(
        mixed.errors.contains(QStringLiteral("Done.\n\n1 of 3 presentations gave no PDF:\n%1/broken.pptx\n").arg(in)))
        << mixed.errors.toStdString();
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList({"Plan.pdf", "Tour.pdf"}));

    // Only the presentations of one type, every one of which is good.
    const Result good = run({"--export", "--extension", "odp", "--output=" + out, in + "/sub"});
    EXPECT_EQ(good.status, 0) << good.errors.toStdString();
    EXPECT_EQ(good.written, QStringList({out + "/Tour.pdf"}));
    EXPECT_TRUE(good.errors.contains(QStringLiteral("Done.\n")));
    // Nothing of it is stored in the window's settings.
    EXPECT_FALSE(QFile::exists(config.path(QStringLiteral("config/Veltrande/Pradelux.ini"))));
}

TEST_F(CommandLineTest, WrongUsageExportsNothingAndSaysWhatIsWrong)
{
    QDir().mkpath(out);
    const QString deck = test::deck(QStringLiteral("odp"));
    const QList<QPair<QStringList, QString>> cases = {
        {{"--export", "--output", out, deck, in + "/missing.pptx"}, "No such file or folder: " + in + "/missing.pptx"},
        {{"--export", "--colour", deck}, "Unknown option: --colour"},
        {{"--export", "--output", in + "/nowhere", deck}, "The output folder does not exist: " + in + "/nowhere"},
        {{"--export"}, "No presentation or folder was given."},
    };
    for (const auto& [arguments, why] : cases) {
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 2) << why.toStdString();
        EXPECT_TRUE(r.errors.contains(why)) << r.errors.toStdString();
        EXPECT_TRUE(r.written.isEmpty());
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList());
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.written.join('\n').startsWith(QStringLiteral("Usage: pradelux --export")));
}

TEST_F(CommandLineTest, TwoExportsAtOnceTakeTurnsAndEachWritesOnlyItsOwnDecks)
{
    // The first run holds a long deck; the second starts a second later and
    // a third, told not to wait, ends at once.
    QStringList longDeck;
    for (int i = 1; i <= 300; ++i)
        longDeck << QStringLiteral("Long deck slide %1").arg(i);
    const QStringList first = {in + "/first", out + "/first"};
    const QStringList second = {in + "/second", out + "/second"};
    for (const QString& folder : first + second)
        QDir().mkpath(folder);
    ASSERT_TRUE(test::writeFile(first[0] + "/long.fodp", {}, test::flatPresentation(longDeck)));
    ASSERT_TRUE(test::writeFile(first[0] + "/alpha.fodp", {}, test::flatPresentation({"Alpha"})));
    ASSERT_TRUE(test::writeFile(second[0] + "/beta.fodp", {}, test::flatPresentation({"Beta"})));
    ASSERT_TRUE(test::writeFile(second[0] + "/gamma.fodp", {}, test::flatPresentation({"Gamma"})));

    QProcess one;
    QProcess two;
    start(one, {"--export", "--output", first[1], first[0]});
    QTest::qWait(1000);
    start(two, {"--export", "--output", second[1], second[0]});
    const Result refused = run({"--export", "--no-wait", "--output", second[1], second[0]});
    const Result a = finish(one);
    const Result b = finish(two);

    EXPECT_EQ(refused.status, 3) << refused.errors.toStdString();
    EXPECT_TRUE(refused.errors.contains("another export is running: pradelux --export (process")) << refused.errors.toStdString();
    EXPECT_TRUE(refused.written.isEmpty());
    EXPECT_EQ(a.status, 0) << a.errors.toStdString();
    EXPECT_EQ(b.status, 0) << b.errors.toStdString();
    EXPECT_TRUE(b.errors.contains("waiting for another export to finish: pradelux --export (process")) << b.errors.toStdString();
    EXPECT_EQ(a.written, QStringList({first[1] + "/alpha.pdf", first[1] + "/long.pdf"}));
    EXPECT_EQ(b.written, QStringList({second[1] + "/beta.pdf", second[1] + "/gamma.pdf"}));
    const QList<QPair<QString, QString>> texts = {{first[1] + "/alpha.pdf", "Alpha"},
                                                  {first[1] + "/long.pdf", "Long deck slide 300"},
                                                  {second[1] + "/beta.pdf", "Beta"},
                                                  {second[1] + "/gamma.pdf", "Gamma"}};
    for (const auto& [pdf, text] : texts) {
        const QString inside = test::pdfText(pdf);
        EXPECT_TRUE(inside.contains(text)) << pdf.toStdString();
        for (const auto& [other, otherText] : texts)
            EXPECT_TRUE(other == pdf || !inside.contains(otherText)) << pdf.toStdString() << " holds " << otherText.toStdString();
    }
}

} // namespace
