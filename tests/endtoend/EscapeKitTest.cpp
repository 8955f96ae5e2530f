// A LibreOffice taken over by its file, as the escape kit plays it: the real
// program exports three decks (in a folder of the home folder, in the home
// folder itself and in /tmp) with the kit in place of LibreOffice, in both
// renderers, as the user the tests run as and, when that is root, as an
// ordinary user too. Each PDF says what the kit reached from inside.
#include "Decks.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pradelux;

namespace {

const QString kApp = QStringLiteral(PRADELUX_APPFOLDER);

// Attempts that code which escaped would win, which the sandbox must block.
const QStringList kEscapes = {"hidden-folder", "home-secret",    "outside",         "socket-beside",
                              "fifo-beside",   "runtime-socket", "session-bus",     "network",
                              "other-process", "host-shm",       "host-tmp",        "many-processes",
                              "extra-devices", "new-privileges", "host-environment"};
// What the kit says of every row.
constexpr int kAttempts = 30;
// Those that only root wins outside.
const QStringList kRootEscapes = {"proc-sys", "root-only-file", "root-user", "capabilities"};

// A user's world for one run: home, runtime folder with a real session bus
// and an agent's socket, decks, a process and files of the host, and the kit.
class World
{
public:
    explicit World(uid_t user) : m_user(user)
    {
        home = m_dir.filePath(QStringLiteral("home"));
        runtime = m_dir.filePath(QStringLiteral("runtime"));
        kit = m_dir.filePath(QStringLiteral("kit"));
        out = m_dir.filePath(QStringLiteral("out"));
        talks = home + QStringLiteral("/talks");
        const QString tag = QString::number(::getpid()) + QLatin1Char('-') + QString::number(user);
        decks = {talks + "/talk.pptx", home + "/in-home.pptx", "/tmp/pradelux-kit-" + tag + ".pptx"};
        // Decks that misbehave, each in a way of its own (see rows below).
        QDir().mkpath(home + "/lent");
        for (const char* name : {"swap", "answerTwice", "lie", "fillFolder", "forkBomb", "fillHome", "flood"}) {
            lent.insert(name, home + "/lent/" + name + ".pptx");
            QFile::copy(test::deck(QStringLiteral("pptx")), lent[name]);
        }
        // Two decks of one folder, printed one after the other.
        pair = {home + "/pair/one.pptx", home + "/pair/two.pptx"};
        QDir().mkpath(home + "/pair");
        for (const QString& deck : pair)
            QFile::copy(test::deck(QStringLiteral("pptx")), deck);
        hostFiles = {"/tmp/pradelux-kit-" + tag + ".txt", "/dev/shm/pradelux-kit-" + tag};
        QDir().mkpath(talks);
        for (const QString& deck : decks)
            QFile::copy(test::deck(QStringLiteral("pptx")), deck);
        for (const QString& file : hostFiles + QStringList{talks + "/sub/beside.txt", talks + "/.hidden/secret.txt",
                                                           home + "/.ssh/id_ed25519", m_dir.filePath("outside.txt")})
            test::writeFile(file, {}, "secret");
        // A pipe with a reader, which a writer outside would reach.
        ::mkfifo(QFile::encodeName(talks + "/fifo").constData(), 0666);
        m_fifoReader = ::open(QFile::encodeName(talks + "/fifo").constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QDir().mkpath(runtime);
        QDir().mkpath(out);
        QDir().mkpath(kit);
        QFile::copy(QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/escape_kit/probe.py"), kit + "/probe.py");
        QFile::copy(QStringLiteral(PRADELUX_ESCAPE_KIT_LIBRARY), kit + "/libsofficeapp.so");
        test::writeFile(kit + "/soffice",
                        QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                            QFileDevice::ExeOther | QFileDevice::WriteOwner,
                        "#!/bin/sh\nexec /usr/bin/python3 \"${0%/*}/probe.py\" \"$@\"\n");
        for (QLocalServer* server : {&m_besideSocket, &m_agent})
            server->setSocketOptions(QLocalServer::WorldAccessOption);
        m_besideSocket.listen(talks + "/listening");
        m_agent.listen(runtime + "/agent");
        m_network.listen(QHostAddress::LocalHost);
        // The whole world is the user's, so that only the sandbox stands in
        // the kit's way.
        chown(m_dir.path());
        for (const QString& path : decks + hostFiles)
            chown(path);
        start(m_bus, {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + runtime + "/bus"});
        start(m_other, {"sleep", "600"});
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(runtime + "/bus") && clock.elapsed() < 10000)
            QThread::msleep(20);

        QJsonObject rows;
        rows.insert(decks[0], QJsonObject{{"beside", talks + "/sub/beside.txt"},
                                          {"hidden", talks + "/.hidden/secret.txt"},
                                          {"shownWrite", talks + "/new.txt"},
                                          {"socket", talks + "/listening"},
                                          {"fifo", talks + "/fifo"},
                                          {"waitFor", talks + "/go-on"}});
        rows.insert(decks[1], QJsonObject{{"shownWrite", home + "/new.txt"}});
        rows.insert(decks[2], QJsonObject{{"shownWrite", decks[2] + ".new"}});
        for (auto it = lent.cbegin(); it != lent.cend(); ++it)
            rows.insert(it.value(), QJsonObject{{"shownWrite", it.value() + ".new"}, {it.key(), true}});
        for (const QString& deck : pair)
            rows.insert(deck, QJsonObject{{"shownWrite", deck + ".new"}});
        rows.insert(lent["swap"],
                    QJsonObject{{"shownWrite", lent["swap"] + ".new"}, {"swap", home + "/.ssh/id_ed25519"}});
        const QJsonObject common{{"outside", m_dir.filePath("outside.txt")},
                                 {"homeSecret", home + "/.ssh/id_ed25519"},
                                 {"homeWrite", home + "/.bashrc"},
                                 {"runtimeSocket", runtime + "/agent"},
                                 {"bus", runtime + "/bus"},
                                 {"port", m_network.serverPort()},
                                 {"pid", m_other.processId()},
                                 {"shm", hostFiles[1]},
                                 {"hostTmp", hostFiles[0]},
                                 {"template", home + "/.cache/pradelux-office/profile-template"}};
        test::writeFile(kit + "/targets.json", {},
                        QJsonDocument(QJsonObject{{"common", common}, {"rows", rows}}).toJson());
    }
    ~World()
    {
        ::close(m_fifoReader);
        for (QProcess* p : {&m_bus, &m_other}) {
            p->kill();
            p->waitForFinished();
        }
        for (const QString& path : decks.mid(2) + hostFiles)
            QFile::remove(path);
    }

    // program as the world's user, in the user's environment.
    void start(QProcess& process, QStringList command, const QString& renderer = QString()) const
    {
        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", home);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("XDG_CONFIG_DIRS", m_dir.filePath("system-config"));
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime + "/bus");
        env.insert("SSH_AUTH_SOCK", runtime + "/agent");
        env.insert("PRADELUX_OFFICE_SOFFICE", kit + "/soffice");
        // Bounds small enough for the kit to pass them.
        env.insert("PRADELUX_RENDER_PDF_LIMIT", "10");
        env.insert("PRADELUX_RENDER_MEMORY_LIMIT", "600");
        // A sanitizer build's options, as the test got them.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(name))
                env.insert(name, qEnvironmentVariable(name));
        if (!renderer.isEmpty())
            env.insert("PRADELUX_OFFICE_RENDERER", renderer);
        process.setProcessEnvironment(env);
        if (m_user != ::getuid())
            command = QStringList{"setpriv", "--reuid=" + QString::number(m_user), "--regid=" + QString::number(m_user),
                                  "--clear-groups", "--"} +
                      command;
        process.start(command.takeFirst(), command);
        process.waitForStarted();
    }

    QString home, runtime, kit, out, talks;
    QMap<QString, QString> lent;
    QStringList decks, pair, hostFiles;

private:
    void chown(const QString& path) const
    {
        if (m_user == ::getuid())
            return;
        QProcess::execute("chown", {"-R", QString::number(m_user) + ":" + QString::number(m_user), path});
    }

    uid_t m_user;
    QTemporaryDir m_dir{QStringLiteral("/tmp/pradelux-kit-XXXXXX")};
    QLocalServer m_besideSocket, m_agent;
    QTcpServer m_network;
    QProcess m_bus, m_other;
    int m_fifoReader = -1;
};

// What the kit said in a PDF: attempt → reached or blocked.
QMap<QString, QString> said(const QString& pdf)
{
    QMap<QString, QString> seen;
    QFile file(pdf);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("% ") && line.count(' ') == 2)
                seen.insert(QString::fromUtf8(line.split(' ')[1]), QString::fromUtf8(line.split(' ')[2]));
    return seen;
}

// A namespace as the kernel names it: "mnt:[4026531841]".
QByteArray namespaceOf(const QString& link)
{
    char target[64] = {};
    const ssize_t size = ::readlink(QFile::encodeName(link).constData(), target, sizeof target - 1);
    return size > 0 ? QByteArray(target, size) : QByteArray("unreadable");
}

// The kept renderer's sandboxed process (pradelux-render --render-worker,
// not the bubblewrap that started it), once folder is mounted in its view.
qint64 workerShowing(const QString& folder)
{
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        const QStringList command = test::readFile("/proc/" + pid + "/cmdline").split(QChar(0));
        if (command.size() < 2 || !command[0].endsWith(QStringLiteral("/pradelux-render")) ||
            command[1] != QStringLiteral("--render-worker"))
            continue;
        for (const QString& line : test::readFile("/proc/" + pid + "/mountinfo").split('\n'))
            if (line.section(' ', 4, 4) == folder)
                return pid.toLongLong();
    }
    return 0;
}

// Ends the kept renderer that answers in the runtime folder, if one does:
// the next rendering starts LibreOffice anew.
void endKeptRenderer(const QString& runtime)
{
    for (const QString& name : QDir(runtime).entryList({QStringLiteral("pradelux-render-*")}, QDir::System)) {
        QLocalSocket socket;
        socket.connectToServer(runtime + "/" + name);
        struct ucred peer = {};
        socklen_t size = sizeof peer;
        if (!socket.waitForConnected(1000) ||
            ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
            continue;
        ::kill(peer.pid, SIGTERM);
        QElapsedTimer clock;
        clock.start();
        while (QFile::exists("/proc/" + QString::number(peer.pid)) && clock.elapsed() < 10000)
            QThread::msleep(20);
    }
}

TEST(EscapeKitTest, CodeRunningAsLibreOfficeReachesOnlyItsPresentationItsFolderAndItsPdf)
{
    QList<uid_t> users = {::getuid()};
    // An ordinary user too, for the same world, where that user can reach
    // the build (one below /root cannot).
    if (::getuid() == 0) {
        if (QProcess::execute("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "--", "test", "-x",
                                          kApp + "/pradelux"}) == 0)
            users << 65534;
        else
            std::cerr << "Not tried as an ordinary user: uid 65534 cannot reach " << kApp.toStdString() << '\n';
    }
    for (const uid_t user : users) {
        for (const QString& renderer : QStringList{QString(), QStringLiteral("soffice")}) {
            const std::string where = "as user " + std::to_string(user) + (renderer.isEmpty() ? ", kept" : ", cold");
            World world(user);
            QProcess install;
            world.start(install, {kApp + "/pradelux-printer", "install"});
            ASSERT_TRUE(install.waitForFinished() && install.exitCode() == 0) << where;
            // Only the kept renderer's deck is held while it is looked at.
            if (!renderer.isEmpty())
                test::writeFile(world.talks + "/go-on", {}, {});
            QProcess run;
            world.start(run, QStringList{kApp + "/pradelux", "--export", "--output", world.out} + world.decks,
                        renderer);

            // The kept renderer, seen from outside while it renders the deck
            // of its own folder: namespaces of its own, and of the user's
            // files only the deck's folder, read-only, its hidden folders,
            // socket and pipe covered.
            if (renderer.isEmpty()) {
                QElapsedTimer clock;
                clock.start();
                qint64 worker = 0;
                while (!(worker = workerShowing(world.talks)) && clock.elapsed() < 60000 &&
                       run.state() == QProcess::Running)
                    run.waitForFinished(50);
                ASSERT_NE(worker, 0) << where << run.readAllStandardError().toStdString();
                const QString proc = "/proc/" + QString::number(worker);
                for (const char* ns : {"mnt", "pid", "net", "ipc", "uts", "user", "cgroup"})
                    EXPECT_NE(namespaceOf(proc + "/ns/" + ns), namespaceOf(QStringLiteral("/proc/self/ns/") + ns))
                        << where << ": " << ns;
                QMap<QString, QString> mounts; // mount point → its options
                for (const QString& line : test::readFile(proc + "/mountinfo").split('\n', Qt::SkipEmptyParts))
                    mounts.insert(line.section(' ', 4, 4).replace("\\040", " "), line.section(' ', 5, 5));
                EXPECT_TRUE(mounts.value(world.talks).split(',').contains("ro")) << where;
                for (const char* covered : {"/.hidden", "/listening", "/fifo"})
                    EXPECT_TRUE(mounts.value(world.talks + covered).split(',').contains("ro")) << where << covered;
                for (auto it = mounts.cbegin(); it != mounts.cend(); ++it) {
                    const QString& point = it.key();
                    // GnuPG's programs are covered, read-only.
                    const bool gnupg = point.startsWith("/usr/bin/gpg") && it.value().split(',').contains("ro");
                    const bool system =
                        QStringList{"/", "/usr", "/etc", "/opt", "/tmp", "/proc", "/dev", "/var/cache/fontconfig"}
                            .contains(point) ||
                        point.startsWith("/dev/") || gnupg;
                    const bool given = point.startsWith(world.talks) || point == world.kit || point == kApp ||
                                       point == world.home ||
                                       point.startsWith(world.home + "/.cache/pradelux-office/") ||
                                       point.startsWith("/tmp/pradelux-office-"); // the application's job folder
                    EXPECT_TRUE(system || given) << where << ": " << point.toStdString();
                    EXPECT_FALSE(point.startsWith(world.runtime)) << where;
                    // Below home, only the deck's folder, LibreOffice's own
                    // profile and the fonts' places are shown.
                    if (point.startsWith(world.home + "/") && !point.startsWith(world.talks)) {
                        EXPECT_TRUE(point.contains("/.cache/")) << where << ": " << point.toStdString();
                    }
                }
                test::writeFile(world.talks + "/go-on", {}, {});
            }
            ASSERT_TRUE(run.waitForFinished(240000)) << where;
            const QString errors = QString::fromUtf8(run.readAllStandardError());
            EXPECT_EQ(run.exitCode(), 0)
                << where << errors.toStdString()
                << test::readFile(world.home + "/.cache/pradelux-office/server.log").toStdString();

            const struct
            {
                QString pdf;
                QStringList reached; // every other attempt must be blocked
            } rows[] = {
                // its folder read-only; home and /tmp are its own, empty;
                // what the first row left in its profile reaches no row of
                // another folder (each of these is one)
                {"talk.pdf", {"presentation", "beside", "write-pdf-folder", "write-home"}},
                {"in-home.pdf", {"presentation", "write-pdf-folder", "write-home", "write-shown-folder"}},
                {QFileInfo(world.decks[2]).completeBaseName() + ".pdf",
                 {"presentation", "write-pdf-folder", "write-home", "write-shown-folder"}},
            };
            for (const auto& row : rows) {
                const QMap<QString, QString> seen = said(world.out + "/" + row.pdf);
                EXPECT_EQ(seen.size(), kAttempts) << where << " " << row.pdf.toStdString();
                for (auto it = seen.cbegin(); it != seen.cend(); ++it)
                    EXPECT_EQ(it.value(), row.reached.contains(it.key()) ? "reached" : "blocked")
                        << where << " " << row.pdf.toStdString() << ": " << it.key().toStdString();
            }
            // What it wrote in its own home, /tmp or folder never reached the host's.
            for (const QString& written :
                 {world.home + "/.bashrc", world.home + "/new.txt", world.talks + "/new.txt", world.decks[2] + ".new"})
                EXPECT_FALSE(QFile::exists(written)) << where << written.toStdString();

            // Decks that misbehave, after one in a LibreOffice started anew:
            // each fails its row alone, every bound holds, and no secret, no
            // flood and no planted code reaches anything outside.
            QFile::remove(world.out + "/in-home.pdf");
            endKeptRenderer(world.runtime);
            const qint64 logs = test::treeSize(world.home + "/.cache/pradelux-office");
            QProcess lent;
            world.start(lent,
                        QStringList{kApp + "/pradelux", "--export", "--output", world.out, world.decks[1]} +
                            world.lent.values(),
                        renderer);
            ASSERT_TRUE(lent.waitForFinished(240000)) << where;
            const QString told = QString::fromUtf8(lent.readAllStandardError());
            EXPECT_EQ(lent.exitCode(), 1) << where << told.toStdString();
            const QMap<QString, QString> fresh = said(world.out + "/in-home.pdf");
            EXPECT_EQ(fresh.size(), kAttempts) << where;
            EXPECT_EQ(fresh.value("planted-profile"), "blocked") << where;
            const struct
            {
                const char* name;
                bool exported;
                QString why; // what the run says of a row that failed
            } misbehaving[] = {
                {"swap", false, "damaged"},
                // Answered twice: the kept renderer serves that row no more.
                {"answerTwice", !renderer.isEmpty(), "LibreOffice could not print"},
                {"lie", false, "incomplete PDF"},
                {"fillFolder", false, "made a PDF larger than 10 MiB"},
                {"forkBomb", true, QString()},
                {"fillHome", false, "needed more than 600 MiB of memory"},
                {"flood", true, QString()},
            };
            for (const auto& row : misbehaving) {
                const QString deck = world.lent[row.name];
                EXPECT_EQ(QFileInfo::exists(world.out + "/" + row.name + ".pdf"), row.exported) << where << row.name;
                // The run's message on the row names the deck and says why.
                const QStringList lines = told.split('\n');
                EXPECT_TRUE(row.exported || std::any_of(lines.cbegin(), lines.cend(),
                                                        [&](const QString& line) {
                                                            return line.contains(deck) && line.contains(row.why);
                                                        }))
                    << where << " " << row.name << told.toStdString();
            }
            EXPECT_EQ(said(world.out + "/forkBomb.pdf").value("fork-300"), "blocked") << where;
            // The flood reached no log past its bound.
            EXPECT_LT(test::treeSize(world.home + "/.cache/pradelux-office") - logs, 1 << 20) << where;
            for (const QString& pdf : QDir(world.out).entryList(QDir::Files | QDir::Hidden))
                EXPECT_NE(test::readFile(world.out + "/" + pdf), "secret") << where << pdf.toStdString();
            EXPECT_EQ(test::readFile(world.home + "/.ssh/id_ed25519"), "secret") << where;
            EXPECT_FALSE(QFile::exists(world.home + "/.cache/pradelux-office/profile-template/user/planted")) << where;

            // Each row leaves a process running in its LibreOffice, holding
            // its folder open, and files in its /tmp and home. Shared by the
            // two decks of one folder, the kept LibreOffice shows them to the
            // second (what one deck can do to the others of its folder);
            // printed alone, the second meets none of them.
            for (const bool isolate : {false, true}) {
                endKeptRenderer(world.runtime);
                QFile::remove(world.out + "/two.pdf");
                QProcess pair;
                world.start(pair,
                            QStringList{kApp + "/pradelux", "--export", "--output", world.out} +
                                (isolate ? QStringList{"--isolate-rows"} : QStringList()) + world.pair,
                            renderer);
                ASSERT_TRUE(pair.waitForFinished(240000)) << where;
                EXPECT_EQ(pair.exitCode(), 0) << where << pair.readAllStandardError().toStdString();
                const QMap<QString, QString> second = said(world.out + "/two.pdf");
                const bool shared = !isolate && renderer.isEmpty();
                for (const char* earlier : {"earlier-process", "earlier-file", "planted-profile"})
                    EXPECT_EQ(second.value(earlier), shared ? "reached" : "blocked")
                        << where << (isolate ? ", isolated: " : ": ") << earlier;
                EXPECT_EQ(test::readFile(world.out + "/two.pdf").contains(world.pair[0]), shared) << where;
            }

            // The same kit outside the sandbox reaches every one of them.
            if (renderer.isEmpty()) {
                QProcess outside;
                world.start(outside, {"/usr/bin/python3", world.kit + "/probe.py", "--outside", world.decks[0],
                                      world.out + "/x.pdf"});
                outside.waitForFinished();
                const QMap<QString, QString> seen = said(world.out + "/x.pdf");
                for (const QString& escape : kEscapes + (user == 0 ? kRootEscapes : QStringList()))
                    EXPECT_EQ(seen.value(escape), "reached") << where << ", outside: " << escape.toStdString();
            }
        }
    }
}

} // namespace
