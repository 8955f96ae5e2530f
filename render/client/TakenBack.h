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
// - the kept renderer's answer: one line that names the request it answers
//   (see Protocol.h and Channel.h).
// - standard output and error: passed on up to a bound, the rest read and
//   dropped (OutputDrain).
#pragma once

#include "Protocol.h"

#include <QFile>
#include <QString>
#include <memory>

namespace pradelux::render::client {

using boundary::CountAsk;
using boundary::PdfFacts;

// A PDF a renderer made, and its pages as they were counted outside.
struct RenderedPdf
{
    QString path; // where the renderer left it (it is gone from there), for messages
    int pages = -1;
    PdfFacts facts;
    // The bytes checked and counted, in a file of the outside's own: what is
    // copied into place is read from it.
    std::shared_ptr<QFile> file = nullptr;
    // The fonts asked for that LibreOffice printed in others, as it said.
    QList<boundary::StandIn> standIns = {};
};

// Takes the PDF named name (empty: the one *.pdf there is) in folder, which
// the rendering could write: checks it and the folder, copies it beside the
// folder (and removes it there) and counts its pages with counter
// (pradelux-pages), which reads its text only as ask says. Throws a
// Failure naming the presentation when it is no whole PDF with pages, or the
// folder holds more than the bound.
RenderedPdf TakePdf(const QString& folder, const QString& name, const QString& presentation, const QString& counter,
                    const CountAsk& ask = {});
// The same for a PDF open at fd (which is taken) whose name is gone, as the
// kept renderer hands it back; path names where it was made, and the copy
// goes beside it.
RenderedPdf TakePdfFrom(int fd, const QString& path, const QString& presentation, const QString& counter,
                        const CountAsk& ask = {});
// The pages of the PDF open at fd (read from its start), as counted by
// counter (pradelux-pages), which is started once and kept; -1 for a
// PDF that is cut short, damaged or locked, or a count that did not come.
PdfFacts CountPages(int fd, const QString& counter, const CountAsk& ask = {});
// The page counter beside the renderer's program.
QString PageCounterBeside(const QString& renderProgram);
} // namespace pradelux::render::client
