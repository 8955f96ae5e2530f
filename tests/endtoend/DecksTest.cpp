// The shared test decks, made once before the groups of end-to-end tests
// run at once, so that no two of them make the same deck at the same time.
#include "Decks.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(Decks, AreMadeOnceBeforeTheGroupsRun)
{
    for (const char* suffix : {"fodp", "odp", "pptx", "ppt"})
        EXPECT_GT(QFileInfo(pradelux::test::deck(QLatin1String(suffix))).size(), 0) << suffix;
}
