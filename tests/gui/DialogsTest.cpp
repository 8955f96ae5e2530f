// What the Qt dialogs make of the program's texts.
#include "QtDialogs.h"
#include "QtPrint.h"

#include <gtest/gtest.h>

using namespace pradelux;

TEST(QtDialogs, FilterPairsBecomeQtFiltersAndStarDotStarTakesEveryFile)
{
    EXPECT_EQ(QtDialogs::qtNameFilters(QStringLiteral("PowerPoint Files (*.p*)|*.p*|All Files (*.*)|*.*|")),
              QStringList({"PowerPoint Files (*.p*)", "All Files (*)"}));
    EXPECT_EQ(QtDialogs::qtNameFilters(QStringLiteral("Decks|*.ppt;*.odp")), QStringList({"Decks (*.ppt *.odp)"}));
    EXPECT_EQ(DisplayText(QStringLiteral("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
}
