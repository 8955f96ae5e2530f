// Renders a presentation to PDF with LibreOffice, in a profile of our own so
// a LibreOffice the user has open is never touched.
#pragma once

#include <QString>

namespace pradelux::office {

struct RenderRequest
{
    QString presentation;
    bool hiddenSlides = false;
    bool notesPages = false;
};

// What the presentation application prints with: a presentation in, the
// path of a whole PDF with pages out, or a Failure that says why not.
class PdfRenderer
{
public:
    virtual ~PdfRenderer() = default;
    // Renders into workFolder and returns the PDF's path.
    virtual QString render(const RenderRequest& request, const QString& workFolder) const = 0;
};

// The PDF a renderer made, checked: whole, readable and with pages. Returns
// its path, or removes it and throws a Failure naming the presentation.
QString CheckedPdf(const QString& pdf, const QString& presentation);
// The file beside a warm renderer's socket that holds its process id, so a
// hung renderer can be stopped.
QString RenderPidFile(const QString& socketPath);
// The failures every renderer reports in the same words.
[[noreturn]] void ThrowCrashed(const QString& presentation, const QString& how);
[[noreturn]] void ThrowTimedOut(const QString& presentation, int timeoutMs);
[[noreturn]] void ThrowUnreadable(const QString& presentation);

// Renders with a LibreOffice started afresh for every presentation
// (soffice --convert-to).
class Renderer : public PdfRenderer
{
public:
    // soffice: the LibreOffice executable; profile: the folder of our own
    // LibreOffice profile; timeoutMs: how long one rendering may take before
    // LibreOffice is stopped.
    Renderer(QString soffice, QString profile, int timeoutMs);

    // Renders into workFolder and returns the PDF's path. Throws a Failure
    // with a description for the user when no PDF with pages comes out.
    QString render(const RenderRequest& request, const QString& workFolder) const override;

    // The LibreOffice executable, or empty text when none is installed.
    static QString findSoffice();
    // What to tell when findSoffice finds none: what is missing and how to install it.
    static QString missingSofficeText();
    // The pages of a whole, readable PDF; -1 for one that is cut short,
    // damaged or locked.
    static int pageCount(const QByteArray& pdf);

private:
    QString m_soffice;
    QString m_profile;
    int m_timeoutMs;
};

} // namespace pradelux::office
