// The port "CPW2:" of the PDF printer: it writes each job's PDF to the path
// that the registry names for the printer.
#pragma once

#include <QIODevice>

#include <QString>

#include "PdfPrinter.h"
#include "PdfSettings.h"
#include <functional>
#include <memory>
#include <unistd.h>

namespace pradelux {
class Registry;
}

namespace pradelux::office {

struct PrintJob
{
    QString pdf;     // the rendered pages
    QString printer; // the printer the job was sent to
    QString title;   // the document's name, without folder and extension
    // Where the PDF goes, taken from the registry when the job was handed
    // over (PdfWriterPort::target); empty: taken when it is written.
    QString target;
    int pages = -1;                               // as the renderer's check counted them; -1: not known
    pdfprinter::PdfKind kind = {};                // what that check found it to be
    QList<pdfprinter::StandInFont> standIns = {}; // fonts printed in others, as the renderer told
    QList<char32_t> lacking = {};                 // letters no installed font has, as the renderer told
    // The rendered pages as the renderer checked them, opened: read instead
    // of the path when there.
    std::shared_ptr<QIODevice> pdfFile = nullptr;
};

// Writes data to a file beside target and renames it into place only when
// every byte, the flush and the close succeeded; otherwise removes it and
// throws a Failure that says why in words. writeSome is ::write but for tests.
using WriteFunction = std::function<ssize_t(int fd, const void* data, size_t size)>;
void writeWhole(const QString& target, const QByteArray& data, const WriteFunction& writeSome = ::write);
// The same for what source holds, copied a piece at a time.
void writeWhole(const QString& target, QIODevice& source, const WriteFunction& writeSome = ::write);

class PdfWriterPort
{
public:
    // documentsFolder: where a job goes when the registry does not say
    // BypassSaveAs = "1" (there is no Save As dialog to ask the user).
    PdfWriterPort(Registry& registry, QString documentsFolder);

    // Writes the job; returns the path written, or throws a Failure whose
    // description says why the job failed. The target never holds a
    // half-written file: the PDF goes to a temporary file beside it first and
    // is renamed into place when complete.
    QString write(const PrintJob& job) const;
    // Where a job for printer with that title goes, read from the registry
    // now. The presentation application takes it when the job is handed
    // over, so values written for a later job cannot redirect this one.
    QString target(const QString& printer, const QString& title) const;
    // How the printer makes the job's PDF, read from the registry when the
    // job is handed over.
    PdfSettings settings(const QString& printer) const;

private:
    QString unusedName(const QString& title) const;
    Registry& m_registry;
    QString m_documents;
};

} // namespace pradelux::office
