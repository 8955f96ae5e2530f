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

class Renderer
{
public:
    // soffice: the LibreOffice executable; profile: the folder of our own
    // LibreOffice profile; timeoutMs: how long one rendering may take before
    // LibreOffice is stopped.
    Renderer(QString soffice, QString profile, int timeoutMs);

    // Renders into workFolder and returns the PDF's path. Throws a Failure
    // with a description for the user when no PDF with pages comes out.
    QString render(const RenderRequest& request, const QString& workFolder) const;

    // The LibreOffice executable, or empty text when none is installed.
    static QString findSoffice();
    // The pages of a whole, readable PDF; -1 for one that is cut short,
    // damaged or locked.
    static int pageCount(const QByteArray& pdf);

private:
    QString m_soffice;
    QString m_profile;
    int m_timeoutMs;
};

} // namespace pradelux::office
