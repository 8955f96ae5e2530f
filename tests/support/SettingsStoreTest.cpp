// The settings store: defaults, empty values, exact round trips, failed writes.
#include "SettingsStore.h"
#include "Failure.h"
#include "TempEnvironment.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace pradelux;

TEST(SettingsStore, AbsentKeyGivesDefaultButStoredEmptyTextStaysEmpty)
{
    test::TempConfig config;
    SettingsStore store;
    EXPECT_EQ(store.ReadSetting(settings::kExtension, QStringLiteral("ppt")), QStringLiteral("ppt"));
    store.WriteSetting(settings::kLocation, QString());
    EXPECT_EQ(store.ReadSetting(settings::kLocation, QStringLiteral("/home/x/Desktop/")), QString());
    EXPECT_TRUE(store.file().startsWith(config.path()));
    EXPECT_TRUE(store.file().endsWith(QStringLiteral("Veltrande/Pradelux.ini")));
}

TEST(SettingsStore, TextsSurviveANewStoreExactlyAsWritten)
{
    test::TempConfig config;
    const QList<QPair<QString, QString>> cases = {
        {settings::kLocation, QStringLiteral("  /tmp/with blanks/ ")},
        {settings::kLastFolder, QStringLiteral("C:\\Talks\\\\Q3")},
        {settings::kLastFolderDot, QStringLiteral("/home/zoë/Präsentationen/日本")},
        {settings::kExtension, QStringLiteral("*")},
        {settings::kSnapshot, QStringLiteral("a|b=c;d,e\"f'g#h[i]")},
    };
    {
        SettingsStore store;
        for (const auto& [key, text] : cases)
            store.WriteSetting(key, text);
    }
    SettingsStore reopened;
    for (const auto& [key, text] : cases)
        EXPECT_EQ(reopened.ReadSetting(key, QStringLiteral("default")), text) << key.toStdString();
}

TEST(SettingsStore, LastWriteWinsAcrossStores)
{
    test::TempConfig config;
    SettingsStore first;
    SettingsStore second;
    first.WriteSetting(settings::kLocation, QStringLiteral("/one/"));
    second.WriteSetting(settings::kLocation, QStringLiteral("/two/"));
    EXPECT_EQ(first.ReadSetting(settings::kLocation, QString()), QStringLiteral("/two/"));
}

TEST(SettingsStore, WriteThatCannotReachTheFileIsAFailure)
{
    test::TempConfig config;
    // A folder where the settings file should be cannot be written, even by root.
    const QString file = config.path(QStringLiteral("blocked.ini"));
    ASSERT_TRUE(QDir().mkpath(file));
    SettingsStore store(file);
    try {
        store.WriteSetting(settings::kLocation, QStringLiteral("/x/"));
        FAIL() << "the write did not fail";
    } catch (const Failure& f) {
        EXPECT_TRUE(f.description().contains(QStringLiteral("Location")));
    }
}
