// LibreOffice inside the sandbox.
#include "RenderWorker.h"

#include "HiddenDocuments.h"
#include "Renderer.h"

#include <LibreOfficeKit/LibreOfficeKit.hxx>
#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace pradelux::office {

namespace {
// What getDocumentType answers for a presentation (LOK_DOCTYPE_PRESENTATION,
// which the headers only name with their unstable interface).
constexpr int kPresentationDocument = 2;

bool writeLine(int socket, const QJsonObject& o)
{
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    return ::write(socket, line.constData(), static_cast<size_t>(line.size())) == line.size();
}

QJsonObject reply(bool ok, const QString& error = QString())
{
    QJsonObject o{{QStringLiteral("ok"), ok}};
    if (!ok)
        o.insert(QStringLiteral("error"), error);
    return o;
}

// One line from the socket; empty when it closed.
QByteArray readLine(int socket, QByteArray& buffer)
{
    for (;;) {
        const qsizetype end = buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray line = buffer.left(end);
            buffer.remove(0, end + 1);
            return line;
        }
        char chunk[4096];
        const ssize_t n = ::read(socket, chunk, sizeof chunk);
        if (n <= 0)
            return QByteArray();
        buffer.append(chunk, n);
    }
}

// A PDF LibreOffice printed, and its pages as Poppler reads them here, in the
// sandbox: a crafted PDF can do no more harm to that check than LibreOffice
// itself could. -1 for one that is cut short, damaged or locked.
QJsonObject printed(const QString& pdf)
{
    QJsonObject o = reply(true);
    o.insert(QStringLiteral("pages"), Renderer::pdfPageCount(pdf));
    return o;
}

QString filterOptions(bool hiddenSlides, bool notesPages)
{
    const auto flag = [](bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringLiteral("{\"ExportHiddenSlides\":{\"type\":\"boolean\",\"value\":\"%1\"},"
                          "\"ExportNotesPages\":{\"type\":\"boolean\",\"value\":\"%2\"}}")
        .arg(flag(hiddenSlides), flag(notesPages));
}

QJsonObject render(lok::Office& office, HiddenDocuments* hidden, const QJsonObject& request)
{
    const QString presentation = request.value(QStringLiteral("presentation")).toString();
    const QString pdf = request.value(QStringLiteral("pdf")).toString();
    if (presentation.isEmpty() || pdf.isEmpty())
        return reply(false, QStringLiteral("request"));
    QFile::remove(pdf);
    const bool hiddenSlides = request.value(QStringLiteral("hiddenSlides")).toBool();
    const bool notesPages = request.value(QStringLiteral("notesPages")).toBool();
    if (hidden) {
        switch (hidden->print(presentation, pdf, hiddenSlides, notesPages)) {
        case HiddenDocuments::Result::Printed:
            return printed(pdf);
        case HiddenDocuments::Result::NotLoaded:
            return reply(false, QStringLiteral("load"));
        case HiddenDocuments::Result::NotAPresentation:
            return reply(false, QStringLiteral("type"));
        case HiddenDocuments::Result::NotSaved:
            return reply(false, QStringLiteral("save"));
        }
    }
    std::unique_ptr<lok::Document> document(
        office.documentLoad(QUrl::fromLocalFile(presentation).toEncoded().constData(), ""));
    if (!document)
        return reply(false, QStringLiteral("load"));
    // Whatever the file looked like, only what LibreOffice took for a
    // presentation is printed as one.
    if (document->getDocumentType() != kPresentationDocument)
        return reply(false, QStringLiteral("type"));
    const QByteArray options = filterOptions(hiddenSlides, notesPages).toUtf8();
    const bool saved = document->saveAs(QUrl::fromLocalFile(pdf).toEncoded().constData(), "pdf", options.constData());
    return saved ? printed(pdf) : reply(false, QStringLiteral("save"));
}
} // namespace

int RunRenderWorker(int socket, const QString& programFolder, const QString& profileFolder)
{
    const QString why = HiddenDocuments::preload(
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath() +
            QStringLiteral("/pradelux-hidden.so"),
        programFolder);
    if (!why.isEmpty())
        std::fprintf(stderr, "pradelux-render: %s\n", why.toLocal8Bit().constData());
    std::unique_ptr<lok::Office> office(lok::lok_cpp_init(QFile::encodeName(programFolder).constData(),
                                                          QUrl::fromLocalFile(profileFolder).toEncoded().constData()));
    if (!office) {
        writeLine(socket, {{QStringLiteral("ready"), false},
                           {QStringLiteral("error"),
                            QStringLiteral("LibreOffice could not be loaded from %1").arg(programFolder)}});
        return 4;
    }
    std::unique_ptr<HiddenDocuments> hidden = HiddenDocuments::attach(programFolder);
    if (!hidden)
        std::fputs("pradelux-render: LibreOffice's component interface is not offered; presentations are opened "
                   "with a view, which is slower.\n",
                   stderr);
    if (!writeLine(socket, {{QStringLiteral("ready"), true}}))
        std::_Exit(0);
    QByteArray buffer;
    for (;;) {
        const QByteArray line = readLine(socket, buffer);
        // LibreOffice's own shutdown is slow and sometimes crashes; nothing
        // of it needs keeping, so the process ends here.
        if (line.isEmpty())
            std::_Exit(0);
        if (!writeLine(socket, render(*office, hidden.get(), QJsonDocument::fromJson(line).object())))
            std::_Exit(0);
        // The answer is out: LibreOffice takes the presentation down meanwhile.
        if (hidden)
            hidden->close();
    }
}

} // namespace pradelux::office
