// What the outside takes back from a rendering, read here and nowhere else.
//
// Inside the sandbox runs LibreOffice, which a presentation may have taken
// over: nothing it leaves or says is believed. What comes back, and how:
// - the PDF: opened once, relative to its folder's descriptor, following no
//   link and waiting on no pipe; it must be a regular file of the renderer's
//   user with one link, within the size bound, and not sparse. What is counted and printed
//   is a copy of the bytes checked, in a file the sandbox never sees.
// - its pages: counted from that copy by a process of pradelux-render's that
//   can open, connect to or start nothing, with bounded memory and time;
//   never what anything inside said.
// - the folder the rendering could write: everything in it, under any name
//   and in any subfolder, counts against the PDF's size bound.
// - the kept renderer's answer: one line of at most kAnswerMax bytes that
//   names the request it answers.
// - standard output and error: passed on up to kOutputMax bytes, the rest
//   read and dropped.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>

namespace pradelux::office {

// A PDF a renderer made, and its pages as they were counted outside.
// What a PDF is, as its count found it: its pages (-1: no whole PDF), its
// version, its PDF/A part (0: none) and whether it is tagged.
struct PdfFacts
{
    int pages = -1;
    QString version;
    int pdfa = 0;
    bool tagged = false;
};

struct RenderedPdf
{
    QString path; // where the renderer left it (it is gone from there), for messages
    int pages = -1;
    PdfFacts facts;
    // The bytes checked and counted, in a file of the outside's own: what is
    // copied into place is read from it.
    std::shared_ptr<QFile> file = nullptr;
};

// Takes the PDF named name (empty: the one *.pdf there is) in folder, which
// the rendering could write: checks it and the folder, copies it beside the
// folder (and removes it there) and counts its pages with counter
// (pradelux-render). Throws a
// Failure naming the presentation when it is no whole PDF with pages, or the
// folder holds more than the bound.
RenderedPdf TakePdf(const QString& folder, const QString& name, const QString& presentation, const QString& counter);
// The same for a PDF open at fd (which is taken) whose name is gone, as the
// kept renderer hands it back; path names where it was made, and the copy
// goes beside it.
RenderedPdf TakePdfFrom(int fd, const QString& path, const QString& presentation, const QString& counter);
// Whether a PDF the inside left may be taken: a regular file of this user's
// with this many names, whose blocks hold all of its size.
bool PdfFileSound(const struct stat& st, nlink_t links);

// The pages of the PDF open at fd (read from its start), as counted by
// counter --count-pages-server, which is started once and kept; -1 for a
// PDF that is cut short, damaged or locked, or a count that did not come.
PdfFacts CountPages(int fd, const QString& counter);
// The count's own part, in pradelux-render: takes PDFs' descriptors on its
// standard input and, for each, starts a process that gives up all it could
// reach before Poppler reads a byte, and says what that one counted ("pages
// N") on its standard output. The exit status.
int RunPageCountServer();
// A message with a descriptor beside it: a count server's request (one byte
// and a PDF's descriptor), the kept renderer's answer (a line and its PDF's).
class DescriptorMessage
{
public:
    DescriptorMessage();
    DescriptorMessage(const DescriptorMessage&) = delete;
    DescriptorMessage& operator=(const DescriptorMessage&) = delete;
    msghdr* header() { return &m_header; }
    // Its bytes are size bytes at data instead of the one byte of its own.
    void setData(char* data, size_t size) { m_data = {data, size}; }
    // Puts fd in the message, to be sent.
    void carry(int fd);
    // Sent without a descriptor.
    void carryNone()
    {
        m_header.msg_control = nullptr;
        m_header.msg_controllen = 0;
    }
    // The descriptor a received message carried; -1 when none.
    int carried() const;

private:
    char m_byte = 0;
    iovec m_data{&m_byte, 1};
    alignas(cmsghdr) char m_control[CMSG_SPACE(sizeof(int))] = {};
    msghdr m_header = {};
};
// How long the count of one PDF may take.
inline constexpr int kCountMs = 60000;
// What a count said on fd within ms: a line; empty when it said more, or
// nothing in time.
QByteArray ReadCount(int fd, int ms);
// What a count said, pages -1 unless it said "pages N version M.N pdfa A
// tagged T" and no more.
PdfFacts ParseCount(const QByteArray& said);

// An answer of the kept renderer's is one short line.
inline constexpr qsizetype kAnswerMax = 4096;
class OutputDrain;
// A line read from fd into buffer, no longer than kAnswerMax; empty when fd
// closed, or said more than that in one line. Meanwhile output (when given)
// is drained, so that a renderer that writes much is not held up.
QByteArray ReadAnswerLine(int fd, QByteArray* buffer, OutputDrain* output = nullptr);
// Whether line answers request id and came alone (nothing after it in the
// buffer).
bool AnswersRequest(const QByteArray& line, qint64 id, const QByteArray& rest);

// What a renderer's standard output and error may pass on for a rendering.
inline constexpr qint64 kOutputMax = 64 << 10;
// Reads what fd holds now and passes it on to to until kOutputMax bytes
// have gone; the rest is dropped.
class OutputDrain
{
public:
    // from is made non-blocking.
    OutputDrain(int from, int to);
    // False once from has closed.
    bool drain();
    int fd() const { return m_from; }
    // A new rendering may pass on kOutputMax bytes again.
    void allowMore() { m_passed = 0; }

private:
    int m_from;
    int m_to;
    qint64 m_passed = 0;
};

} // namespace pradelux::office
