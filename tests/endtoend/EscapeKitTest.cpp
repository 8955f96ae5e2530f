// A LibreOffice taken over by its file, as the escape kit plays it: the real
// program exports decks (in a folder of the home folder, in the home folder
// itself, in /tmp, in the runtime folder, above the output folder) with the
// kit preloaded into the real LibreOffice, in both renderers, as the user the
// tests run as and, when that is root, as an ordinary user too. Each PDF says
// what the kit reached from inside.
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
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <linux/nsfs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pradelux;

namespace {

const QString kApp = QStringLiteral(PRADELUX_APPFOLDER);

// Attempts that code which escaped would win, which the sandbox must block.
const QStringList kEscapes = {"beside",         "hidden-folder",    "home-secret",     "outside",
                              "socket-beside",  "fifo-beside",      "runtime-socket",  "session-bus",
                              "network",        "other-process",    "host-shm",        "host-tmp",
                              "many-processes", "extra-devices",    "new-privileges",  "host-environment",
                              "service-socket", "linked-hard-link", "uncounted-memory"};
// What the kit says of every row.
constexpr int kAttempts = 35;
const QString kLibreOffice = QStringLiteral("/usr/lib/libreoffice/program");
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
        // Two decks in the runtime folder, where the session bus and the
        // renderer's own socket are.
        inRuntime = {runtime + "/one.pptx", runtime + "/two.pptx"};
        // A deck printed after another, into an output folder below its own.
        board = home + "/private/board.pptx";
        evil = home + "/work/evil.pptx";
        workOut = home + "/work/pdf";
        // Decks of folder A, the second one's folder swapped for C meanwhile.
        swapped = {home + "/A/one.pptx", home + "/A/two.pptx"};
        QDir().mkpath(home + "/C");
        QDir().mkpath(workOut);
        // Decks that misbehave, each in a way of its own (see rows below).
        QDir().mkpath(home + "/lent");
        for (const char* name :
             {"swap", "answerTwice", "lie", "fillFolder", "forkBomb", "fillHome", "flood", "sparse"}) {
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
        // The first deck names a text beside it as a hyperlink, and as a
        // picture a hard link to the user's key; the deck above the output
        // folder names the earlier deck's PDF as a picture.
        ::link(QFile::encodeName(home + "/.ssh/id_ed25519").constData(),
               QFile::encodeName(talks + "/hl.png").constData());
        linkFrom(decks[0], {"hyperlink:sub/beside.txt", "image:sub/beside.txt", "image:hl.png"});
        // A pipe with a reader, which a writer outside would reach.
        ::mkfifo(QFile::encodeName(talks + "/fifo").constData(), 0666);
        m_fifoReader = ::open(QFile::encodeName(talks + "/fifo").constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QDir().mkpath(runtime);
        QDir().mkpath(out);
        for (const QString& deck : QStringList{board, evil, swapped[0], swapped[1], home + "/C/two.pptx"}) {
            QDir().mkpath(QFileInfo(deck).path());
            QFile::copy(test::deck(QStringLiteral("pptx")), deck);
        }
        linkFrom(evil, {"image:pdf/board.pdf"});
        QDir().mkpath(kit);
        // The kit: LibreOffice's own program folder, whose soffice and
        // soffice.bin start the real ones with the probe's library preloaded.
        QFile::copy(QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/escape_kit/probe.py"), kit + "/probe.py");
        QFile::copy(QStringLiteral(PRADELUX_ESCAPE_KIT_LIBRARY), kit + "/probe.so");
        for (const QString& name : QDir(kLibreOffice).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
            if (name != "soffice" && name != "soffice.bin")
                QFile::link(kLibreOffice + "/" + name, kit + "/" + name);
        for (const char* program : {"soffice", "soffice.bin"})
            test::writeFile(kit + "/" + program,
                            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                QFileDevice::ExeOther | QFileDevice::WriteOwner,
                            QByteArray("#!/bin/sh\nkit=${0%/*}\nPRADELUX_KIT=$kit LD_PRELOAD=\"$kit/probe.so\" exec ") +
                                QFile::encodeName(kLibreOffice) + "/" + program + " \"$@\"\n");
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
        for (const QString& deck : inRuntime) {
            QFile::copy(test::deck(QStringLiteral("pptx")), deck);
            chown(deck);
        }
        start(m_bus, {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + runtime + "/bus"});
        start(m_other, {"sleep", "600"});
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(runtime + "/bus") && clock.elapsed() < 10000)
            QThread::msleep(20);

        QJsonObject rows;
        rows.insert(decks[0], QJsonObject{{"beside", talks + "/sub/beside.txt"},
                                          {"hardLink", talks + "/hl.png"},
                                          {"hidden", talks + "/.hidden/secret.txt"},
                                          {"shownWrite", talks + "/new.txt"},
                                          {"socket", talks + "/listening"},
                                          {"fifo", talks + "/fifo"},
                                          {"waitFor", "/tmp/go-on"}});
        rows.insert(decks[1], QJsonObject{{"shownWrite", home + "/new.txt"}});
        rows.insert(decks[2], QJsonObject{{"shownWrite", decks[2] + ".new"}});
        for (auto it = lent.cbegin(); it != lent.cend(); ++it)
            rows.insert(it.value(), QJsonObject{{"shownWrite", it.value() + ".new"}, {it.key(), true}});
        for (const QString& deck : pair + inRuntime + QStringList{board, swapped[1], home + "/C/two.pptx"})
            rows.insert(deck, QJsonObject{{"shownWrite", deck + ".new"}});
        rows.insert(evil, QJsonObject{{"shownWrite", evil + ".new"}, {"earlierPdf", workOut + "/board.pdf"}});
        rows.insert(swapped[0], QJsonObject{{"shownWrite", swapped[0] + ".new"}, {"waitFor", "/tmp/go-on"}});
        rows.insert(lent["sparse"], QJsonObject{{"shownWrite", lent["sparse"] + ".new"}, {"sparse", 8 << 20}});
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

    QString home, runtime, kit, out, talks, board, evil, workOut;
    QMap<QString, QString> lent;
    QStringList decks, pair, hostFiles, inRuntime, swapped;

private:
    // Adds relationships with external targets to a .pptx's first slide,
    // each "kind:target" (kind: image, hyperlink…).
    static void linkFrom(const QString& deck, const QStringList& links)
    {
        const char* add = R"(import shutil, sys, zipfile
deck, links = sys.argv[1], sys.argv[2:]
rels = "".join('<Relationship Id="rIdKit%d" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
               'relationships/%s" Target="%s" TargetMode="External"/>' % (i, *link.split(":", 1))
               for i, link in enumerate(links))
with zipfile.ZipFile(deck) as old, zipfile.ZipFile(deck + ".new", "w", zipfile.ZIP_DEFLATED) as new:
    for item in old.infolist():
        data = old.read(item.filename)
        if item.filename == "ppt/slides/_rels/slide1.xml.rels":
            data = data.replace(b"</Relationships>", rels.encode() + b"</Relationships>")
        new.writestr(item, data)
shutil.move(deck + ".new", deck))";
        EXPECT_EQ(QProcess::execute(QStringLiteral("python3"), QStringList{"-c", QLatin1String(add), deck} + links), 0);
    }
    void chown(const QString& path) const
    {
        if (m_user == ::getuid())
            return;
        QProcess::execute("chown", {"-R", QString::number(m_user) + ":" + QString::number(m_user), path});
    }

    uid_t m_user;
    // Not below /tmp, where the sandbox has a private folder of its own.
    QTemporaryDir m_dir{QStringLiteral("/var/tmp/pradelux-kit-XXXXXX")};
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

// The kept renderer's sandboxed process (pradelux-inside --render-worker,
// not the bubblewrap that started it) once file is mounted in its view,
// waited for while run runs; 0 when none came.
qint64 workerShowing(const QString& file, QProcess& run)
{
    QElapsedTimer clock;
    clock.start();
    for (; clock.elapsed() < 60000 && run.state() == QProcess::Running; run.waitForFinished(50)) {
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
            const QStringList command = test::readFile("/proc/" + pid + "/cmdline").split(QChar(0));
            if (command.size() > 1 && command[0].endsWith(QStringLiteral("/pradelux-inside")) &&
                command[1] == QStringLiteral("--render-worker") &&
                test::readFile("/proc/" + pid + "/mountinfo").contains(" " + file + " "))
                return pid.toLongLong();
        }
    }
    return 0;
}

// Lets the kit's row that waits in the sandboxed process go on: a file in
// its private /tmp, reached through its root.
void goOn(qint64 worker)
{
    test::writeFile(QStringLiteral("/proc/%1/root/tmp/go-on").arg(worker), {}, {});
}

// How many user namespaces stand between the process's and this one's.
int userNamespaceDepth(qint64 pid)
{
    char own[64] = {};
    ::readlink("/proc/self/ns/user", own, sizeof own - 1);
    int fd = ::open(QFile::encodeName(QStringLiteral("/proc/%1/ns/user").arg(pid)).constData(), O_RDONLY | O_CLOEXEC);
    int depth = 0;
    for (; fd >= 0 && depth < 1000; ++depth) {
        char its[64] = {};
        if (::readlink(QFile::encodeName(QStringLiteral("/proc/self/fd/%1").arg(fd)).constData(), its, sizeof its - 1) >
                0 &&
            std::strcmp(own, its) == 0)
            break;
        const int parent = ::ioctl(fd, NS_GET_PARENT);
        ::close(fd);
        fd = parent;
    }
    if (fd >= 0)
        ::close(fd);
    return depth;
}

// What a process of the host running as user reaches of process pid:
// entering its namespaces, tracing it, reading its files.
QString reachOf(uid_t user, qint64 pid)
{
    const QString script = QStringLiteral("import ctypes, os, sys\n"
                                          "libc = ctypes.CDLL(None, use_errno=True)\n"
                                          "pid = int(sys.argv[1])\n"
                                          "got = []\n"
                                          "for ns in ('user', 'mnt', 'pid'):\n"
                                          "    try:\n"
                                          "        fd = os.open('/proc/%d/ns/%s' % (pid, ns), os.O_RDONLY)\n"
                                          "        if libc.setns(fd, 0) == 0: got.append('setns ' + ns)\n"
                                          "    except OSError: pass\n"
                                          "if libc.ptrace(16, pid, None, None) == 0: got.append('ptrace')\n"
                                          "try:\n"
                                          "    os.listdir('/proc/%d/root/' % pid); got.append('root')\n"
                                          "except OSError: pass\n"
                                          "print(' '.join(got))\n");
    QProcess probe;
    probe.start("setpriv", {"--reuid=" + QString::number(user), "--regid=" + QString::number(user), "--clear-groups",
                            "--", "/usr/bin/python3", "-c", script, QString::number(pid)});
    probe.waitForFinished();
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

// Ends the kept renderer that answers in the runtime folder, if one does:
// the next rendering starts LibreOffice anew.
void endKeptRenderer(const QString& runtime)
{
    // Every renderer of the world, the one that answers and one started
    // ahead for a next row alike.
    QList<qint64> renderers;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        QFile environ("/proc/" + pid + "/environ");
        if (QFileInfo("/proc/" + pid + "/exe").symLinkTarget().endsWith(QStringLiteral("/pradelux-render")) &&
            environ.open(QIODevice::ReadOnly) &&
            environ.readAll().contains("PRADELUX_RENDER_SOCKET=" + QFile::encodeName(runtime) + '/')) {
            ::kill(static_cast<pid_t>(pid.toLongLong()), SIGTERM);
            renderers << pid.toLongLong();
        }
    }
    QElapsedTimer clock;
    clock.start();
    for (const qint64 pid : renderers)
        while (QFile::exists("/proc/" + QString::number(pid)) && clock.elapsed() < 10000)
            QThread::msleep(20);
}

TEST(EscapeKitTest, CodeRunningAsLibreOfficeReachesOnlyItsPresentationTheFilesItLinksAndItsPdf)
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
            QProcess run;
            world.start(run, QStringList{kApp + "/pradelux", "--export", "--output", world.out} + world.decks,
                        renderer);

            // The kept renderer, seen from outside while it renders the deck
            // of its own folder: namespaces of its own, and of the user's
            // files the deck alone, read-only; no folder of the user's.
            if (renderer.isEmpty()) {
                const qint64 worker = workerShowing(world.decks[0], run);
                ASSERT_NE(worker, 0) << where << run.readAllStandardError().toStdString();
                const QString proc = "/proc/" + QString::number(worker);
                for (const char* ns : {"mnt", "pid", "net", "ipc", "uts", "user", "cgroup"})
                    EXPECT_NE(namespaceOf(proc + "/ns/" + ns), namespaceOf(QStringLiteral("/proc/self/ns/") + ns))
                        << where << ": " << ns;
                QMap<QString, QString> mounts; // mount point → its options
                for (const QString& line : test::readFile(proc + "/mountinfo").split('\n', Qt::SkipEmptyParts))
                    mounts.insert(line.section(' ', 4, 4).replace("\\040", " "), line.section(' ', 5, 5));
                EXPECT_TRUE(mounts.value(world.decks[0]).split(',').contains("ro")) << where;
                for (auto it = mounts.cbegin(); it != mounts.cend(); ++it) {
                    const QString& point = it.key();
                    // GnuPG's programs are covered, read-only.
                    const bool gnupg = point.startsWith("/usr/bin/gpg") && it.value().split(',').contains("ro");
                    const bool system =
                        QStringList{"/", "/usr", "/etc", "/opt", "/tmp", "/proc", "/dev", "/var/cache/fontconfig"}
                            .contains(point) ||
                        point.startsWith("/dev/") || point.startsWith("/run/pradelux/") || gnupg;
                    const bool given = point == world.decks[0] || point == world.kit || point == kApp ||
                                       point.startsWith(world.home + "/.cache/pradelux-office/");
                    EXPECT_TRUE(system || given) << where << ": " << point.toStdString();
                    // Nothing of the user's is writable in there.
                    if (given) {
                        EXPECT_TRUE(it.value().split(',').contains("ro")) << where << ": " << point.toStdString();
                    }
                }
                EXPECT_LE(userNamespaceDepth(worker), 3) << where;
                // Run as root, nothing of the host but root's reaches it,
                // neither nobody nor the sandbox's own user.
                if (user == 0) {
                    for (const char* other : {"nobody", "_pradelux"}) {
                        const passwd* entry = ::getpwnam(other);
                        ASSERT_NE(entry, nullptr) << other;
                        for (const QString& pid : QDir(proc + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                            EXPECT_EQ(reachOf(entry->pw_uid, pid.toLongLong()), QString()) << where << ", " << other;
                    }
                }
                goOn(worker);
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
                // the deck read-only, its PDF's folder; its private /tmp (where
                // the third deck is shown); what the first row left in its
                // profile reaches no row of another folder (each of these is one)
                {"talk.pdf", {"presentation", "write-pdf-folder"}},
                {"in-home.pdf", {"presentation", "write-pdf-folder"}},
                {QFileInfo(world.decks[2]).completeBaseName() + ".pdf",
                 {"presentation", "write-pdf-folder", "write-shown-folder"}},
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

            // Decks that misbehave, each printed alone after one in a
            // LibreOffice started anew: each fails its row alone, every bound
            // holds (what a stopped row held is gone before the next), and no
            // secret, no flood and no planted code reaches anything outside.
            QFile::remove(world.out + "/in-home.pdf");
            endKeptRenderer(world.runtime);
            const qint64 logs = test::treeSize(world.home + "/.cache/pradelux-office");
            QProcess lent;
            world.start(
                lent,
                QStringList{kApp + "/pradelux", "--export", "--isolate-rows", "--output", world.out, world.decks[1]} +
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
                // Answers on every socket LibreOffice holds: the worker's line
                // to the outside is none of them, so the row prints.
                {"answerTwice", true, QString()},
                {"lie", false, "incomplete PDF"},
                {"fillFolder", false, "made a PDF larger than 10 MiB"},
                {"forkBomb", true, QString()},
                {"fillHome", false, "needed more than 600 MiB of memory"},
                {"flood", true, QString()},
                // A few blocks that claim megabytes are never copied out.
                {"sparse", false, "damaged"},
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
            // The LibreOffice started ahead for a next row, after nine rows
            // alone, stands no deeper in user namespaces than the first.
            if (renderer.isEmpty()) {
                int ahead = 0;
                for (const QString& pid :
                     QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
                    const QString command = test::readFile("/proc/" + pid + "/cmdline");
                    if (command.contains(QStringLiteral("--render-worker")) && command.contains(world.kit)) {
                        ++ahead;
                        EXPECT_LE(userNamespaceDepth(pid.toLongLong()), 3) << where;
                    }
                }
                EXPECT_GE(ahead, 1) << where;
            }
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
            // printed alone, the second meets none of them. The same for two
            // decks in the runtime folder, where neither reaches the
            // renderer's service, during its row or after.
            for (const bool isolate : {false, true}) {
                for (const QStringList& two : {world.pair, world.inRuntime}) {
                    endKeptRenderer(world.runtime);
                    const QString second = world.out + "/two.pdf";
                    QFile::remove(second);
                    QProcess pair;
                    world.start(pair,
                                QStringList{kApp + "/pradelux", "--export", "--output", world.out} +
                                    (isolate ? QStringList{"--isolate-rows"} : QStringList()) + two,
                                renderer);
                    ASSERT_TRUE(pair.waitForFinished(240000)) << where;
                    EXPECT_EQ(pair.exitCode(), 0) << where << pair.readAllStandardError().toStdString();
                    const QMap<QString, QString> seen = said(second);
                    const bool shared = !isolate && renderer.isEmpty();
                    for (const char* earlier : {"earlier-process", "earlier-file", "planted-profile"})
                        EXPECT_EQ(seen.value(earlier), shared ? "reached" : "blocked")
                            << where << (isolate ? ", isolated: " : ": ") << earlier << " " << two[1].toStdString()
                            << pair.readAllStandardError().toStdString();
                    for (const char* service : {"service-socket", "earlier-service"})
                        EXPECT_EQ(seen.value(service), "blocked") << where << ": " << service;
                    EXPECT_EQ(test::readFile(second).contains(two[0]), shared) << where;
                }
            }
            EXPECT_FALSE(QFile::exists(world.home + "/.ssh/id_ed25519.pdf")) << where;

            // A deck printed after another into an output folder below its
            // own folder sees none of the PDFs written before it.
            QProcess above;
            world.start(above, {kApp + "/pradelux", "--export", "--output", world.workOut, world.board, world.evil},
                        renderer);
            ASSERT_TRUE(above.waitForFinished(240000)) << where;
            EXPECT_EQ(said(world.workOut + "/evil.pdf").value("earlier-pdf"), "blocked") << where;
            EXPECT_NE(test::readFile(world.workOut + "/evil.pdf"), test::readFile(world.workOut + "/board.pdf"));

            // A folder known by its name would give a LibreOffice that a deck
            // of folder A took over to another folder renamed A meanwhile.
            if (renderer.isEmpty()) {
                endKeptRenderer(world.runtime);
                QProcess swapped;
                world.start(swapped,
                            QStringList{kApp + "/pradelux", "--export", "--output", world.out} + world.swapped);
                const qint64 worker = workerShowing(world.swapped[0], swapped);
                const QString home = world.home;
                EXPECT_TRUE(QDir().rename(home + "/A", home + "/A.old") && QDir().rename(home + "/C", home + "/A"));
                goOn(worker);
                ASSERT_TRUE(swapped.waitForFinished(240000)) << where;
                const QMap<QString, QString> seen = said(world.out + "/two.pdf");
                EXPECT_EQ(seen.size(), kAttempts) << where;
                EXPECT_EQ(seen.value("earlier-process"), "blocked") << where << ": a renamed folder";
            }

            // Another process of the host, or a sandbox, that reaches the
            // renderer's socket is not served; the same user outside is.
            if (renderer.isEmpty()) {
                QProcess service;
                const QString socket = world.runtime + "/pradelux-render-stranger";
                world.start(service, {"env", "PRADELUX_RENDER_SOCKET=" + socket, kApp + "/pradelux-render"});
                QElapsedTimer clock;
                clock.start();
                while (!QFileInfo(socket).exists() && clock.elapsed() < 60000)
                    QThread::msleep(50);
                QProcess stranger;
                world.start(stranger,
                            {"unshare", "--user", "--map-current-user", "--pid", "--fork", "/usr/bin/python3", "-c",
                             "import socket, sys\n"
                             "s = socket.socket(socket.AF_UNIX)\n"
                             "s.settimeout(10)\n"
                             "s.connect(sys.argv[1])\n"
                             "try:\n"
                             "    s.sendall(b'{\"presentation\": \"' + sys.argv[2].encode() + b'\"}\\n')\n"
                             "    print(len(s.recv(4096)))\n"
                             "except OSError:\n"
                             "    print(0)\n",
                             socket, world.decks[1]});
                ASSERT_TRUE(stranger.waitForFinished(30000));
                EXPECT_EQ(stranger.readAllStandardOutput().trimmed(), "0")
                    << where << stranger.readAllStandardError().toStdString();

                // The same kit outside the sandbox reaches every one of them.
                QProcess outside;
                world.start(outside, {"/usr/bin/python3", world.kit + "/probe.py", "--outside", world.decks[0],
                                      world.out + "/x.pdf"});
                outside.waitForFinished();
                const QMap<QString, QString> seen = said(world.out + "/x.pdf");
                for (const QString& escape : kEscapes + (user == 0 ? kRootEscapes : QStringList()))
                    EXPECT_EQ(seen.value(escape), "reached") << where << ", outside: " << escape.toStdString();
                service.terminate();
                service.waitForFinished();
            }
        }
    }
}

} // namespace
