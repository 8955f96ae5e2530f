// The PDF printer's port: where it writes, how, and when it refuses.
#include "PdfWriterPort.h"
#include "Failure.h"
#include "PdfPrinter.h"
#include "PrivateMounts.h"
#include "Registry.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

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
    // A temporary file a killed writer left goes; one another job is writing stays.
    const QString left = config.path(QStringLiteral("Out dir/.pradelux-Ab12Cd"));
    const QString writing = config.path(QStringLiteral("Out dir/.pradelux-Ef34Gh"));
    ASSERT_TRUE(test::writeFile(left, {}, "%PDF-1.4 half") && test::writeFile(writing, {}, "%PDF-1.4 hal"));
    const int held = ::open(QFile::encodeName(writing).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Q3 ü"), {}, 7}), out);
    EXPECT_EQ(read(out), QByteArray("%PDF-1.4 the pages"));
    // The pages the renderer counted go with the PDF, for the report.
    EXPECT_EQ(pdfprinter::RecordedPages(out), 7);
    EXPECT_EQ(QDir(config.path(QStringLiteral("Out dir"))).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({".pradelux-Ef34Gh", "Q3 ü.pdf"}));
    ::close(held);
    QFile::remove(writing);

    // A name as long as the disk allows (255 bytes) is written too.
    const QString longest = config.path(QStringLiteral("Out dir/") + QString(251, QLatin1Char('x')) + ".pdf");
    steer(longest, QStringLiteral("1"));
    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("x"), {}}), longest);
    EXPECT_EQ(read(longest), QByteArray("%PDF-1.4 the pages"));
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
            port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Q3"), {}});
            ADD_FAILURE() << "wrote to " << target.toStdString();
        } catch (const Failure& f) {
            EXPECT_TRUE(f.description().contains(why)) << f.description().toStdString();
        }
    }
    EXPECT_FALSE(QDir(config.path(QStringLiteral("missing"))).exists());
}

TEST_F(PdfWriterPortTest, DiskThatFillsUpLeavesNoPartOfThePdfAndSaysSo)
{
    // A write that stops half-way, as a full disk makes it: the short write
    // must not be taken for the whole.
    const QByteArray pages(200 * 1024, 'p');
    const QString folder = config.path(QStringLiteral("out"));
    QDir().mkpath(folder);
    int calls = 0;
    const WriteFunction halfThenFull = [&](int fd, const void* data, size_t size) -> ssize_t {
        if (calls++ == 0)
            return ::write(fd, data, size / 2);
        errno = ENOSPC;
        return -1;
    };
    QList<QPair<QString, WriteFunction>> cases = {{folder + QStringLiteral("/Q3.pdf"), halfThenFull}};
    const QString small = config.path(QStringLiteral("small disk"));
    if (test::PrivateMounts::available() && test::PrivateMounts::tmpfs(small, "size=64k"))
        cases.append({small + QStringLiteral("/Q3.pdf"), ::write});
    for (const auto& [target, writer] : cases) {
        try {
            writeWhole(target, pages, writer);
            ADD_FAILURE() << "wrote " << target.toStdString();
        } catch (const Failure& f) {
            EXPECT_EQ(f.description(), QStringLiteral("%1 could not be written: the disk is full").arg(target));
        }
        EXPECT_EQ(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
    if (cases.size() == 1)
        GTEST_SKIP() << "the full-disk case needs a mount, which this process may not make";
    test::PrivateMounts::unmount(small);
}

TEST_F(PdfWriterPortTest, WithoutBypassTheJobGoesToDocumentsUnderAFreeName)
{
    const QString out = config.path(QStringLiteral("steered.pdf"));
    steer(out, QStringLiteral("0"));
    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Plan"), {}}),
              documents + QStringLiteral("/Plan.pdf"));
    EXPECT_EQ(port.write({job, QStringLiteral("Veltrande PDF Writer"), QStringLiteral("Plan"), {}}),
              documents + QStringLiteral("/Plan (2).pdf"));
    EXPECT_FALSE(QFile::exists(out));
}

} // namespace

namespace {
// Two printers writing into one folder at once (the jobs of --jobs): neither
// takes a file the other is writing for one that a killed writer left. On
// a memory file system, so that many writes fit in a moment.
TEST(PdfWriterPortRaceTest, TwoWritersInOneFolderNeverTakeEachOthersFiles)
{
    QTemporaryDir folder(QStringLiteral("/dev/shm/pradelux-writers-XXXXXX"));
    ASSERT_TRUE(folder.isValid());
    std::atomic<int> failed{0};
    const auto writer = [&](int job) {
        for (int i = 0; i < 3000; ++i) {
            try {
                writeWhole(folder.filePath(QStringLiteral("job%1-%2.pdf").arg(job).arg(i % 10)), "%PDF-1.4 pages");
            } catch (const Failure&) {
                ++failed;
            }
        }
    };
    std::thread first(writer, 1);
    std::thread second(writer, 2);
    first.join();
    second.join();
    EXPECT_EQ(failed, 0);
}
} // namespace
