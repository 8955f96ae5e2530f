// Which of the user's files the sandbox shows with a presentation (what code
// running as LibreOffice reaches is tried by the escape kit's end-to-end test).
#include "Deck.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace pradelux;

namespace {

// A presentation is shown with the files it links below its folder, each
// opened through no link and no hidden entry; nothing else of the folder.
TEST(SandboxTest, ADeckIsShownWithTheRegularFilesItLinksBelowItsFolderAlone)
{
    test::TempConfig dir;
    const QString talks = dir.path(QStringLiteral("talks"));
    for (const QString& file : {talks + "/deck.pptx", talks + "/beside.png", talks + "/pics/below.png",
                                talks + "/.hidden/secret.png", talks + "/.dot.png", dir.path("outside.png")})
        test::writeFile(file, {}, "x");
    QFile::link(dir.path("outside.png"), talks + "/link-out.png");
    QFile::link(talks + "/beside.png", talks + "/link-in.png");
    ::mkfifo(QFile::encodeName(talks + "/fifo").constData(), 0600);
    const struct
    {
        QString link;
        bool shown;
    } rows[] = {
        {"beside.png", true},
        {"pics/below.png", true},
        {"./pics/../beside.png", true},
        {"../outside.png", false},
        {dir.path("outside.png"), false},
        {"link-out.png", false},
        {"link-in.png", false},
        {".hidden/secret.png", false},
        {".dot.png", false},
        {"fifo", false},
        {"pics", false},
        {"missing.png", false},
        {"", false},
    };
    for (const auto& row : rows) {
        render::service::Deck deck;
        QString why;
        ASSERT_TRUE(deck.open(talks + "/deck.pptx", {row.link}, &why)) << why.toStdString();
        ASSERT_FALSE(deck.files().isEmpty());
        EXPECT_EQ(deck.files().first().path, QFileInfo(talks + "/deck.pptx").canonicalFilePath());
        EXPECT_EQ(deck.files().size(), row.shown ? 2 : 1) << row.link.toStdString();
        if (row.shown && deck.files().size() == 2) {
            EXPECT_EQ(deck.files()[1].path, QDir::cleanPath(QFileInfo(talks).canonicalFilePath() + "/" + row.link));
        }
    }
    // A folder is known by what it is: the same folder under a new name is
    // the same, another folder under the old name is not.
    render::service::Deck first, renamed, replaced;
    QString why;
    ASSERT_TRUE(first.open(talks + "/deck.pptx", {}, &why));
    ASSERT_TRUE(QDir().rename(talks, talks + ".old"));
    ASSERT_TRUE(renamed.open(talks + ".old/deck.pptx", {}, &why));
    test::writeFile(talks + "/deck.pptx", {}, "y");
    ASSERT_TRUE(replaced.open(talks + "/deck.pptx", {}, &why));
    EXPECT_TRUE(first.folder() == renamed.folder());
    EXPECT_FALSE(first.folder() == replaced.folder());
    // What is no regular file is no presentation to show.
    render::service::Deck none;
    EXPECT_FALSE(none.open(talks + ".old/fifo", {}, &why));
    EXPECT_FALSE(none.open(talks + ".old/pics", {}, &why));
}

} // namespace
