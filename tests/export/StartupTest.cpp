// The plain routines of start-up: the title rule, the default output folder,
// the occasional web-site visit.
#include "Startup.h"
#include "Failure.h"
#include "FakeShell.h"

#include "TempEnvironment.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace pradelux;

TEST(ApplicationTitle, CutsBeforeTheLastBlankUntilFortyCharactersAtLeastOnce)
{
    const QList<QPair<QString, QString>> cases = {
        {QStringLiteral("Convert Many Slide Decks Into Portable Document Files Now"),
         QStringLiteral("Convert Many Slide Decks Into Portable")},
        {QStringLiteral("Alpha Beta Gamma"), QStringLiteral("Alpha Beta")},
        {QStringLiteral("Alpha Beta"), QStringLiteral("Alpha")},
        {QStringLiteral("Pradelux"), QStringLiteral("Pradelux")},
        {QString(), QString()},
        // Long and without a blank once cut: nothing more to cut at.
        {QStringLiteral("Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa B"),
         QStringLiteral("Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa")},
    };
    for (const auto& [title, expected] : cases)
        EXPECT_EQ(ApplicationTitle(title), expected) << title.toStdString();
    EXPECT_EQ(ApplicationTitle(cases[0].first).size(), 38);
}

TEST(DefaultOutputFolder, DesktopFolderThenHomeFolderWithSeparatorOrAFailure)
{
    test::TempConfig dir;
    const QString desktop = dir.path(QStringLiteral("Schreibtisch"));
    QDir().mkpath(desktop);
    const QString home = dir.path();
    const QList<std::tuple<QString, QString, QString>> cases = {
        {desktop, home, desktop + QStringLiteral("/")},
        {dir.path(QStringLiteral("no desktop")), home, home + QStringLiteral("/")},
        {QString(), home, home + QStringLiteral("/")},
    };
    for (const auto& [desk, homeFolder, expected] : cases)
        EXPECT_EQ(DefaultOutputFolder([d = desk] { return d; }, homeFolder), expected) << desk.toStdString();
    try {
        DefaultOutputFolder([] { return QString(); }, QString());
        FAIL() << "no failure without a desktop or home folder";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), failure::kInvalidArgument);
    }
}

TEST(VisitWebSiteNowAndThen, OpensOurAddressOnlyOnTheDrawOfSeven)
{
    const QList<QPair<double, bool>> draws = {{0.0, false},   {0.059, false}, {0.06, true},
                                              {0.0699, true}, {0.07, false},  {0.999, false}};
    for (const auto& [r, opens] : draws) {
        test::FakeShell shell;
        VisitWebSiteNowAndThen([r = r] { return r; }, shell);
        EXPECT_EQ(shell.opened, opens ? QStringList{kWebAddress} : QStringList{}) << r;
    }
}
