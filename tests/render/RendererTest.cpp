// The LibreOffice renderer's own checks, with stand-in LibreOffice scripts:
// what it is told, and what it does when LibreOffice hangs or writes nothing.
#include "Renderer.h"
#include "Failure.h"
#include "ProcessTree.h"
#include "ProfileTemplate.h"
#include "TempEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pradelux;
using namespace pradelux::render::client;
using namespace pradelux::render::boundary;

namespace {

const QString kSandbox = QStringLiteral(PRADELUX_APPFOLDER "/pradelux-render");
const QFileDevice::Permissions kRunnable =
    QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther;

class RendererTest : public ::testing::Test
{
protected:
    test::TempConfig dir;
    QString deck = dir.path(QStringLiteral("-odd #name.pptx"));

    void SetUp() override
    {
        QFile f(deck);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("PK\x03\x04");
    }

    // A stand-in LibreOffice: it learns the folder its PDF goes to as out.
    QString script(const QString& body)
    {
        const QString path = dir.path(QStringLiteral("soffice"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        // The run that makes the profile's template prints nothing here.
        f.write(("#!/bin/sh\ncase \"$*\" in *pradelux-blank.fodp) exit 0;; esac\n"
                 "prev=; for a; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; done\n" +
                 body + "\n")
                    .toUtf8());
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    // Shell lines that write a PDF of the given pages, named after the input
    // as LibreOffice names it.
    static QString writesPdf(int pages, bool whole = true)
    {
        QString kids;
        QString objects;
        for (int i = 0; i < pages; ++i) {
            kids += QStringLiteral("%1 0 R ").arg(i + 3);
            objects +=
                QStringLiteral("%1 0 obj <</Type /Page /Parent 2 0 R /MediaBox [0 0 200 200]>> endobj\\n").arg(i + 3);
        }
        return QStringLiteral("printf '%%PDF-1.4\\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\\n"
                              "2 0 obj <</Type /Pages /Kids [%1] /Count %2>> endobj\\n%3%4' > \"$out/deck.pdf\"")
            .arg(kids)
            .arg(pages)
            .arg(objects, whole ? QStringLiteral("trailer <</Root 1 0 R>>\\n%%%%EOF\\n") : QString());
    }

    QString failureOf(Renderer& renderer, RenderRequest request = {})
    {
        if (request.presentation.isEmpty())
            request.presentation = deck;
        try {
            renderer.render(request, dir.path());
        } catch (const Failure& f) {
            return f.description();
        }
        return QString();
    }
};

TEST_F(RendererTest, EveryStartGetsAFreshCopyOfTheProfileAndTheHiddenSlides)
{
    // Writes its arguments, the settings of its profile and whether an
    // earlier start left something in it, leaves something there itself,
    // and writes a one-page PDF named after its input.
    const QString profile = QStringLiteral("\"$HOME/.pradelux-profile\"");
    Renderer renderer(script(QStringLiteral("for a in \"$@\"; do echo \"$a\"; done > \"$out/args\"\n"
                                            "cat %1/user/registrymodifications.xcu > \"$out/settings\"\n"
                                            "ls %1 > \"$out/found\"; echo planted > %1/planted\n")
                                 .arg(profile) +
                             writesPdf(1)),
                      dir.path(QStringLiteral("template")), 10000, kSandbox);
    RenderRequest request;
    request.presentation = deck;
    request.hiddenSlides = true;
    for (int start = 0; start < 2; ++start) {
        EXPECT_EQ(renderer.render(request, dir.path()).pages, 1);
        const QString text = test::readFile(dir.path(QStringLiteral("pdf/args")));
        EXPECT_TRUE(text.contains(QStringLiteral("-env:UserInstallation=file:///run/pradelux/home/.pradelux-profile")));
        EXPECT_TRUE(text.contains(QStringLiteral("\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"true\"}")));
        // The odd file name never reaches LibreOffice's command line.
        EXPECT_FALSE(text.contains(QStringLiteral("odd #name")));
        EXPECT_TRUE(test::readFile(dir.path(QStringLiteral("pdf/settings")))
                        .contains(QStringLiteral("\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value>")));
        EXPECT_FALSE(test::readFile(dir.path(QStringLiteral("pdf/found"))).contains(QStringLiteral("planted")))
            << start;
    }
    EXPECT_FALSE(QFile::exists(dir.path(QStringLiteral("template/planted"))));
}

TEST_F(RendererTest, ProfileRunsNoMacroWhateverItSaidBefore)
{
    // A profile in which macros were allowed, with a setting of another kind.
    const QString xcu = dir.path(QStringLiteral("profile/user/registrymodifications.xcu"));
    const QByteArray other = "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
                             "oor:op=\"fuse\"><value>false</value></prop></item>";
    ASSERT_TRUE(test::writeFile(
        xcu, {},
        "<?xml version=\"1.0\"?>\n<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\">\n" + other +
            "\n<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
            "oor:name=\"MacroSecurityLevel\" oor:op=\"fuse\"><value>0</value></prop></item>\n</oor:items>\n"));
    PrepareProfile(dir.path(QStringLiteral("profile")));
    PrepareProfile(dir.path(QStringLiteral("profile"))); // twice changes nothing more
    const QString text = test::readFile(xcu);
    EXPECT_TRUE(text.contains(QString::fromUtf8(other)));
    EXPECT_EQ(text.count(QStringLiteral("MacroSecurityLevel")), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value>")));
    EXPECT_TRUE(text.contains(QStringLiteral("\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true</value>")));

    // LibreOffice could write its profile: a link made there leads nowhere
    // for the outside (the file it leads to stays as it was), and a pipe
    // holds nothing up.
    const QString secret = dir.path(QStringLiteral("authorized_keys"));
    ASSERT_TRUE(test::writeFile(secret, {}, "ssh-ed25519 AAAA the user's own"));
    for (const bool link : {true, false}) {
        QFile::remove(xcu);
        ASSERT_TRUE(link ? QFile::link(secret, xcu) : ::mkfifo(QFile::encodeName(xcu).constData(), 0600) == 0);
        PrepareProfile(dir.path(QStringLiteral("profile")));
        EXPECT_EQ(test::readFile(secret), QStringLiteral("ssh-ed25519 AAAA the user's own"));
        EXPECT_TRUE(QFileInfo(xcu).isFile() && !QFileInfo(xcu).isSymLink()) << link;
        EXPECT_TRUE(test::readFile(xcu).contains(QStringLiteral("MacroSecurityLevel"))) << link;
    }
}

// Whether a process with this argument runs: inside the sandbox a process's
// id is not the one the host sees (a zombie reaped by init counts as gone).
bool Running(const QByteArray& argument)
{
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(argument) &&
            stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z"))
            return true;
    }
    return false;
}

TEST_F(RendererTest, HungLibreOfficeIsStoppedWithEverythingItStarted)
{
    Renderer renderer(script(QStringLiteral("sleep 60.4217 &\nwait")), dir.path(QStringLiteral("template")), 1000,
                      kSandbox);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(failureOf(renderer).contains(QStringLiteral("did not finish printing")));
    EXPECT_LT(clock.elapsed(), 10000);
    QTest::qWait(200);
    EXPECT_FALSE(Running("60.4217"));
}

// Where soffice.bin stands beside soffice, the script (which would look for
// Java through oosplash) never runs; LibreOffice's wish to be started again
// on a fresh profile is granted; and a LibreOffice making the template or
// printing goes with the renderer that started it when that is killed,
// whether bubblewrap's own bond to it holds or only ours, the standard
// input of the program inside.
TEST_F(RendererTest, LibreOfficeItselfIsStartedAndGoesWithTheRendererThatStartedIt)
{
    const QString soffice = dir.path(QStringLiteral("soffice"));
    ASSERT_TRUE(test::writeFile(soffice, kRunnable, "#!/bin/sh\nexit 3\n"));
    ASSERT_TRUE(test::writeFile(dir.path(QStringLiteral("soffice.bin")), kRunnable,
                                "#!/bin/sh\n[ -e \"${0%/*}/hang\" ] && exec sleep 60.4317\n"
                                "case \"$*\" in *pradelux-blank.fodp) exit 0;; esac\n"
                                "again=$HOME/.pradelux-profile/started; [ -e $again ] || { : > $again; exit 81; }\n"
                                "prev=; for a; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; done\n" +
                                    writesPdf(2).toUtf8() + "\n"));
    Renderer renderer(soffice, dir.path(QStringLiteral("template")), 20000, kSandbox);
    EXPECT_EQ(renderer.render({deck}, dir.path()).pages, 2);
    EXPECT_TRUE(QFile::exists(dir.path(QStringLiteral("template/pradelux-template"))));

    ASSERT_TRUE(test::writeFile(dir.path(QStringLiteral("hang"))));
    for (const bool making : {true, false}) {
        const pid_t child = ::fork();
        if (child == 0) {
            QString why;
            if (making)
                EnsureProfileTemplate(dir.path(QStringLiteral("other-template")), soffice, kSandbox, &why);
            else
                failureOf(renderer);
            ::_exit(0);
        }
        ASSERT_GT(child, 0);
        QElapsedTimer clock;
        clock.start();
        while (!Running("60.4317") && clock.elapsed() < 10000)
            QTest::qWait(50);
        EXPECT_TRUE(Running("60.4317")) << making;
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        clock.restart();
        while (Running("60.4317") && clock.elapsed() < 5000)
            QTest::qWait(50);
        EXPECT_FALSE(Running("60.4317")) << (making ? "making the template" : "printing");
    }
    QProcess inside;
    inside.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux-inside"),
                 {"--run", "--", dir.path(QStringLiteral("soffice.bin"))});
    ASSERT_TRUE(inside.waitForStarted());
    QTest::qWait(300);
    EXPECT_TRUE(Running("60.4317"));
    inside.closeWriteChannel();
    EXPECT_TRUE(inside.waitForFinished(5000));
    EXPECT_EQ(inside.exitCode(), 128 + SIGKILL);
    EXPECT_FALSE(Running("60.4317"));
}

TEST_F(RendererTest, OnlyAWholePdfWithPagesFromALibreOfficeThatEndedWellIsPrinted)
{
    const QString damaged = QStringLiteral("LibreOffice could not print %1: the file is damaged, protected by a "
                                           "password, or not a presentation it can read.")
                                .arg(deck);
    const QString crashed = QStringLiteral("LibreOffice crashed while printing %1").arg(deck);
    const QList<QPair<QString, QString>> cases = {
        {QStringLiteral("exit 0"), damaged},
        {writesPdf(0), QStringLiteral("%1 has no slides to print.").arg(deck)},
        {writesPdf(3, false), QStringLiteral("LibreOffice made an incomplete PDF of %1").arg(deck)},
        // What it says of its pages is not taken, however often it says it.
        {writesPdf(3, false) + QStringLiteral("\n(while :; do echo pages 3; done) & sleep 0.5"),
         QStringLiteral("LibreOffice made an incomplete PDF of %1").arg(deck)},
        // Part of a PDF, then a crash: killed by a signal, or the status a
        // shell reports for one.
        {writesPdf(3, false) + QStringLiteral("\nkill -SEGV $$"), crashed},
        {writesPdf(3, false) + QStringLiteral("\nexit 139"), crashed},
        {writesPdf(3) + QStringLiteral("\nexit 1"),
         QStringLiteral("LibreOffice failed (exit status 1) while printing")},
    };
    for (const auto& [body, why] : cases) {
        Renderer renderer(script(body), dir.path(QStringLiteral("template")), 10000, kSandbox);
        const QString failure = failureOf(renderer);
        EXPECT_TRUE(failure.startsWith(why)) << body.toStdString() << "\n" << failure.toStdString();
        EXPECT_FALSE(failure.contains(QStringLiteral("damaged")) && why != damaged) << failure.toStdString();
        // Nothing that was cut short is left to be printed.
        EXPECT_FALSE(QFile::exists(dir.path(QStringLiteral("pdf/deck.pdf"))) && why != damaged &&
                     !why.contains(QStringLiteral("no slides")))
            << body.toStdString();
    }
    // It prints only where memory that no process holds, which the watch
    // of its memory could not count, is refused: a memfd and a System V
    // segment.
    const QString uncounted = QStringLiteral(
        "python3 -c 'import ctypes, os, sys\n"
        "try:\n    os.memfd_create(\"held\"); sys.exit(\"a memfd was made\")\nexcept OSError: pass\n"
        "if ctypes.CDLL(None).shmget(0, 1 << 20, 0o1600) >= 0: sys.exit(\"a segment was made\")' || exit 1\n");
    Renderer whole(script(uncounted + writesPdf(3)), dir.path(QStringLiteral("template")), 10000, kSandbox);
    const RenderedPdf rendered = whole.render({deck}, dir.path());
    EXPECT_EQ(rendered.pages, 3);
    ASSERT_TRUE(rendered.file && rendered.file->seek(0));
    EXPECT_TRUE(rendered.file->readAll().startsWith("%PDF-1.4"));
}

} // namespace

namespace {
// Moves this process into a memory cgroup of its own with a limit, for as
// long as it lives, where the machine allows it (root, a memory
// controller); otherwise why not.
class LimitedCgroup
{
public:
    LimitedCgroup(qint64 limit)
    {
        QFile own(QStringLiteral("/proc/self/cgroup"));
        if (::geteuid() != 0 || !own.open(QIODevice::ReadOnly)) {
            m_why = QStringLiteral("only root may make a cgroup here");
            return;
        }
        const QByteArray lines = own.readAll();
        const bool v1 = lines.contains(":memory:");
        for (const QByteArray& line : lines.split('\n')) {
            const QList<QByteArray> parts = line.split(':');
            if (parts.size() >= 3 && (v1 ? parts[1].split(',').contains("memory") : parts[0] == "0"))
                m_was = QString::fromUtf8(parts[2]);
        }
        m_base = v1 ? QStringLiteral("/sys/fs/cgroup/memory") : QStringLiteral("/sys/fs/cgroup");
        m_group = m_base + QStringLiteral("/pradelux-test-%1").arg(::getpid());
        const QByteArray value = QByteArray::number(limit);
        if (!QDir().mkdir(m_group) || !write(m_group + (v1 ? "/memory.limit_in_bytes" : "/memory.max"), value) ||
            !write(m_group + QStringLiteral("/cgroup.procs"), QByteArray::number(::getpid())))
            m_why = QStringLiteral("%1 cannot be made or entered").arg(m_group);
    }
    ~LimitedCgroup()
    {
        write(m_base + (m_was == QLatin1String("/") ? QString() : m_was) + QStringLiteral("/cgroup.procs"),
              QByteArray::number(::getpid()));
        QDir().rmdir(m_group);
    }
    QString why() const { return m_why; }

private:
    static bool write(const QString& path, const QByteArray& value)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(value) == value.size() && f.flush();
    }
    QString m_base, m_group, m_was, m_why;
};
} // namespace

// A Slurm task, a systemd unit or a container limits the run's memory: the
// ceiling follows that limit, so one row fails instead of the kernel killing
// the run.
TEST(MemoryCeiling, IsHalfOfTheRunsOwnCgroupLimit)
{
    test::ScopedEnv unset("PRADELUX_RENDER_MEMORY_LIMIT", "");
    const LimitedCgroup group(1LL << 30);
    if (!group.why().isEmpty())
        GTEST_SKIP() << group.why().toStdString();
    EXPECT_EQ(CgroupMemoryLimit(), 1LL << 30);
    EXPECT_EQ(PdfRenderer::DefaultMemoryLimit(), 512LL << 20);
    test::ScopedEnv set("PRADELUX_RENDER_MEMORY_LIMIT", "700");
    EXPECT_EQ(PdfRenderer::DefaultMemoryLimit(), 700LL << 20);
}

// What a rendering's memory file systems hold counts against its memory,
// and only they count: a tmpfs that something else covers (as a sandbox's
// does while it is unmounted, at a renderer's end) is not measured through
// what lies on top, a disk's file system with gigabytes on it. The tree is
// all of it: a process started by another thread than its parent's first
// (as LibreOffice's are) counts, and is killed with the tree, however the
// tree is read.
TEST(TreeMemory, CountsWhatTheTreesOwnMemoryFileSystemsHoldAndNothingThatCoversThem)
{
    QTemporaryDir dir;
    const QString point = dir.filePath(QStringLiteral("tmp"));
    QDir().mkpath(point);
    const QStringList byThread = {
        QStringLiteral("python3"), QStringLiteral("-c"),
        QStringLiteral("import subprocess, sys, threading\n"
                       "t = threading.Thread(target=subprocess.run, args=(sys.argv[1:],)); t.start(); t.join()")};
    for (const bool covered : {false, true}) {
        for (const bool threaded : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "covered " << covered << ", started by a thread " << threaded);
            QStringList command = threaded ? byThread : QStringList();
            command << QStringLiteral("unshare") << QStringLiteral("--user") << QStringLiteral("--map-root-user")
                    << QStringLiteral("--mount") << QStringLiteral("sh") << QStringLiteral("-c")
                    << QStringLiteral("mount -t tmpfs none '%1' && head -c 52000000 /dev/zero > '%1/fill' && %2"
                                      "echo ready $$ && exec sleep 60")
                           .arg(point, covered ? QStringLiteral("mount --bind /usr '%1' && ").arg(point) : QString());
            QProcess tree;
            tree.start(command.takeFirst(), command);
            if (!tree.waitForReadyRead(10000))
                GTEST_SKIP() << "no mount namespace of its own can be made here: "
                             << tree.readAllStandardError().toStdString();
            const qint64 memory = TreeMemory(tree.processId());
            if (covered)
                EXPECT_LT(memory, 40LL << 20) << memory;
            else
                EXPECT_GE(memory, 48LL << 20) << memory;
            // The process that holds the memory, which said its id.
            while (!tree.canReadLine() && tree.waitForReadyRead(5000)) {
            }
            const pid_t holder = tree.readLine().trimmed().split(' ').value(1).toInt();
            ASSERT_GT(holder, 0);
            // Both ways of reading the tree find the same processes.
            QList<qint64> listed = TreeOf(tree.processId());
            QList<qint64> scanned = TreeOf(tree.processId(), TreeReading::Scan);
            EXPECT_TRUE(listed.contains(holder));
            std::sort(listed.begin(), listed.end());
            std::sort(scanned.begin(), scanned.end());
            EXPECT_EQ(listed, scanned);
            KillTree(tree.processId());
            EXPECT_TRUE(tree.waitForFinished(5000));
            // Gone, or ended and not yet reaped by whoever took it over.
            QFile stat(QStringLiteral("/proc/%1/stat").arg(holder));
            const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
            EXPECT_TRUE(line.isEmpty() || line.mid(line.lastIndexOf(')') + 2, 1) == "Z")
                << "the tree's last process is still running: " << line.toStdString();
        }
    }
}
