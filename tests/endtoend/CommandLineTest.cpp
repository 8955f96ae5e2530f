// pradelux --export as a script runs it: the real program, application and
// LibreOffice, no display; what it prints, where, and its exit status.
#include "Decks.h"
#include "ServerFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>

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
        EXPECT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(300000));
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

// A folder that is also the output folder, as a careful user meets it: what
// the run leaves there is exactly what its final message says, nothing else
// is touched, and nothing from outside the decks gets in or out.
TEST_F(CommandLineTest, FolderThatIsAlsoTheOutputFolderKeepsEverythingTheRunDidNotReplace)
{
    QTcpServer server; // counts every request a deck makes
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    int requests = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            ++requests;
            s->close();
        }
    });
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/hostile_decks.py"),
                                 test::deck(QStringLiteral("pptx")), in, config.path(QStringLiteral("outside")),
                                 QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort())}),
              0);
    QFile::rename(in + "/links.pptx", in + "/linked.pptx");
    QFile::copy(test::deck(QStringLiteral("pptx")), in + "/good.pptx");
    QFile::copy(test::deck(QStringLiteral("odp")), in + "/twin.odp");
    QDir().mkpath(in + "/sub");
    ASSERT_TRUE(test::writeFile(in + "/sub/twin.pptx", {}, "PK\x03\x04 broken")); // the later twin
    ASSERT_TRUE(test::writeFile(in + "/invoice.pdf", {}, "%PDF-1.4 an invoice"));
    ASSERT_TRUE(test::writeFile(in + "/notes.txt", {}, "just notes"));
    QFile odp(test::deck(QStringLiteral("odp")));
    ASSERT_TRUE(odp.open(QIODevice::ReadOnly));
    const QByteArray whole = odp.readAll();
    ASSERT_TRUE(test::writeFile(in + "/refail.odp", {}, whole.left(whole.size() / 2))); // damaged now
    ASSERT_TRUE(test::writeFile(in + "/refail.pdf", {}, "%PDF-1.4 its good PDF of last week"));
    QByteArray flipped = whole;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
    ASSERT_TRUE(test::writeFile(in + "/damaged.odp", {}, flipped));
    const QByteArray undecodable = QFile::encodeName(in) + "/bad\xff.pptx"; // not valid UTF-8
    QFile::copy(test::deck(QStringLiteral("pptx")), in + "/bad.tmp");
    ASSERT_EQ(::rename(QFile::encodeName(in + "/bad.tmp").constData(), undecodable.constData()), 0);
    const auto snapshot = [&] {
        QMap<QString, QByteArray> files;
        QDirIterator it(in, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            files.insert(it.filePath(), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable"));
        }
        return files;
    };
    const auto before = snapshot();

    // The command line's default output folder may be the folder itself.
    QProcess program;
    start(program, {"--export", "--output", in, in});
    while (program.state() != QProcess::NotRunning)
        QTest::qWait(50); // the server above answers meanwhile
    const Result r = finish(program);

    const QStringList written = {in + "/good.pdf", in + "/linked.pdf", in + "/links.pdf", in + "/macro.pdf",
                                 in + "/twin.pdf"};
    EXPECT_EQ(r.status, 1) << r.errors.toStdString();
    QStringList sorted = r.written;
    sorted.sort();
    EXPECT_EQ(sorted, written) << r.errors.toStdString();
    const auto after = snapshot();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString() << " changed";
    QStringList added = after.keys();
    for (const QString& old : before.keys())
        added.removeOne(old);
    EXPECT_EQ(added, written);
    // Every row that gave no PDF is named, and no PDF is said to be replaced.
    for (const char* failed :
         {"invoice.pdf", "refail.pdf", "notes.txt", "refail.odp", "sub/twin.pptx", "damaged.odp", "beside.png"})
        EXPECT_TRUE(r.errors.contains('\n' + in + '/' + QLatin1String(failed) + '\n')) << failed;
    EXPECT_TRUE(r.errors.contains(QStringLiteral("8 of 13 presentations gave no PDF:"))) << r.errors.toStdString();
    EXPECT_TRUE(r.errors.contains(in + QStringLiteral("/bad\uFFFD.pptx (its name is not valid UTF-8)")));
    struct stat st;
    EXPECT_EQ(::stat(undecodable.constData(), &st), 0); // untouched
    // Given as an argument, it is named the same way instead of "No such file".
    QProcess named;
    named.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" --export --output \"$1\" "
                                                                            "\"$(printf '%s/bad\\377.pptx' \"$1\")\""),
                                       QStringLiteral(PRADELUX_APPFOLDER "/pradelux"), in});
    const Result one = finish(named);
    EXPECT_EQ(one.status, 1) << one.errors.toStdString();
    EXPECT_TRUE(one.errors.contains(QStringLiteral("(its name is not valid UTF-8)"))) << one.errors.toStdString();
    EXPECT_FALSE(r.errors.contains(QStringLiteral("replaced")));
    EXPECT_TRUE(r.errors.contains(in + "/invoice.pdf is itself the PDF that its export would write"));
    EXPECT_TRUE(r.errors.contains(QStringLiteral("%1/refail.odp: the file is damaged").arg(in)));

    // Nothing was fetched, nothing from outside the decks' folder was read,
    // no macro ran; the picture beside the decks is in their PDFs.
    EXPECT_EQ(requests, 0);
    for (const QString& pdf : written)
        EXPECT_FALSE(test::pdfText(pdf).contains(QStringLiteral("OUTSIDE-SECRET-TEXT"))) << pdf.toStdString();
    EXPECT_FALSE(test::pdfText(in + "/macro.pdf").contains(QStringLiteral("MACRO RAN")));
    EXPECT_FALSE(QFile::exists(in + "/macro-ran.txt"));
    for (const QString& linked : {in + "/links.pdf", in + "/linked.pdf"}) {
        QProcess images;
        images.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), linked});
        ASSERT_TRUE(images.waitForFinished(30000));
        const QString list = QString::fromUtf8(images.readAllStandardOutput());
        EXPECT_EQ(list.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size(), 3) << list.toStdString(); // one image
    }
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
