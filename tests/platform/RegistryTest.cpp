// The per-user registry: values reach another reader at once, names cannot
// escape the key's folder, and bad handles are refused.
#include "Registry.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <gtest/gtest.h>

using namespace pradelux;

TEST(FileRegistry, ValuesWrittenThroughAKeyAreReadByAnotherInstance)
{
    test::TempConfig config;
    FileRegistry writer;
    Registry::Key key = 0;
    ASSERT_EQ(writer.createKey(QStringLiteral("Software\\Veltrande PDF Writer"), &key), registry::kSuccess);
    EXPECT_EQ(writer.setStringValue(key, QStringLiteral("OutputFile"), QStringLiteral("/tmp/Out/Q3 ü.pdf")), 0);
    EXPECT_EQ(writer.setStringValue(key, QStringLiteral("BypassSaveAs"), QStringLiteral("1")), 0);
    EXPECT_EQ(writer.setStringValue(key, QStringLiteral("OutputFile"), QStringLiteral("/tmp/Out/second.pdf")), 0);
    EXPECT_EQ(writer.closeKey(key), registry::kSuccess);

    FileRegistry reader;
    EXPECT_EQ(reader.readString(QStringLiteral("Software\\Veltrande PDF Writer"), QStringLiteral("OutputFile")),
              QStringLiteral("/tmp/Out/second.pdf"));
    EXPECT_EQ(reader.readString(QStringLiteral("Software\\Veltrande PDF Writer"), QStringLiteral("BypassSaveAs")),
              QStringLiteral("1"));
    EXPECT_FALSE(reader.readString(QStringLiteral("Software\\Veltrande PDF Writer"), QStringLiteral("Missing")));
    // Opening the key again finds the values it holds.
    Registry::Key again = 0;
    EXPECT_EQ(reader.createKey(QStringLiteral("Software\\Veltrande PDF Writer"), &again), registry::kSuccess);
    EXPECT_TRUE(FileRegistry::defaultRoot().startsWith(config.path()));
}

TEST(FileRegistry, NamesStayInsideTheirKeyAndClosedKeysAreRefused)
{
    test::TempConfig config;
    const QString root = config.path(QStringLiteral("hkcu"));
    FileRegistry reg(root);
    Registry::Key key = 0;
    ASSERT_EQ(reg.createKey(QStringLiteral("Software\\..\\a/b"), &key), registry::kSuccess);
    EXPECT_EQ(reg.setStringValue(key, QStringLiteral("../../escape"), QStringLiteral("x")), 0);
    EXPECT_EQ(reg.readString(QStringLiteral("Software\\..\\a/b"), QStringLiteral("../../escape")), QStringLiteral("x"));
    QDirIterator it(config.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        EXPECT_TRUE(it.next().startsWith(root + QStringLiteral("/Software/"))) << it.filePath().toStdString();

    EXPECT_EQ(reg.closeKey(key), registry::kSuccess);
    EXPECT_EQ(reg.closeKey(key), registry::kInvalidHandle);
    EXPECT_EQ(reg.setStringValue(key, QStringLiteral("v"), QStringLiteral("x")), registry::kInvalidHandle);
    EXPECT_EQ(reg.createKey(QString(), &key), registry::kInvalidParameter);
}
