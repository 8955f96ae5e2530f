// LibreOffice kept warm in pradelux-render across rows: one renderer for a
// run, a fresh one after a crash or a hang, an end after its idle time, its
// own profile, and the fonts LibreOffice itself would use.
#include "WarmRenderer.h"
#include "Decks.h"
#include "FakeDialogs.h"
#include "LibreOffice.h"
#include "PdfPrinter.h"
#include "PowerPoint1.h"
#include "Registry.h"
#include "Renderer.h"
#include "ServerFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

using namespace pradelux;

namespace {

class WarmRendererTest : public test::ServerFixture
{
protected:
    test::FakeDialogs dialogs;
    FileRegistry registry;
    QString out = config.path(QStringLiteral("out"));
    QString socket = render::client::WarmRenderer::defaultSocketPath();

    void SetUp() override
    {
        ServerFixture::SetUp();
        QDir().mkpath(out);
        // A renderer left by an earlier test would not see this test's settings.
        stopRenderer();
    }
    void TearDown() override
    {
        ServerFixture::TearDown();
        stopRenderer();
    }

    qint64 rendererPid() { return render::client::WarmRenderer::runningRenderer(socket); }
    static bool alive(qint64 pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0; }
    bool waitUntilEnded(qint64 pid, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (alive(pid) && clock.elapsed() < ms)
            QTest::qWait(100);
        return !alive(pid);
    }
    void stopRenderer()
    {
        const qint64 pid = rendererPid();
        if (alive(pid)) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            waitUntilEnded(pid, 5000);
        }
        QFile::remove(socket);
    }

    // Without the window's pauses, as a script exports: the first row asks
    // for its PDF while LibreOffice still loads.
    bool export1(const QString& deck, const QString& pdf)
    {
        PowerPoint1Services steps = PowerPoint1::defaults(automation, registry, dialogs);
        steps.fixedPauses = false;
        return PowerPoint1(steps).DoPPT(deck, pdf);
    }
};

TEST_F(WarmRendererTest, OneRendererServesEveryRowAndAKilledOneIsReplacedOnTheNextRow)
{
    ASSERT_TRUE(export1(test::deck(QStringLiteral("pptx")), out + QStringLiteral("/a.pdf")));
    const qint64 first = rendererPid();
    ASSERT_TRUE(alive(first));
    // The application started one as it started; the first row waited for
    // that one instead of starting another.
    EXPECT_EQ(renderersOf(socket).size(), 1);
    ASSERT_TRUE(export1(test::deck(QStringLiteral("ppt")), out + QStringLiteral("/b.pdf")));
    EXPECT_EQ(rendererPid(), first);

    ::kill(static_cast<pid_t>(first), SIGKILL);
    ASSERT_TRUE(waitUntilEnded(first, 5000));
    EXPECT_TRUE(export1(test::deck(QStringLiteral("odp")), out + QStringLiteral("/c.pdf")));
    EXPECT_TRUE(alive(rendererPid()));
    EXPECT_NE(rendererPid(), first);
    for (const char* pdf : {"/a.pdf", "/b.pdf", "/c.pdf"})
        EXPECT_EQ(test::pdfPages(out + QString::fromLatin1(pdf)), 3) << pdf; // the hidden slide included
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << dialogs.texts().join("\n").toStdString();
    // Its LibreOffice profile is its own: the user's is never made or touched.
    EXPECT_FALSE(QFileInfo::exists(config.path(QStringLiteral("config/libreoffice"))));
}

// LibreOffice kept warm runs in the sandbox, as seen from outside: its own
// namespaces, no privileges, the system call filter, and none of the host's
// sockets among its mounts.
TEST_F(WarmRendererTest, LibreOfficeKeptWarmRunsInTheSandboxApartFromTheService)
{
    ASSERT_TRUE(export1(test::deck(QStringLiteral("pptx")), out + QStringLiteral("/a.pdf")));
    const qint64 service = rendererPid();
    QHash<qint64, qint64> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.front().isDigit() && stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            parents.insert(entry.toLongLong(), line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong());
        }
    }
    qint64 worker = 0;
    for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
        qint64 up = it.key();
        while (up > 1 && up != service)
            up = parents.value(up);
        if (up == service && it.key() != service &&
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(it.key()))
                .symLinkTarget()
                .endsWith(QStringLiteral("/pradelux-inside")) &&
            test::readFile(QStringLiteral("/proc/%1/cmdline").arg(it.key()))
                .contains(QStringLiteral("--render-worker")))
            worker = it.key();
    }
    ASSERT_GT(worker, 0);
    const QString proc = QStringLiteral("/proc/%1").arg(worker);
    QMap<QString, QString> status;
    for (const QString& line : test::readFile(proc + QStringLiteral("/status")).split(QLatin1Char('\n')))
        status.insert(line.section(QLatin1Char(':'), 0, 0), line.section(QLatin1Char(':'), 1).simplified());
    EXPECT_EQ(status.value(QStringLiteral("NoNewPrivs")), QStringLiteral("1"));
    EXPECT_EQ(status.value(QStringLiteral("Seccomp")), QStringLiteral("2"));
    EXPECT_EQ(status.value(QStringLiteral("CapEff")), QStringLiteral("0000000000000000"));
    EXPECT_NE(status.value(QStringLiteral("Uid")).section(QLatin1Char(' '), 0, 0), QStringLiteral("0"));
    const auto link = [](const QString& path) {
        char target[256] = {};
        return ::readlink(QFile::encodeName(path).constData(), target, sizeof target - 1) > 0 ? QByteArray(target)
                                                                                              : QByteArray();
    };
    for (const char* ns : {"pid", "net", "ipc", "uts", "user", "mnt"}) {
        const QByteArray its = link(proc + QStringLiteral("/ns/") + QLatin1String(ns));
        EXPECT_TRUE(!its.isEmpty() && its != link(QStringLiteral("/proc/self/ns/") + QLatin1String(ns))) << ns;
    }
    const QString runtime = QFileInfo(socket).absolutePath();
    for (const QString& line : test::readFile(proc + QStringLiteral("/mountinfo")).split(QLatin1Char('\n'))) {
        const QString mountPoint = line.section(QLatin1Char(' '), 4, 4);
        EXPECT_FALSE(
            mountPoint == runtime || mountPoint.startsWith(runtime + QLatin1Char('/')) ||
            (mountPoint.startsWith(QStringLiteral("/run")) && !mountPoint.startsWith(QStringLiteral("/run/pradelux/"))))
            << line.toStdString();
    }
}

TEST_F(WarmRendererTest, HungRendererIsStoppedAtTheBoundAndTheNextRowStillGetsItsPdf)
{
    test::ScopedEnv bound("PRADELUX_OFFICE_RENDER_TIMEOUT", "3");
    ASSERT_TRUE(export1(test::deck(QStringLiteral("odp")), out + QStringLiteral("/before.pdf")));
    const qint64 hung = rendererPid();
    ::kill(static_cast<pid_t>(hung), SIGSTOP); // it answers nothing from now on
    // A pid file left beside the socket (as older renderers wrote) names a
    // process of the user's that has nothing to do with rendering.
    QProcess bystander;
    bystander.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(bystander.waitForStarted());
    ASSERT_TRUE(test::writeFile(socket + QStringLiteral(".pid"), {}, QByteArray::number(bystander.processId())));
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(export1(test::deck(QStringLiteral("pptx")), out + QStringLiteral("/stuck.pdf")));
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(dialogs.reportedLines(), QList<int>({164}));
    EXPECT_TRUE(!dialogs.boxes.isEmpty() &&
                dialogs.boxes[0].text.startsWith(
                    QStringLiteral("LibreOffice did not finish printing %1 within 3 seconds and was stopped.")
                        .arg(test::deck(QStringLiteral("pptx")))))
        << dialogs.texts().join("\n").toStdString();
    EXPECT_TRUE(waitUntilEnded(hung, 5000));
    EXPECT_EQ(bystander.state(), QProcess::Running);
    bystander.kill();
    bystander.waitForFinished();
    QFile::remove(socket + QStringLiteral(".pid"));
    EXPECT_FALSE(QFile::exists(out + QStringLiteral("/stuck.pdf")));
    EXPECT_TRUE(export1(test::deck(QStringLiteral("pptx")), out + QStringLiteral("/after.pdf")));
    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/after.pdf")), 3);
}

// Told to end while bubblewrap still makes its sandbox, a renderer leaves
// nothing running. Bubblewrap is held, under strace, just after it has made
// the sandbox's first process, which waits for it to go on: killed then,
// it would leave that process waiting for good.
TEST_F(WarmRendererTest, RendererToldToEndAsItsSandboxIsMadeLeavesNothingRunning)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    const QString bwrap = QStandardPaths::findExecutable(QStringLiteral("bwrap"));
    ASSERT_FALSE(strace.isEmpty() || bwrap.isEmpty());
    // The profile's template is made first, so the renderer starts its
    // sandbox at once.
    ASSERT_TRUE(export1(test::deck(QStringLiteral("odp")), out + QStringLiteral("/a.pdf")));
    stopRenderer();
    // Where the sandbox's user, run as root, finds it too.
    QTemporaryDir held(QDir::tempPath() + QStringLiteral("/held-XXXXXX"));
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(held.path(), everyone));
    ASSERT_TRUE(test::writeFile(held.filePath(QStringLiteral("bwrap")), everyone,
                                QStringLiteral("#!/bin/sh\nexec %1 -D -o /dev/null -e trace=clone,clone3 -e "
                                               "inject=clone,clone3:delay_exit=2000000 %2 \"$@\"\n")
                                    .arg(strace, bwrap)
                                    .toUtf8()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), held.path() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("PRADELUX_RENDER_SOCKET"), config.path(QStringLiteral("r.sock")));
    // Where the sandbox's root is made, left by the killed one.
    env.insert(QStringLiteral("TMPDIR"), config.path());
    // Kept into the sandbox, it marks what belongs to this renderer.
    env.insert(QStringLiteral("SAL_TEST_MARK"), held.path());
    const QByteArray mark = "SAL_TEST_MARK=" + QFile::encodeName(held.path());
    // Each process still running with the mark: whether it is in the sandbox.
    const auto marked = [&mark] {
        QMap<qint64, bool> found;
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
            QFile environ("/proc/" + pid + "/environ");
            const QString status = test::readFile("/proc/" + pid + "/status");
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(mark) &&
                !status.contains(QLatin1String("State:\tZ")))
                found.insert(pid.toLongLong(), status.section(QLatin1String("NSpid:"), 1)
                                                   .section(QLatin1Char('\n'), 0, 0)
                                                   .simplified()
                                                   .contains(QLatin1Char(' ')));
        }
        return found;
    };
    // Told to end, it takes its sandbox down; killed, its sandbox goes on
    // alone and ends by itself.
    for (const int signal : {SIGTERM, SIGKILL}) {
        QProcess renderer;
        renderer.setProcessEnvironment(env);
        renderer.start(QStringLiteral(PRADELUX_APPFOLDER "/pradelux-render"), {});
        ASSERT_TRUE(renderer.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        while (!marked().values().contains(true) && renderer.state() == QProcess::Running && clock.elapsed() < 20000)
            QTest::qWait(20);
        ASSERT_TRUE(marked().values().contains(true)) << signal << renderer.readAllStandardError().toStdString();
        ::kill(static_cast<pid_t>(renderer.processId()), signal);
        ASSERT_TRUE(renderer.waitForFinished(5000));
        clock.restart();
        while (!marked().isEmpty() && clock.elapsed() < 10000)
            QTest::qWait(100);
        const QList<qint64> left = marked().keys();
        for (const qint64 pid : left)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        EXPECT_EQ(left, QList<qint64>()) << signal;
    }
}

TEST_F(WarmRendererTest, IdleRendererEndsByItselfAndLeavesNothingBehind)
{
    // Longer than the pauses that follow the print, so it is seen alive first.
    test::ScopedEnv idle("PRADELUX_RENDER_IDLE", "8");
    // LibreOffice's temporary files and the sandbox's root are made here.
    const QString temporary = config.path(QStringLiteral("tmp"));
    QDir().mkpath(temporary);
    test::ScopedEnv tmp("TMPDIR", temporary.toUtf8());
    socket = render::client::WarmRenderer::defaultSocketPath(); // without a runtime folder it goes there too
    ASSERT_TRUE(export1(test::deck(QStringLiteral("odp")), out + QStringLiteral("/a.pdf")));
    const qint64 pid = rendererPid();
    ASSERT_TRUE(alive(pid));
    EXPECT_TRUE(waitUntilEnded(pid, 20000));
    EXPECT_FALSE(QFile::exists(socket));
    EXPECT_EQ(QDir(temporary).entryList(
                  {QStringLiteral("lu*"), QStringLiteral(".pradelux-sandbox-*"), QStringLiteral("pradelux-render-*")},
                  QDir::AllEntries | QDir::Hidden),
              QStringList());
}

TEST_F(WarmRendererTest, RenderingThatOutgrowsTheMemoryCeilingIsStoppedAndTheNextRowExports)
{
    // 200 KiB on disk, 200 MiB of slide text once unpacked.
    const QString decks = config.path(QStringLiteral("decks"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {QStringLiteral(PRADELUX_SOURCE_DIR "/tests/endtoend/hostile_decks.py"),
                                 test::deck(QStringLiteral("pptx")), decks, config.path(QStringLiteral("outside")),
                                 QStringLiteral("http://127.0.0.1:9"), QStringLiteral("200")}),
              0);
    const QString inflating = decks + QStringLiteral("/inflating.odp");
    for (const char* renderer : {"", "soffice"}) {
        test::ScopedEnv which("PRADELUX_OFFICE_RENDERER", renderer);
        dialogs.boxes.clear();
        {
            // Only for this row: a renderer built with the address sanitizer
            // starts larger than this.
            test::ScopedEnv ceiling("PRADELUX_RENDER_MEMORY_LIMIT", "700");
            EXPECT_FALSE(export1(inflating, out + QStringLiteral("/inflating.pdf"))) << renderer;
        }
        EXPECT_TRUE(!dialogs.boxes.isEmpty() &&
                    dialogs.boxes[0].text.startsWith(
                        QStringLiteral("%1 needed more than 700 MiB of memory to print").arg(inflating)))
            << renderer << dialogs.texts().join("\n").toStdString();
        EXPECT_TRUE(export1(test::deck(QStringLiteral("odp")), out + QStringLiteral("/after.pdf"))) << renderer;
        EXPECT_EQ(test::pdfPages(out + QStringLiteral("/after.pdf")), 3) << renderer;
    }
}

// Another user who watches the temporary folder makes, for every folder a
// renderer makes there, each name derived from it, and owns them: the
// renderer starts all the same, as its folders have names nobody can make
// first.
TEST_F(WarmRendererTest, RendererStartsWhateverAnotherUserMakesBesideItsFolders)
{
    const QString temporary = ::geteuid() == 0 ? QStringLiteral("/tmp") : QDir::tempPath();
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(temporary).constData(), IN_CREATE | IN_ONLYDIR), 0);
    std::atomic<bool> stop = false;
    std::atomic<int> made = 0;
    std::thread watcher([&] {
        alignas(inotify_event) char events[4096];
        while (!stop) {
            pollfd p{watch, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t got = ::read(watch, events, sizeof events);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                const QByteArray name(event->len ? event->name : "");
                if (name.startsWith(".pradelux-") && !name.endsWith(".jobs")) {
                    const QByteArray beside = QFile::encodeName(temporary) + '/' + name + ".jobs";
                    if (::mkdir(beside.constData(), 0755) == 0) {
                        ++made;
                        // Another user's, where a user can give it away.
                        if (::geteuid() == 0)
                            (void)!::chown(beside.constData(), 65534, 65534);
                    }
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    });
    const bool exported = export1(test::deck(QStringLiteral("odp")), out + QStringLiteral("/watched.pdf"));
    stop = true;
    watcher.join();
    ::close(watch);
    for (const QString& left :
         QDir(temporary).entryList({QStringLiteral(".pradelux-*.jobs")}, QDir::Dirs | QDir::Hidden))
        QDir(temporary).rmdir(left);
    EXPECT_GT(made, 0);
    EXPECT_TRUE(exported) << dialogs.texts().join("\n").toStdString();
    EXPECT_EQ(test::pdfPages(out + QStringLiteral("/watched.pdf")), 3);
}

// The fonts LibreOffice itself would use: Carlito for Calibri, a font found
// only in the user's own font folder (Carlito under another name), and the
// user's own fontconfig rule (Segoe UI printed in that font); the renderer's
// stand-ins for fonts with no twin installed, in both renderers. Every line
// is laid out and printed in one font: its words come out whole.
TEST_F(WarmRendererTest, TextIsPrintedInTheFontsLibreOfficeItselfWouldUse)
{
    QProcess match;
    match.start(QStringLiteral("fc-match"),
                {QStringLiteral("-f"), QStringLiteral("%{file}"), QStringLiteral("Carlito")});
    ASSERT_TRUE(match.waitForFinished(30000));
    QFile carlito(QString::fromUtf8(match.readAllStandardOutput()));
    ASSERT_TRUE(carlito.open(QIODevice::ReadOnly)) << carlito.fileName().toStdString();
    QByteArray font = carlito.readAll();
    const auto wide = [](const char* name) {
        QByteArray utf16;
        for (; *name; ++name)
            utf16.append('\0').append(*name);
        return utf16;
    };
    font.replace(wide("Carlito"), wide("Pradlux")).replace("Carlito", "Pradlux");
    const QString data = config.path(QStringLiteral("data"));
    ASSERT_TRUE(test::writeFile(data + QStringLiteral("/fonts/Pradlux-Regular.ttf"), {}, font));
    test::ScopedEnv userData("XDG_DATA_HOME", data.toUtf8().constData());
    ASSERT_TRUE(test::writeFile(config.path(QStringLiteral("config/fontconfig/fonts.conf")), {},
                                "<?xml version=\"1.0\"?><fontconfig><alias><family>Segoe UI</family>"
                                "<prefer><family>Pradlux</family></prefer></alias></fontconfig>\n"));

    const struct
    {
        const char* renderer;
        const char* family;
        const char* printed;
    } rows[] = {{"", "Calibri", "Carlito"},          {"", "Pradlux", "Pradlux"},
                {"soffice", "Pradlux", "Pradlux"},   {"", "Segoe UI", "Pradlux"},
                {"soffice", "Segoe UI", "Pradlux"},  {"", "Calibri Light", "Carlito"},
                {"", "Century Gothic", "URWGothic"}, {"soffice", "Comic Sans MS", "ComicNeue"}};
    const QString pangram = QStringLiteral("The quick brown fox jumps over the lazy dog");
    for (const auto& row : rows) {
        test::ScopedEnv which("PRADELUX_OFFICE_RENDERER", row.renderer);
        const QString family = QString::fromLatin1(row.family);
        const QString deck = config.path(family + QStringLiteral(".fodp"));
        ASSERT_TRUE(test::writeFile(deck, {}, test::flatPresentation({pangram}, {}, family)));
        const QString pdf = out + QLatin1Char('/') + family + QLatin1String(row.renderer) + QStringLiteral(".pdf");
        ASSERT_TRUE(export1(deck, pdf)) << row.renderer << row.family;
        QProcess fonts;
        fonts.start(QStringLiteral("pdffonts"), {pdf});
        ASSERT_TRUE(fonts.waitForFinished(30000));
        const QString listed = QString::fromUtf8(fonts.readAllStandardOutput());
        EXPECT_TRUE(listed.contains(QLatin1String(row.printed))) << row.renderer << ' ' << listed.toStdString();
        EXPECT_TRUE(test::pdfText(pdf).contains(pangram)) << row.renderer << row.family;
    }
}

// Every writing system prints in a font that has its letters, not as boxes:
// one of the fonts the PDF holds is one that fontconfig says covers the
// script's language (for emoji, the character), in the fonts the package
// depends on. The text layer would hold the letters even where the page
// shows boxes, so the fonts are what is checked.
TEST_F(WarmRendererTest, EveryScriptIsPrintedInAFontThatHasItsLetters)
{
    const auto squeezed = [](QString name) { return name.remove(QLatin1Char(' ')).toCaseFolded(); };
    const struct
    {
        const char* fontconfig; // what fc-list is asked
        const char* family;     // the font the text asks for, as Office themes give it
        const char* text;
        char32_t lacking = 0; // the letter no font has
    } rows[] = {
        {":lang=zh-cn", "DengXian", "简体中文：敏捷的棕色狐狸跳过了懒狗"},
        {":lang=zh-tw", "PMingLiU", "繁體中文：敏捷的棕色狐狸跳過了懶狗"},
        {":lang=ja", "MS PGothic", "日本語：いろはにほへと ちりぬるを"},
        {":lang=ko", "Malgun Gothic", "한국어: 다람쥐 헌 쳇바퀴에 타고파"},
        {":lang=ar", "Times New Roman", "العربية: نص حكيم له سر قاطع وذو شأن عظيم"},
        {":lang=fa", "Arial", "فارسی: به نام خداوند جان و خرد"},
        {":lang=hi", "Mangal", "हिन्दी: ऋषियों को सताने वाले दुष्ट राक्षसों"},
        {":lang=bn", "Vrinda", "বাংলা: আমার সোনার বাংলা"},
        {":lang=ta", "Latha", "தமிழ்: யாமறிந்த மொழிகளிலே"},
        {":lang=th", "Cordia New", "ภาษาไทย: เป็นมนุษย์สุดประเสริฐเลิศคุณค่า"},
        {":lang=he", "Arial", "עברית: דג סקרן שט בים מאוכזב"},
        {":charset=1f600", "Segoe UI Emoji", "\U0001F600 \U0001F389 \U0001F44D"},
        // Khitan, which no font of Debian's has: the row tells of it.
        {":charset=18b00", "Calibri", "Khitan \U00018B00", 0x18b00},
    };
    for (const auto& row : rows) {
        const QString deck = config.path(QString::fromLatin1(row.fontconfig).mid(1).replace('=', '-') + ".fodp");
        ASSERT_TRUE(test::writeFile(
            deck, {}, test::flatPresentation({QString::fromUtf8(row.text)}, {}, QString::fromLatin1(row.family))));
        const QString pdf = out + QLatin1Char('/') + QFileInfo(deck).completeBaseName() + QStringLiteral(".pdf");
        ASSERT_TRUE(export1(deck, pdf)) << row.fontconfig;
        // Only a letter that no installed font has is told of.
        EXPECT_EQ(pdfprinter::RecordedLacking(pdf), row.lacking ? QList<char32_t>{row.lacking} : QList<char32_t>())
            << row.fontconfig;
        if (row.lacking)
            continue;
        // A LibreOffice that prints colour fonts blank must print emoji in
        // another font.
        QString asked = QLatin1String(row.fontconfig);
        if (asked.startsWith(QLatin1String(":charset")) &&
            render::boundary::PrintsColourFontsBlank(render::boundary::FindSoffice()))
            asked += QStringLiteral(":color=False");
        QSet<QString> covering;
        for (const QString& line : test::outputOf(QStringLiteral("fc-list"), {asked, "family"}).split('\n'))
            for (const QString& family : line.split(QLatin1Char(',')))
                covering.insert(squeezed(family));
        QStringList printed;
        for (const QString& line : test::outputOf(QStringLiteral("pdffonts"), {pdf}).split('\n').mid(2)) {
            const QString name = line.section(QLatin1Char(' '), 0, 0).section(QLatin1Char('+'), -1);
            if (!name.isEmpty())
                printed << name;
        }
        const bool covered = std::any_of(printed.cbegin(), printed.cend(), [&](const QString& name) {
            return covering.contains(squeezed(name.section(QLatin1Char('-'), 0, 0)));
        });
        EXPECT_TRUE(covered) << row.fontconfig << ": " << printed.join(' ').toStdString();
    }
}

} // namespace
