// What a file handed to the presentation application is, judged by its
// content: a presentation, something else (a text document, a workbook, a
// picture), or a package that is damaged (cut short, with parts whose
// checksums do not match, with parts that overlap or unpack to more than a
// budget), which LibreOffice could only open by repairing it. The work is
// bounded by the file's size and the budget; the file is read, never mapped,
// and not changed.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "PrintOutput.h"

#include <optional>

namespace pradelux::office {

struct FileKind
{
    // Protected: encrypted with a password (an OOXML package inside a
    // compound file, an OpenDocument package whose manifest holds
    // encryption data, a .ppt with an encrypted summary).
    enum Verdict { Presentation, NotPresentation, Damaged, NotRegular, TookTooLong, Protected };
    Verdict verdict = NotPresentation;
    // For Damaged: what is wrong, in words. For Protected: the kind of file
    // where LibreOffice opens none of that kind protected, with any password.
    QString why;
    // For a Presentation: how many slides it has, hidden ones too, as its
    // own list of slides says; -1 when that list could not be read.
    int slides = -1;
    // The files outside it that it links to, as it names them: the targets
    // of a PowerPoint package's external relationships, the xlink:href of an
    // OpenDocument presentation's content (a package's relative to the
    // package's folder). At most kLinksMax.
    QStringList links = {};
    // For a Presentation: the letters beyond ASCII that its XML (or a .ppt's
    // records) holds, in its text and in its bullets and numbering, each
    // once, in order of their code points; not known (nullopt) for a deck
    // with something that draws letters of its own (a metafile, an SVG
    // drawing, an embedded object, WordArt in a .ppt), numbers in letters
    // other than ASCII, or more than 256 letters. The page count reads a
    // PDF's text only when one of them is in no installed font.
    std::optional<QList<char32_t>> letters = std::nullopt;
};
inline constexpr int kLinksMax = 200;

// Of the links a presentation in folder names, the local files below that
// folder, relative to it ("pics/a.png"); URLs of other schemes are left out.
QStringList LocalLinks(const QStringList& links, const QString& folder);

// How many bytes the parts of one package may unpack to in all:
// PRADELUX_UNPACK_LIMIT (MiB) when set, otherwise 2 GiB.
qint64 UnpackLimit();

// Reads the file's structure: a zip package (.pptx, .odp and their kin), a
// compound file (.ppt) or flat XML (.fodp). fd: a file opened for reading;
// anything but a regular file is NotRegular.
FileKind InspectPresentationFile(int fd, qint64 unpackLimit);
// The same in a process of its own that is stopped after timeoutMs
// (TookTooLong), so that no file can hold up the application for longer. The
// process may read fd and write its answer, within bounds of memory and
// processor time; a check that tries anything else is killed, and the file
// is Damaged, as one that could not be read to the end. check: the check
// that runs there.
using FileCheck = FileKind (*)(int fd, qint64 unpackLimit);
FileKind InspectPresentationApart(int fd, qint64 unpackLimit, int timeoutMs, FileCheck check = InspectPresentationFile);
// The same for the file's bytes.
FileKind InspectPresentationData(const QByteArray& data, qint64 unpackLimit);

// For the slides chosen to print: when every file that is a presentation
// has fewer slides than the first chosen, so that none has a slide to
// print, that first slide and the most slides any has; nothing when one has
// enough, or cannot be counted, or none is a presentation, or every slide
// is chosen. Each file is checked apart, as above, and the first long
// enough ends the look.
struct SlidesPastTheEnd
{
    int first = 0;
    int most = 0;
};
std::optional<SlidesPastTheEnd> SlidesPastEveryEnd(const QStringList& files,
                                                   const QList<printoutput::SlideRange>& slides);

} // namespace pradelux::office
