// pradelux --export as a script runs it: the real program, application and
// LibreOffice, no display; what it prints, where, and its exit status.
#include "Decks.h"
#include "ServerFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

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

    Result run(const QStringList& arguments)
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(display));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), arguments);
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
    EXPECT_TRUE(mixed.errors.contains(QStringLiteral("LibreOffice could not print %1/broken.pptx").arg(in)));
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

} // namespace
