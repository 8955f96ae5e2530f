// Renders through pradelux-render, the LibreOffice that stays loaded for the
// session: started on demand, stopped when a rendering hangs, replaced when it
// crashed.
#pragma once

#include "Renderer.h"

class QLocalSocket;

namespace pradelux::office {

class WarmRenderer : public PdfRenderer
{
public:
    // renderProgram: the pradelux-render executable; socketPath: where it
    // answers; timeoutMs: how long one rendering may take; logFile: where
    // its error output goes.
    WarmRenderer(QString renderProgram, QString socketPath, int timeoutMs, QString logFile);

    RenderedPdf render(const RenderRequest& request, const QString& workFolder) const override;

    // One socket per user session: in the user's runtime folder, named after
    // the session bus.
    static QString defaultSocketPath();
    // The process id of the renderer answering on the socket; 0 when none does.
    static qint64 runningRenderer(const QString& socketPath);

private:
    // Connects, starting the renderer first when none answers; false with why.
    bool connect(QLocalSocket& socket, QString* why) const;

    QString m_program;
    QString m_socket;
    int m_timeoutMs;
    QString m_log;
};

} // namespace pradelux::office
