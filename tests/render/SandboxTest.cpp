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

// A presentation is shown with the pictures it links below its folder, each
// opened through no link and no hidden entry, with one name, that the user
// could read; nothing else of the folder, whatever the deck calls it: not
// its notes, its other decks, a PDF, a file of another's or one the user's
// own permissions keep from them.
TEST(SandboxTest, ADeckIsShownWithThePicturesItLinksBelowItsFolderAlone)
{
    test::TempConfig dir;
    const QString talks = dir.path(QStringLiteral("talks"));
    const QByteArray png = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR";
    for (const QString& file :
         {talks + "/beside.png", talks + "/pics/below.png", talks + "/.hidden/secret.png", talks + "/.dot.png",
          dir.path("outside.png"), talks + "/twice.png", talks + "/locked/pic.png", talks + "/mine.png",
          talks + "/roots.png", talks + "/anothers.png"})
        test::writeFile(file, {}, png);
    test::writeFile(talks + "/deck.pptx", {}, "PK\3\4");
    test::writeFile(talks + "/board.pptx", {}, "PK\3\4");
    test::writeFile(talks + "/board.pdf", {}, "%PDF-1.7\n");
    test::writeFile(talks + "/notes.txt", {}, "my notes");
    test::writeFile(talks + "/drawing.svg", {}, "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
    QFile::link(dir.path("outside.png"), talks + "/link-out.png");
    QFile::link(talks + "/beside.png", talks + "/link-in.png");
    ::link(QFile::encodeName(talks + "/twice.png").constData(), QFile::encodeName(talks + "/hard.png").constData());
    ::chmod(QFile::encodeName(talks + "/locked").constData(), 0);
    ::mkfifo(QFile::encodeName(talks + "/fifo").constData(), 0600);
    // Run as root, the deck is an ordinary user's: root's files it could not
    // read, and another user's, are not its own.
    const bool root = ::geteuid() == 0;
    if (root) {
        for (const char* file : {"deck.pptx", "beside.png", "pics", "pics/below.png", "mine.png", "drawing.svg"})
            ::chown(QFile::encodeName(talks + '/' + QLatin1String(file)).constData(), 65534, 65534);
        ::chown(QFile::encodeName(talks + "/anothers.png").constData(), 12345, 12345);
        ::chmod(QFile::encodeName(talks + "/roots.png").constData(), 0600);
    }
    const struct
    {
        QString link;
        bool shown;
    } rows[] = {
        {"beside.png", true},
        {"pics/below.png", true},
        {"./pics/../beside.png", true},
        {"drawing.svg", true},
        {"mine.png", true},
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
        {"notes.txt", false},
        {"board.pptx", false},
        {"board.pdf", false},
        {"hard.png", false},
        {"locked/pic.png", false},
        {"roots.png", !root},
        {"anothers.png", !root},
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
    ::chmod(QFile::encodeName(talks + ".old/locked").constData(), 0700);
}

} // namespace
