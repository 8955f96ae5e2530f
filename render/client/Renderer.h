// Renders a presentation to PDF with a LibreOffice started afresh for it,
// in a sandbox of its own, with a copy of the profile's template.
#pragma once

#include "PdfRenderer.h"

namespace pradelux::render::client {

// Renders with a LibreOffice started afresh for every presentation
// (soffice --convert-to).
class Renderer : public PdfRenderer
{
public:
    // soffice: the LibreOffice executable; profileTemplate: the template of
    // LibreOffice's profile (made when missing); timeoutMs: how long one rendering may take before
    // LibreOffice is stopped; sandbox: pradelux-render, which starts
    // LibreOffice inside the sandbox.
    Renderer(QString soffice, QString profileTemplate, int timeoutMs, QString sandbox);

    // Renders into workFolder and returns the PDF. Throws a Failure with a
    // description for the user when no PDF with pages comes out.
    RenderedPdf render(const RenderRequest& request, const QString& workFolder) const override;

private:
    QString m_soffice;
    QString m_profile;
    int m_timeoutMs;
    QString m_sandbox;
};

} // namespace pradelux::render::client
