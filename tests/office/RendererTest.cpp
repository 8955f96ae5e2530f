// The LibreOffice renderer's own checks, with stand-in LibreOffice scripts:
// what it is told, and what it does when LibreOffice hangs or writes nothing.
#include "Renderer.h"
#include "Failure.h"
#include "TempEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using namespace pradelux;
using namespace pradelux::office;

namespace {

class RendererTest : public ::testing::Test
{
protected:
    test::TempConfig dir;
    QString deck = dir.path(QStringLiteral("-odd #name.pptx"));

    void SetUp() override
    {
        QFile f(deck);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("PK\x03\x04");
    }

    QString script(const QString& body)
    {
        const QString path = dir.path(QStringLiteral("soffice"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\n" + body + "\n").toUtf8());
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    QString failureOf(Renderer& renderer, RenderRequest request = {})
    {
        if (request.presentation.isEmpty())
            request.presentation = deck;
        try {
            renderer.render(request, dir.path());
        } catch (const Failure& f) {
            return f.description();
        }
        return QString();
    }
};

TEST_F(RendererTest, TellsLibreOfficeItsOwnProfileAndTheHiddenSlides)
{
    // Writes its arguments and a one-page PDF named after its input.
    Renderer renderer(script(QStringLiteral("for a in \"$@\"; do echo \"$a\"; done > \"$(dirname \"$0\")/args\"\n"
                                            "for last; do :; done\n"
                                            "out=\"$(dirname \"$last\")/$(basename \"${last%.*}\").pdf\"\n"
                                            "printf '%%PDF-1.4\\n1 0 obj <</Type /Page>> endobj\\n' > \"$out\"")),
                      dir.path(QStringLiteral("profile")), 10000);
    RenderRequest request;
    request.presentation = deck;
    request.hiddenSlides = true;
    const QString pdf = renderer.render(request, dir.path());
    EXPECT_TRUE(QFile::exists(pdf));
    QFile args(dir.path(QStringLiteral("args")));
    ASSERT_TRUE(args.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(args.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("-env:UserInstallation=file://") + dir.path(QStringLiteral("profile"))));
    EXPECT_TRUE(text.contains(QStringLiteral("\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"true\"}")));
    // The odd file name never reaches LibreOffice's command line.
    EXPECT_FALSE(text.contains(QStringLiteral("odd #name")));
}

TEST_F(RendererTest, HungLibreOfficeIsStoppedWithEverythingItStarted)
{
    const QString marker = dir.path(QStringLiteral("child.pid"));
    Renderer renderer(script(QStringLiteral("sleep 60 & echo $! > '%1'\nwait").arg(marker)), dir.path(), 1000);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(failureOf(renderer).contains(QStringLiteral("did not finish printing")));
    EXPECT_LT(clock.elapsed(), 10000);
    QFile pidFile(marker);
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const QByteArray pid = pidFile.readAll().trimmed();
    QTest::qWait(200);
    // The grandchild went with the group (a zombie reaped by init counts as gone).
    QFile stat("/proc/" + pid + "/stat");
    const bool alive = stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z");
    EXPECT_FALSE(alive);
}

TEST_F(RendererTest, NoPdfOrAPdfWithoutPagesIsAFailureNamingTheFile)
{
    Renderer silent(script(QStringLiteral("exit 0")), dir.path(), 10000);
    EXPECT_EQ(failureOf(silent), QStringLiteral("LibreOffice could not print %1: the file is damaged, protected by a "
                                                "password, or not a presentation it can read.")
                                     .arg(deck));
    Renderer empty(script(QStringLiteral("for last; do :; done\nprintf '%%PDF-1.4\\n/Type /Pages' > "
                                         "\"$(dirname \"$last\")/deck.pdf\"")),
                   dir.path(), 10000);
    EXPECT_EQ(failureOf(empty), QStringLiteral("%1 has no slides to print.").arg(deck));
}

TEST(RendererPages, CountsPageObjectsOnly)
{
    EXPECT_EQ(Renderer::pageCount("<</Type /Pages /Count 2>> <</Type/Page>> <</Type /Page /Parent 1 0 R>>"), 2);
    EXPECT_EQ(Renderer::pageCount("<</Type /Pages>>"), 0);
}

} // namespace
