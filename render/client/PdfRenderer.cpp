// What every renderer of the presentation application shares: the request,
// LibreOffice's PDF filter options for it, and the watch over a rendering.
#include "PdfRenderer.h"

#include "Failures.h"
#include "ProcessTree.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace pradelux::render::client {

using boundary::PdfSizeLimit;

QJsonObject PdfFilterData(const RenderRequest& request)
{
    QJsonObject options;
    const auto set = [&](const char* name, const char* type, const QString& value) {
        options.insert(QLatin1String(name),
                       QJsonObject{{QStringLiteral("type"), QLatin1String(type)}, {QStringLiteral("value"), value}});
    };
    const auto flag = [&](const char* name, bool on) {
        set(name, "boolean", on ? QStringLiteral("true") : QStringLiteral("false"));
    };
    const PdfSettings& pdf = request.pdf;
    flag("ExportHiddenSlides", request.hiddenSlides);
    flag("ExportNotesPages", request.pages != RenderRequest::Pages::Slides);
    if (request.pages == RenderRequest::Pages::NotesPages)
        flag("ExportOnlyNotesPages", true);
    // LibreOffice numbers a range's slides as the presentation does, hidden
    // ones too, and prints the notes pages of the same slides.
    if (!request.slides.isEmpty())
        set("PageRange", "string", request.slides);
    // PDF/UA needs the tags; the title, shown in the viewer's title bar, is
    // what a screen reader announces.
    flag("UseTaggedPDF", pdf.tagged || pdf.pdfua);
    flag("DisplayPDFDocumentTitle", pdf.tagged || pdf.pdfua);
    if (pdf.pdfa > 0)
        set("SelectPdfVersion", "long", QString::number(pdf.pdfa));
    if (pdf.pdfua)
        flag("PDFUACompliance", true);
    if (pdf.imageDpi > 0) {
        flag("ReduceImageResolution", true);
        set("MaxImageResolution", "long", QString::number(pdf.imageDpi));
    }
    if (pdf.jpegQuality > 0)
        set("Quality", "long", QString::number(pdf.jpegQuality));
    if (pdf.losslessImages)
        flag("UseLosslessCompression", true);
    return options;
}

QString PdfFilterOptions(const RenderRequest& request)
{
    return QString::fromUtf8(QJsonDocument(PdfFilterData(request)).toJson(QJsonDocument::Compact));
}

qint64 PdfRenderer::DefaultMemoryLimit()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("PRADELUX_RENDER_MEMORY_LIMIT", &ok);
    if (ok && mib > 0)
        return mib << 20;
    const qint64 machine = static_cast<qint64>(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
    const qint64 own = CgroupMemoryLimit();
    return qMin<qint64>((own > 0 ? qMin(machine, own) : machine) / 2, 4LL << 30);
}

PdfRenderer::Stop PdfRenderer::mustStop(qint64 renderer, qint64 written) const
{
    if (TreeMemory(renderer) > memoryLimit())
        return Stop::Memory;
    if (written > PdfSizeLimit())
        return Stop::PdfSize;
    return abandoned() ? Stop::Abandoned : Stop::None;
}

void PdfRenderer::throwStopped(Stop why, const QString& presentation, int timeoutMs) const
{
    if (why == Stop::Memory)
        ThrowTooMuchMemory(presentation, memoryLimit());
    if (why == Stop::PdfSize)
        ThrowTooLarge(presentation, PdfSizeLimit());
    if (why == Stop::Abandoned)
        ThrowAbandoned(presentation);
    ThrowTimedOut(presentation, timeoutMs);
}

} // namespace pradelux::render::client
