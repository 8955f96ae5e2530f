// The sandbox as an attacker meets it: a probe run where LibreOffice runs
// tries each thing a LibreOffice taken over by its file could reach.
#include "Sandbox.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QProcess>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace pradelux;

namespace {

const QString kSandbox = QStringLiteral(PRADELUX_APPFOLDER "/pradelux-render");

QMap<QString, QString> probe(const QJsonObject& given, const QString& out, const QString& profile)
{
    QFile script(QStringLiteral(PRADELUX_SOURCE_DIR "/tests/office/sandbox_probe.py"));
    EXPECT_TRUE(script.open(QIODevice::ReadOnly));
    QProcess run;
    run.start(kSandbox, {QStringLiteral("--run-sandboxed"), given.value(QStringLiteral("presentation")).toString(), out,
                         profile, QStringLiteral("--"), QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"),
                         QString::fromUtf8(script.readAll()),
                         QString::fromUtf8(QJsonDocument(given).toJson(QJsonDocument::Compact))});
    EXPECT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    QMap<QString, QString> seen;
    for (const QString& line : QString::fromUtf8(run.readAllStandardOutput()).split(QLatin1Char('\n')))
        if (line.contains(QLatin1Char(' ')))
            seen.insert(line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1));
    return seen;
}

TEST(SandboxTest, CodeRunningAsLibreOfficeReachesOnlyThePresentationItsFolderAndItsOutput)
{
    test::TempConfig dir;
    const QString deckFolder = dir.path(QStringLiteral("talks"));
    const QString out = dir.path(QStringLiteral("out"));
    const QString home = dir.path(QStringLiteral("home"));
    const QString runtime = dir.path(QStringLiteral("runtime"));
    for (const QString& folder : {out, home, runtime, dir.path(QStringLiteral("profile"))})
        QDir().mkpath(folder);
    test::ScopedEnv homeEnv("HOME", QFile::encodeName(home));
    test::ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    test::ScopedEnv busEnv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(runtime + "/bus"));
    const QString tmpDeck = QStringLiteral("/tmp/pradelux-probe-%1.pptx").arg(::getpid());
    const QString tmpBeside = QStringLiteral("/tmp/pradelux-probe-%1.txt").arg(::getpid());
    const QString shm = QStringLiteral("/dev/shm/pradelux-probe-%1").arg(::getpid());
    for (const QString& file : {deckFolder + "/talk.pptx", deckFolder + "/sub/beside.txt",
                                deckFolder + "/.hidden/secret.txt", dir.path(QStringLiteral("outside.txt")),
                                home + "/talk.pptx", home + "/.ssh/id_ed25519", tmpDeck, tmpBeside, shm})
        ASSERT_TRUE(test::writeFile(file, {}, "content"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(deckFolder + "/fifo").constData(), 0600), 0);
    QLocalServer besideSocket, bus, agent;
    for (auto [server, path] : {std::pair{&besideSocket, deckFolder + "/listening"}, std::pair{&bus, runtime + "/bus"},
                                std::pair{&agent, runtime + "/agent"}})
        ASSERT_TRUE(server->listen(path)) << path.toStdString();
    QTcpServer network;
    ASSERT_TRUE(network.listen(QHostAddress::LocalHost));
    QProcess other;
    other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(other.waitForStarted());

    const QJsonObject common{{"outside", dir.path(QStringLiteral("outside.txt"))},
                             {"outWrite", out + "/written.pdf"},
                             {"runtimeSocket", runtime + "/agent"},
                             {"bus", runtime + "/bus"},
                             {"port", network.serverPort()},
                             {"pid", other.processId()},
                             {"shm", shm}};
    struct Row
    {
        const char* where;
        QJsonObject paths;
        QStringList reached; // everything else must be blocked
    };
    const QStringList own = {"presentation", "write-out-folder"};
    const Row rows[] = {
        {"in a folder of its own: the folder too, but not its hidden folders, sockets or pipes",
         {{"presentation", deckFolder + "/talk.pptx"},
          {"beside", deckFolder + "/sub/beside.txt"},
          {"hidden", deckFolder + "/.hidden/secret.txt"},
          {"shownWrite", deckFolder + "/new.txt"},
          {"socket", deckFolder + "/listening"},
          {"fifo", deckFolder + "/fifo"}},
         own + QStringList{"beside"}},
        {"directly in the home folder: the presentation alone",
         {{"presentation", home + "/talk.pptx"}, {"hidden", home + "/.ssh/id_ed25519"}, {"shownWrite", home + "/new"}},
         own + QStringList{"write-shown-folder"}}, // its private home: the host's stays untouched (below)
        {"directly in /tmp: the presentation alone",
         {{"presentation", tmpDeck}, {"beside", tmpBeside}, {"shownWrite", tmpDeck + ".new"}},
         own + QStringList{"write-shown-folder"}}, // its private /tmp
    };
    for (const Row& row : rows) {
        QJsonObject given = common;
        for (auto it = row.paths.begin(); it != row.paths.end(); ++it)
            given.insert(it.key(), it.value());
        const QMap<QString, QString> seen = probe(given, out, dir.path(QStringLiteral("profile")));
        EXPECT_EQ(seen.size(), 23) << row.where;
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            EXPECT_EQ(it.value(),
                      row.reached.contains(it.key()) ? QStringLiteral("reached") : QStringLiteral("blocked"))
                << row.where << ": " << it.key().toStdString();
        EXPECT_FALSE(QFile::exists(given.value(QStringLiteral("shownWrite")).toString())) << row.where;
        QFile::remove(out + "/written.pdf");
    }
    for (const QString& file : {tmpDeck, tmpBeside, shm})
        QFile::remove(file);
    other.kill();
    other.waitForFinished();
    // Nothing of the sandbox's roots is left in the temporary folder.
    EXPECT_TRUE(QDir(QDir::tempPath())
                    .entryList({QStringLiteral(".pradelux-sandbox-%1-*").arg(::getpid())}, QDir::Dirs | QDir::Hidden)
                    .isEmpty());
}

// Which of a presentation's folder the sandbox shows.
TEST(SandboxTest, PresentationsInHomeRootOrSharedTemporaryFoldersAreShownAlone)
{
    test::TempConfig dir;
    const QString home = dir.path(QStringLiteral("home"));
    QDir().mkpath(home + "/talks");
    test::ScopedEnv homeEnv("HOME", QFile::encodeName(home));
    const struct
    {
        QString presentation;
        QString shown;
    } rows[] = {
        {home + "/talks/a.pptx", home + "/talks"},
        {home + "/a.pptx", home + "/a.pptx"},
        {dir.path("a.pptx"), dir.path("a.pptx")},
        {"/a.pptx", "/a.pptx"},
        {"/tmp/a.pptx", "/tmp/a.pptx"},
        {"/var/tmp/a.pptx", "/var/tmp/a.pptx"},
        {"/dev/shm/a.pptx", "/dev/shm/a.pptx"},
        {home + "/talks/../a.pptx", home + "/a.pptx"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(office::sandbox::ShownPath(row.presentation), QDir::cleanPath(row.shown))
            << row.presentation.toStdString();
}

} // namespace
