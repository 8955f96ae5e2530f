// What the processes of a rendering say to each other, each message a
// struct with one writer and one reader, a line of JSON on the wire:
// - the application asks the renderer's service (Request), and gets an
//   Answer with the PDF's descriptor beside it when it printed;
// - the service gives LibreOffice's worker inside the sandbox a Job, and the
//   worker says Done; its first line is Ready;
// - a page count says what a PDF is (PdfFacts).
// Nothing outside this file spells a key. A reader takes a line it cannot
// read as a line that said nothing (std::nullopt); what comes from inside
// the sandbox is believed no further than these readers check.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/stat.h>

namespace pradelux::render::boundary {

// What became of a rendering.
enum class Result {
    Printed,
    NotLoaded,        // LibreOffice could not open it, or it could not be shown
    NotAPresentation, // it opened as another kind of document
    NotSaved,         // the PDF could not be made
    TooLarge,         // what the rendering wrote passed the PDF's bound
    BadRequest,       // the request was not one
    OutOfStep,        // the worker answered what was not asked
    WrongPassword,    // none of the passwords it was given opened it
};

// A font a presentation asked for that LibreOffice printed in another,
// as LibreOffice itself recorded it while it laid the presentation out.
struct StandIn
{
    QString requested;
    QString printed;
    bool operator==(const StandIn&) const = default;
};
// What a rendering tells of them, at most: a worker that says more, or
// longer names, or control characters, says nothing that is read.
inline constexpr int kMostStandIns = 24;
inline constexpr int kStandInNameMax = 48;

// Application → service.
struct Request
{
    QString presentation; // its absolute path
    QStringList links;    // the local files it links to, relative to its folder
    // LibreOffice's PDF filter data: each option's name, with its type and
    // value ({"SelectPdfVersion": {"type": "long", "value": "2"}}).
    QJsonObject filter;
    bool alone = false; // printed by a LibreOffice that printed nothing before, and nothing after
    // For a presentation protected by a password: those to open it with,
    // tried in turn (it is then printed alone).
    QStringList passwords = {};
    QByteArray line() const;
    static std::optional<Request> read(const QByteArray& line);
};

// Service → application; the PDF's descriptor comes beside it when printed.
struct Answer
{
    Result result = Result::NotLoaded;
    qint64 successor = 0; // the renderer started to take over from this one, if any
    QList<StandIn> standIns;
    QByteArray line() const;
    static std::optional<Answer> read(const QByteArray& line);
};

// Service → worker: print presentation to pdf (both paths inside).
struct Job
{
    qint64 id = 0; // drawn at random for each job, so nothing inside can answer one ahead
    QString presentation;
    QString pdf;
    QJsonObject filter; // as the request's
    QStringList passwords = {};
    QByteArray line() const;
    static std::optional<Job> read(const QByteArray& line);
};

// Worker → service: what became of job id.
struct Done
{
    qint64 id = 0;
    Result result = Result::NotLoaded;
    QList<StandIn> standIns;
    QByteArray line() const;
    static std::optional<Done> read(const QByteArray& line);
};

// Worker → service, its first line: LibreOffice is loaded, or why not.
struct Ready
{
    bool ready = false;
    QString error;
    QByteArray line() const;
    static std::optional<Ready> read(const QByteArray& line);
};

// Letters of a PDF's text that no installed font has, at most this many.
inline constexpr int kMostLacking = 16;

// What a PDF is, as its page count found it: its pages (-1: no whole PDF),
// its version, its PDF/A part (0: none), whether it is tagged, and the
// letters of its text that no installed font has (which it shows as empty
// boxes).
struct PdfFacts
{
    int pages = -1;
    QString version;
    int pdfa = 0;
    bool tagged = false;
    QList<char32_t> lacking = {};
    // "pages N version M.N pdfa A tagged T\n", or with "lacking C,C..."
    // before the end, each a code point in hexadecimal.
    QByteArray line() const;
    // Pages -1 unless line is one that line() writes, and no more.
    static PdfFacts read(const QByteArray& line);
};

// What the page count is asked with a PDF: the letters beyond ASCII of the
// deck it was printed from, when its file check read them all (at most
// kMostDeckLetters), so that it reads the PDF's text only when one of them
// is in no installed font; nothing known: it reads the text.
inline constexpr int kMostDeckLetters = 256;
struct CountAsk
{
    std::optional<QList<char32_t>> letters = std::nullopt;
    // "count\n", or "count letters C,C...\n" (code points in hexadecimal,
    // none for a deck of ASCII alone).
    QByteArray line() const;
    // Nothing unless line is one that line() writes.
    static std::optional<CountAsk> read(const QByteArray& line);
};
inline constexpr qsizetype kCountAskMax = 16 + 7 * kMostDeckLetters;

// How long the count of one PDF may take.
inline constexpr int kCountMs = 60000;
// A count's line is short.
inline constexpr qsizetype kCountLineMax = 64 + 7 * kMostLacking;

// How large a PDF may grow: PRADELUX_RENDER_PDF_LIMIT (MiB), or 2 GiB.
qint64 PdfSizeLimit();
// Whether a PDF the inside left may be taken: a regular file of this user's
// with this many names, whose blocks hold all of its size.
bool PdfFileSound(const struct stat& st, nlink_t links);

} // namespace pradelux::render::boundary
