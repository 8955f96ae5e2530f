// The per-user printer list.
#include "Printers.h"
#include "TempEnvironment.h"

#include <gtest/gtest.h>

using namespace pradelux;

TEST(UserPrinters, FirstPrinterBecomesDefaultAndRemovalMovesIt)
{
    test::TempConfig config;
    UserPrinters printers;
    EXPECT_TRUE(printers.installed().isEmpty());
    EXPECT_EQ(printers.defaultPrinter(), QString());

    ASSERT_TRUE(printers.install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("CPW2:")));
    ASSERT_TRUE(printers.install(QStringLiteral("Office Laser"), QStringLiteral("LPT1:")));
    ASSERT_TRUE(printers.install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("FILE:")));
    UserPrinters reread;
    ASSERT_EQ(reread.installed().size(), 2);
    EXPECT_EQ(reread.installed()[0].port, QStringLiteral("FILE:"));
    EXPECT_EQ(reread.defaultPrinter(), QStringLiteral("Veltrande PDF Writer"));

    EXPECT_TRUE(reread.setDefault(QStringLiteral("Office Laser")));
    EXPECT_FALSE(reread.setDefault(QStringLiteral("office laser")));
    EXPECT_TRUE(reread.remove(QStringLiteral("Office Laser")));
    EXPECT_EQ(reread.defaultPrinter(), QStringLiteral("Veltrande PDF Writer"));
    EXPECT_FALSE(reread.remove(QStringLiteral("Office Laser")));
}
