// The PDF printer's port: where it writes, how, and when it refuses.
#include "PdfWriterPort.h"
#include "Failure.h"
#include "Registry.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace pradelux;
using namespace pradelux::office;

namespace {

class PdfWriterPortTest : public ::testing::Test
{
protected:
    test::TempConfig config;
    FileRegistry registry;
    QString documents = config.path(QStringLiteral("Documents"));
    PdfWriterPort port{registry, documents};
    QString job = config.path(QStringLiteral("job.pdf"));

    void SetUp() override
    {
        QFile f(job);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4 the pages");
    }

    void steer(const QString& output, const QString& bypass)
    {
        Registry::Key key = 0;
        registry.createKey(QStringLiteral("Software\\Veltrande PDF Writer"), &key);
        registry.setStringValue(key, QStringLiteral("OutputFile"), output);
        registry.setStringValue(key, QStringLiteral("BypassSaveAs"), bypass);
        registry.closeKey(key);
    }

    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(PdfWriterPortTest, WritesToTheRegistryPathReplacingAnEarlierFileAndLeavesNothingElse)
{
    const QString out = config.path(QStringLiteral("Out dir/Q3 ü.pdf"));
    QDir().mkpath(config.path(QStringLiteral("Out dir")));
    QFile old(out);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    steer(out, QStringLiteral("1"));

    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Q3 ü")}), out);
    EXPECT_EQ(read(out), QByteArray("%PDF-1.4 the pages"));
    EXPECT_EQ(QDir(config.path(QStringLiteral("Out dir"))).entryList(QDir::Files | QDir::Hidden),
              QStringList({"Q3 ü.pdf"}));
}

TEST_F(PdfWriterPortTest, RefusesMissingFoldersFoldersAsTargetsAndAnEmptyPath)
{
    const QString folderTarget = config.path(QStringLiteral("a folder"));
    QDir().mkpath(folderTarget);
    const QList<QPair<QString, QString>> cases = {
        {config.path(QStringLiteral("missing/Q3.pdf")), QStringLiteral("does not exist")},
        {folderTarget, QStringLiteral("is a folder")},
        {QString(), QStringLiteral("no output file")},
    };
    for (const auto& [target, why] : cases) {
        steer(target, QStringLiteral("1"));
        try {
            port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Q3")});
            ADD_FAILURE() << "wrote to " << target.toStdString();
        } catch (const Failure& f) {
            EXPECT_TRUE(f.description().contains(why)) << f.description().toStdString();
        }
    }
    EXPECT_FALSE(QDir(config.path(QStringLiteral("missing"))).exists());
}

TEST_F(PdfWriterPortTest, WithoutBypassTheJobGoesToDocumentsUnderAFreeName)
{
    const QString out = config.path(QStringLiteral("steered.pdf"));
    steer(out, QStringLiteral("0"));
    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Plan")}),
              documents + QStringLiteral("/Plan.pdf"));
    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Plan")}),
              documents + QStringLiteral("/Plan (2).pdf"));
    EXPECT_FALSE(QFile::exists(out));
}

} // namespace
