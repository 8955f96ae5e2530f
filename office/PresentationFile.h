// What a file handed to the presentation application is, judged by its
// content: a presentation, something else (a text document, a workbook, a
// picture), or a package that is damaged (cut short, or with parts whose
// checksums do not match), which LibreOffice could only open by repairing it.
#pragma once

#include <QByteArray>
#include <QString>

namespace pradelux::office {

struct FileKind
{
    enum Verdict { Presentation, NotPresentation, Damaged };
    Verdict verdict = NotPresentation;
    QString why; // for Damaged: what is wrong, in words
};

// Reads the file's structure: a zip package (.pptx, .odp and their kin), a
// compound file (.ppt) or flat XML (.fodp). The file is not changed.
FileKind InspectPresentation(const QString& path);
// The same for the file's bytes.
FileKind InspectPresentationData(const QByteArray& data);

} // namespace pradelux::office
