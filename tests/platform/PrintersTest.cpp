// The per-user printer list.
#include "Printers.h"
#include "TempEnvironment.h"

#include <gtest/gtest.h>

using namespace pradelux;

TEST(UserPrinters, SystemListsAreReadWithTheUsersOwnWhichWinsOnAClash)
{
    test::TempConfig config;
    const QString system = config.path(QStringLiteral("system-config/Veltrande/printers.json"));
    UserPrinters forEveryone(system, {});
    ASSERT_TRUE(forEveryone.install(QStringLiteral("Veltrande PDF Writer"), QStringLiteral("CPW2:")));
    ASSERT_TRUE(forEveryone.install(QStringLiteral("Office Laser"), QStringLiteral("LPT1:")));

    UserPrinters printers; // the user's own list, with the system's config folder of this test
    ASSERT_EQ(printers.installed().size(), 2);
    EXPECT_TRUE(printers.installed()[0].system);
    EXPECT_EQ(printers.defaultPrinter(), QStringLiteral("Veltrande PDF Writer"));
    // A user's removal of a printer for every user is refused, and says why.
    EXPECT_TRUE(printers.isSystemPrinter(QStringLiteral("Office Laser")));
    EXPECT_FALSE(printers.remove(QStringLiteral("Office Laser")));
    EXPECT_EQ(printers.installed().size(), 2);

    // The user's own printer of the same name wins, and its default too.
    ASSERT_TRUE(printers.install(QStringLiteral("Office Laser"), QStringLiteral("FILE:")));
    const QList<PrinterInfo> all = printers.installed();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].name, QStringLiteral("Office Laser"));
    EXPECT_EQ(all[0].port, QStringLiteral("FILE:"));
    EXPECT_FALSE(all[0].system);
    EXPECT_EQ(printers.defaultPrinter(), QStringLiteral("Office Laser"));
    EXPECT_FALSE(printers.isSystemPrinter(QStringLiteral("Office Laser")));
    EXPECT_TRUE(printers.remove(QStringLiteral("Office Laser")));
    EXPECT_TRUE(printers.isSystemPrinter(QStringLiteral("Office Laser"))); // the system's is there again
}

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
