// The plain routines of start-up: the title rule, the default output folder,
// the occasional web-site visit.
#include "Startup.h"
#include "Failure.h"
#include "FakeShell.h"

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

TEST(DefaultOutputFolder, DesktopFolderWithSeparatorOrAFailure)
{
    EXPECT_EQ(DefaultOutputFolder([] { return QStringLiteral("/home/ana/Schreibtisch"); }),
              QStringLiteral("/home/ana/Schreibtisch/"));
    try {
        DefaultOutputFolder([] { return QString(); });
        FAIL() << "no failure without a desktop folder";
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
    const double r = TimeSeededRandom();
    EXPECT_GE(r, 0.0);
    EXPECT_LT(r, 1.0);
}
