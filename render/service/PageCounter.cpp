// pradelux-pages: the pages of the PDFs that
// LibreOffice made. A PDF may be crafted to take its reader over, so each is
// read in a process forked for it alone, which before Poppler reads a byte
// of it gives up what it could reach: it can no longer
// open a file, connect anywhere, start a process or gain a privilege; its
// memory and processor time are bounded. The most a crafted PDF
// can do here is lie about its own pages.
//
// The same process reads the PDF's text for letters that no installed font
// has: LibreOffice prints those as empty boxes and keeps the letters in the
// text, so nothing else a reader checks would tell.
#include "Channel.h"
#include "ChildStart.h"
#include "Confinement.h"
#include "Protocol.h"
#include "Service.h"

#include <QFile>

#include <poppler-qt6.h>

#include <fontconfig/fontconfig.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pradelux::render::service {

using namespace boundary;

namespace {
// A PDF of one page, held open by the server: Poppler sets up what it keeps
// (its tables, its data files) for the first document it opens, while files
// can still be opened, and keeps it while any is open; each count inherits it.
const char kTiny[] = "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 obj<</Type/Pages/Kids[3 0 R]/Count "
                     "1>>endobj\n3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 10 10]>>endobj\ntrailer<</Root 1 0 "
                     "R>>\n%%EOF\n";

// What the count may still do: read what it has open, use memory, write to
// its standard output and error, and end.
bool contain()
{
    return platform::Confine({{}, {STDOUT_FILENO, STDERR_FILENO}, rlim_t(2) << 30, 30, platform::Confinement::Refused});
}

// Every letter of every installed font, gathered once by the server before
// it forks its counts: a count can open no font.
FcCharSet* g_installed = nullptr;

FcCharSet* installedLetters()
{
    FcCharSet* letters = FcCharSetCreate();
    FcPattern* any = FcPatternCreate();
    FcObjectSet* wanted = FcObjectSetBuild(FC_CHARSET, nullptr);
    FcFontSet* fonts = letters && any && wanted ? FcFontList(nullptr, any, wanted) : nullptr;
    for (int i = 0; fonts && i < fonts->nfont; ++i) {
        FcCharSet* its = nullptr;
        if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &its) == FcResultMatch)
            FcCharSetMerge(letters, its, nullptr);
    }
    if (fonts)
        FcFontSetDestroy(fonts);
    if (wanted)
        FcObjectSetDestroy(wanted);
    if (any)
        FcPatternDestroy(any);
    return letters;
}

// How the server tells a count whether to read the PDF's text.
constexpr char kReadText = 'T';
constexpr char kPagesOnly = 'P';

// Spaces, controls, joiners and marks that print nothing of their own, and
// the private use area, where LibreOffice maps symbol fonts' letters itself.
bool printsNothing(char32_t c)
{
    return c <= 0x20 || (c >= 0x7f && c <= 0xa0) || c == 0xad || (c >= 0x2000 && c <= 0x200f) ||
           (c >= 0x2028 && c <= 0x202f) || (c >= 0x205f && c <= 0x206f) || c == 0x3000 ||
           (c >= 0xd800 && c <= 0xf8ff) || (c >= 0xfe00 && c <= 0xfe0f) || c == 0xfeff ||
           (c >= 0xfff0 && c <= 0xfffd) || (c >= 0xe0000 && c <= 0xe01ef) || c >= 0xf0000;
}

// Whether a deck with these letters may print one that no installed font
// has; not knowing them, it may.
bool mayLack(const std::optional<QList<char32_t>>& letters)
{
    if (!letters || !g_installed)
        return true;
    for (const char32_t c : *letters) {
        if (!printsNothing(c) && !FcCharSetHasChar(g_installed, c))
            return true;
    }
    return false;
}

// The letters of the document's text that no installed font has, in the
// order of their code points; of a large PDF, the first pages' text.
QList<char32_t> lackingLetters(const Poppler::Document& document)
{
    constexpr qsizetype kMostRead = 8 << 20;
    std::set<char32_t> seen;
    qsizetype read = 0;
    for (int i = 0; g_installed && i < document.numPages() && read < kMostRead; ++i) {
        const std::unique_ptr<Poppler::Page> page(document.page(i));
        // Poppler's text in the order it is drawn leaves out letters drawn
        // as LibreOffice draws those that no font has.
        const QString text = page ? page->text(QRectF()) : QString();
        read += text.size();
        for (const char32_t c : text.toUcs4())
            seen.insert(c);
    }
    QList<char32_t> lacking;
    for (const char32_t c : seen) {
        if (lacking.size() < kMostLacking && !printsNothing(c) && !FcCharSetHasChar(g_installed, c))
            lacking << c;
    }
    return lacking;
}

// Whether the PDF says it is tagged: its catalog marks it, and has a
// structure tree. Read a piece at a time, with an overlap for a name that
// spans two.
bool markedTagged(QFile& device)
{
    bool marked = false;
    bool tree = false;
    QByteArray tail;
    device.seek(0);
    while (!(marked && tree)) {
        const QByteArray piece = tail + device.read(1 << 20);
        if (piece.size() <= tail.size())
            break;
        marked = marked || piece.contains("/Marked true");
        tree = tree || piece.contains("/StructTreeRoot");
        tail = piece.right(32);
    }
    return marked && tree;
}

// The pages of the PDF in device, every one of which Poppler can read (-1
// for none, a locked one, or one that is cut short), and what it is.
PdfFacts factsOf(QFile& device, bool readText)
{
    PdfFacts facts;
    if (!device.read(5).startsWith("%PDF-") || !device.seek(qMax<qint64>(0, device.size() - 1024)) ||
        !device.read(1024).contains("%%EOF") || !device.seek(0))
        return facts;
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(&device);
    if (!document || document->isLocked())
        return facts;
    const int pages = document->numPages();
    for (int i = 0; i < pages; ++i) {
        if (!document->page(i))
            return facts;
    }
    facts.pages = pages;
    const Poppler::Document::PdfVersion version = document->getPdfVersion();
    if (version.major >= 1 && version.major <= 2 && version.minor >= 0 && version.minor <= 9)
        facts.version = QStringLiteral("%1.%2").arg(version.major).arg(version.minor);
    // The PDF/A part its metadata claims, as an element or an attribute.
    const QString metadata = document->metadata();
    for (const QString& before :
         {QStringLiteral("pdfaid:part>"), QStringLiteral("pdfaid:part=\""), QStringLiteral("pdfaid:part='")}) {
        const qsizetype at = metadata.indexOf(before);
        const QChar part = at >= 0 && at + before.size() < metadata.size() ? metadata.at(at + before.size()) : QChar();
        if (part >= QLatin1Char('1') && part <= QLatin1Char('4'))
            facts.pdfa = part.digitValue();
    }
    facts.tagged = markedTagged(device);
    if (readText)
        facts.lacking = lackingLetters(*document);
    return facts;
}
} // namespace

namespace {
// A count's process, forked ahead of the PDF it is to count, so that no row
// waits for the fork: the PDF comes over pass, the count goes out on out.
struct Counter
{
    pid_t pid = -1;
    int pass = -1;
    int out = -1;
};

Counter forkCounter()
{
    int pass[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pass) != 0)
        return {};
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(pass[0]);
        ::close(pass[1]);
        return {};
    }
    // One PDF, in a process of its own that holds nothing else. It waits for
    // the PDF no longer than the server lives.
    const pid_t pid = ForkChild({{{pass[1], pass[1]}, {out[1], out[1]}}}, [&] {
        DescriptorMessage message;
        char mode = 0;
        message.setData(&mode, 1);
        const int pdf = ::recvmsg(pass[1], message.header(), 0) == 1 ? message.carried() : -1;
        if (pdf < 0 || ::dup2(pdf, STDIN_FILENO) < 0 || ::dup2(out[1], STDOUT_FILENO) < 0)
            std::_Exit(3);
        for (const int fd : {pdf, pass[1], out[1]})
            ::close(fd);
        QFile in;
        if (!in.open(STDIN_FILENO, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !contain())
            std::_Exit(3);
        PdfFacts facts = factsOf(in, mode == kReadText);
        if (facts.version.isEmpty())
            facts.version = QStringLiteral("1.0");
        const QByteArray line = facts.line();
        (void)!::write(STDOUT_FILENO, line.constData(), static_cast<size_t>(line.size()));
        // Nothing of this process needs ending well, and a sanitizer's
        // leak check could not run under the filter.
        std::_Exit(0);
        return 0;
    });
    ::close(pass[1]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(pass[0]);
        ::close(out[0]);
        return {};
    }
    return {pid, pass[0], out[0]};
}

// What the counter said of the PDF at pdf (which is closed); empty when it
// said nothing whole in time. Its line is all it says: the process is ended
// and reaped by endCounter once the answer is out, so that no row waits
// for a process's end.
QByteArray countWith(const Counter& counter, int pdf, bool readText)
{
    QByteArray said;
    if (counter.pid > 0) {
        DescriptorMessage message;
        char mode = readText ? kReadText : kPagesOnly;
        message.setData(&mode, 1);
        message.carry(pdf);
        if (::sendmsg(counter.pass, message.header(), MSG_NOSIGNAL) == 1)
            said = ReadLineWithin(counter.out, kCountMs, kCountLineMax);
        ::close(counter.pass);
        ::close(counter.out);
    }
    ::close(pdf);
    return said;
}

void endCounter(const Counter& counter)
{
    if (counter.pid <= 0)
        return;
    ::kill(counter.pid, SIGKILL);
    while (::waitpid(counter.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}
} // namespace

int RunPageCountServer()
{
    // Its counts are waited for, whatever the program that started it
    // ignored.
    ::signal(SIGCHLD, SIG_DFL);
    // Poppler's complaints about a PDF it repairs are no use to anyone.
    Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
    const std::unique_ptr<Poppler::Document> first = Poppler::Document::loadFromData(QByteArray(kTiny));
    g_installed = installedLetters();
    Counter next = forkCounter();
    for (;;) {
        DescriptorMessage message;
        QByteArray line(kCountAskMax, Qt::Uninitialized);
        message.setData(line.data(), static_cast<size_t>(line.size()));
        const ssize_t got = ::recvmsg(STDIN_FILENO, message.header(), MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // The program that asked has ended.
            if (next.pid > 0)
                ::kill(next.pid, SIGKILL);
            return 0;
        }
        const int pdf = message.carried();
        line.truncate(got);
        // The rest of a line that came in two pieces.
        while (!line.endsWith('\n') && line.size() < kCountAskMax) {
            char more[512];
            const ssize_t n = ::read(STDIN_FILENO, more, qMin<qsizetype>(sizeof more, kCountAskMax - line.size()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            line.append(more, n);
        }
        const std::optional<CountAsk> ask = CountAsk::read(line);
        QByteArray said = pdf >= 0 ? countWith(next, pdf, !ask || mayLack(ask->letters)) : QByteArray();
        if (PdfFacts::read(said).pages < 0)
            said = PdfFacts{-1, QStringLiteral("1.0"), 0, false}.line();
        const bool answered = ::write(STDOUT_FILENO, said.constData(), static_cast<size_t>(said.size())) == said.size();
        // The count's process goes, and the next one's is made, once this
        // answer is out.
        if (pdf >= 0 || !answered) {
            endCounter(next);
            next = {};
        }
        if (!answered)
            return 0;
        if (pdf >= 0)
            next = forkCounter();
    }
}

} // namespace pradelux::render::service

int main()
{
    return pradelux::render::service::RunPageCountServer();
}
