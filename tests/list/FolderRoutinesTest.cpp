// The folder routines on real trees in temporary folders: attributes,
// matching, listing, and the level-by-level collection of folders.
#include "AddFolder.h"
#include "FakeDialogs.h"
#include "FileSystem.h"
#include "Files.h"
#include "PrivateMounts.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


using namespace pradelux;

namespace {
void touch(const QString& path, QFileDevice::Permissions perms = {})
{
    ASSERT_TRUE(test::writeFile(path, perms));
}
} // namespace

TEST(FolderRoutines, AttributesFollowTheFileKinds)
{
    test::TempConfig dir;
    const QString d = dir.path();
    touch(d + "/plain.ppt");
    touch(d + "/.hidden.ppt");
    touch(d + "/.hidden-ro.ppt", QFileDevice::ReadOwner);
    QDir().mkpath(d + "/folder");
    QFile::link(d + "/plain.ppt", d + "/link.ppt");
    ::mkfifo(QFile::encodeName(d + "/pipe").constData(), 0644);
    EXPECT_EQ(FileAttributes(d + "/plain.ppt"), attr::kArchive);
    EXPECT_EQ(FileAttributes(d + "/.hidden.ppt"), 34);
    EXPECT_EQ(FileAttributes(d + "/.hidden-ro.ppt"), 35);
    EXPECT_EQ(FileAttributes(d + "/folder"), attr::kDirectory);
    EXPECT_EQ(FileAttributes(d + "/link.ppt"), attr::kArchive | attr::kAlias);
    EXPECT_EQ(FileAttributes(d + "/pipe"), attr::kSystem);
    EXPECT_EQ(FileAttributes(d + "/missing"), -1);
    EXPECT_TRUE(IsExistingFile(d + "/plain.ppt"));
    EXPECT_FALSE(IsExistingFile(d + "/folder"));
    EXPECT_FALSE(IsExistingFile(d + "/missing"));
}

TEST(FolderRoutines, WildcardsIgnoreCaseAndStarDotStarTakesAll)
{
    const QList<std::tuple<const char*, const char*, bool>> cases = {
        {"*.ppt", "talk.PPT", true},   {"*.PPT", "talk.ppt", true},
        {"*.ppt", "talk.pptx", false}, {"*.p*", "talk.pptx", true},
        {"*.*", "README", true},       {"*..ppt", "talk.ppt", false},
        {"*..ppt", "talk..ppt", true}, {"*.ppt", "Präsentation.PPT", true},
        {"*.?pt", "a.ppt", true},      {"*.odp", "a.ppt", false},
        {"*.[ab]", "x.[ab]", true},
    };
    for (const auto& [pattern, name, match] : cases)
        EXPECT_EQ(WildcardMatch(QString::fromUtf8(pattern), QString::fromUtf8(name)), match) << pattern << " " << name;
}

TEST(FolderRoutines, UnsafeNamesHoldControlCharactersOrAQuestionMark)
{
    EXPECT_FALSE(HasUnsafeCharacters(QStringLiteral("Vorträge 2026 日本 'x' \"y\"")));
    EXPECT_TRUE(HasUnsafeCharacters(QStringLiteral("a\tb")));
    EXPECT_TRUE(HasUnsafeCharacters(QString(QChar(0x99))));
    EXPECT_TRUE(HasUnsafeCharacters(QStringLiteral("what?")));
    EXPECT_FALSE(HasUnsafeCharacters(QString(QChar(0xA0))));
}

TEST(FolderRoutines, ListFilesTakesMatchingFilesHiddenOnesIncludedAndNoFolders)
{
    test::TempConfig dir;
    const QString d = dir.path();
    touch(d + "/b.ppt");
    touch(d + "/A.PPT");
    touch(d + "/.c.ppt");
    touch(d + "/d.pptx");
    QDir().mkpath(d + "/e.ppt");
    EXPECT_EQ(ListFiles(d, QStringLiteral("*.ppt")), QStringList({"", ".c.ppt", "A.PPT", "b.ppt"}));
    EXPECT_EQ(ListFiles(d + "/", QStringLiteral("*.odp")), QStringList({""}));
    EXPECT_EQ(ListFiles(d + "/nowhere", QStringLiteral("*.*")), QStringList({""}));
}

TEST(FolderRoutines, SubfoldersComeLevelByLevelAndLinkCyclesAreScannedOnceAndLinksFollowedOnlyWhenAsked)
{
    test::TempConfig dir;
    const QString d = dir.path() + "/top";
    for (const char* sub : {"/a/a1/a11", "/b/b1", "/c"})
        QDir().mkpath(d + sub);
    QDir().mkpath(dir.path() + "/outside");
    QFile::link(d, d + "/a/back-to-top"); // a cycle
    QFile::link(d + "/b", d + "/c/b-again");
    QFile::link("../../outside", d + "/c/up"); // out of the tree
    for (const bool follow : {true, false}) {
        test::FakeDialogs dialogs;
        int yields = 0;
        FolderScanState state{dialogs, [&] { ++yields; }, {}, {}, follow};
        FolderList folders{d + "/"};
        GetSubDirectories2016(folders, true, state);
        QStringList expected{d + "/", d + "/a/", d + "/b/", d + "/c/", d + "/a/a1/", d + "/b/b1/"};
        if (follow)
            expected << d + "/c/up/";
        EXPECT_EQ(folders, expected << d + "/a/a1/a11/");
        EXPECT_TRUE(dialogs.boxes.isEmpty());
        EXPECT_GT(yields, 7);
    }
}

TEST(FolderRoutines, FoldersAreToldApartByWhatStatSaysNotByTheirDirectoryEntry)
{
    if (!test::PrivateMounts::available())
        GTEST_SKIP() << "this process may not mount";
    // "b" shows the folder that a disk mounted at "q/a" covers: the entry of
    // "q/a" still carries the covered folder's inode, so by its entry it
    // looks like "b", seen before it.
    test::TempConfig dir;
    const QString d = dir.path() + "/top";
    touch(d + "/q/a/covered.ppt");
    ASSERT_TRUE(test::PrivateMounts::bind(d + "/q/a", d + "/b"));
    ASSERT_TRUE(test::PrivateMounts::tmpfs(d + "/q/a", "size=64k"));
    touch(d + "/q/a/on the disk/deck.ppt");
    test::FakeDialogs dialogs;
    FolderScanState state{dialogs, [] {}, {}, {}};
    FolderList folders{d + "/"};
    GetSubDirectories2016(folders, true, state);
    EXPECT_EQ(folders, QStringList({d + "/", d + "/b/", d + "/q/", d + "/q/a/", d + "/q/a/on the disk/"}));
    test::PrivateMounts::unmount(d + "/q/a");
    test::PrivateMounts::unmount(d + "/b");
}

TEST(FolderRoutines, FolderThatCannotBeReadIsDroppedSilently)
{
    test::TempConfig dir;
    const QString d = dir.path() + "/top";
    QDir().mkpath(d + "/a");
    QDir().mkpath(d + "/b/deep");
    test::FakeDialogs dialogs;
    // The folder disappears between being found and being read: its listing
    // fails with "path not found" (permissions would not stop root).
    int yields = 0;
    FolderScanState state{dialogs,
                          [&] {
                              if (++yields == 5)
                                  QDir(d + "/b").removeRecursively();
                          },
                          {},
                          {}};
    FolderList folders{d + "/"};
    GetSubDirectories2016(folders, true, state);
    EXPECT_EQ(folders, QStringList({d + "/", d + "/a/"}));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
}

// A job folder that LibreOffice could write is removed without following
// anything in it, nor the folder itself where a link stands in its place,
// however deep the tree it left (a set-uid file 300 folders down, a folder
// it made unreadable).
TEST(FolderRoutines, TreeIsRemovedWithoutFollowingAnyLinkInItWhateverItsDepth)
{
    test::TempConfig dir;
    const QString tree = dir.path() + "/job";
    const QString outside = dir.path() + "/outside";
    for (const QString& folder : {tree + "/pdf/deep/deeper", tree + "/.hidden", outside, tree + "/pdf/locked/in"})
        QDir().mkpath(folder);
    // Made one step at a time: the whole path is longer than a path may be.
    const int deep = ::open(QFile::encodeName(tree + "/pdf").constData(), O_RDONLY | O_DIRECTORY);
    int at = deep;
    for (int level = 0; level < 300; ++level) {
        ASSERT_EQ(::mkdirat(at, "dddddddddddddddddddd", 0700), 0);
        const int below = ::openat(at, "dddddddddddddddddddd", O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = below;
    }
    const int setuid = ::openat(at, "root-shell", O_WRONLY | O_CREAT, 06755);
    ASSERT_GE(setuid, 0);
    ::fchmod(setuid, 06755);
    ::close(setuid);
    ::close(at);
    ::chmod(QFile::encodeName(tree + "/pdf/locked").constData(), 0);
    ASSERT_TRUE(test::writeFile(outside + "/keep.txt", {}, "keep"));
    ASSERT_TRUE(test::writeFile(tree + "/pdf/deep/deck.pdf", {}, "%PDF"));
    QFile::link(outside, tree + "/pdf/up");
    QFile::link(outside + "/keep.txt", tree + "/pdf/deep/keep.pdf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree + "/.hidden/pipe").constData(), 0600), 0);
    QFile::link(outside, dir.path() + "/linked-job");
    EXPECT_TRUE(RemoveTree(dir.path() + "/linked-job"));
    EXPECT_TRUE(RemoveTree(tree));
    EXPECT_TRUE(RemoveTree(tree)); // gone already
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
              QStringList({"outside"}));
    EXPECT_EQ(QDir(outside).entryList(QDir::Files), QStringList({"keep.txt"}));
    EXPECT_EQ(test::readFile(outside + "/keep.txt"), QStringLiteral("keep"));
}
