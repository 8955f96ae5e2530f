// Renders through pradelux-render, the LibreOffice that stays loaded for the
// session: started on demand, stopped when a rendering hangs, replaced when it
// crashed.
#pragma once

#include "PdfRenderer.h"

#include <memory>

class QLocalSocket;

namespace pradelux {
class ProcessHandle;
}

namespace pradelux::render::client {

class WarmRenderer : public PdfRenderer
{
public:
    // renderProgram: the pradelux-render executable; socketPath: where it
    // answers; timeoutMs: how long one rendering may take; logFile: where
    // its error output goes.
    WarmRenderer(QString renderProgram, QString socketPath, int timeoutMs, QString logFile);

    ~WarmRenderer() override;

    RenderedPdf render(const RenderRequest& request, const QString& workFolder) const override;
    bool takesPasswords() const override { return true; }

    // Starts the renderer where none answers, without waiting for it:
    // LibreOffice loads while the caller gets on with its own start. The
    // first rendering then waits for this one instead of starting another.
    void prestart();
    // Ends a renderer that prestart started and no rendering has waited for.
    void cancelPrestart();

    // One socket per user session: in the user's runtime folder, named after
    // the session bus.
    static QString defaultSocketPath();
    // The process id of the renderer answering on the socket; 0 when none does.
    static qint64 runningRenderer(const QString& socketPath);

private:
    // Connects, starting the renderer first when none answers; false with why.
    bool connect(QLocalSocket& socket, QString* why) const;
    // Starts pradelux-render; null with why when it cannot be started.
    std::unique_ptr<ProcessHandle> start(QString* why) const;

    QString m_program;
    QString m_socket;
    int m_timeoutMs;
    QString m_log;
    // The renderer prestart started, until a rendering connects to it.
    mutable std::unique_ptr<ProcessHandle> m_starting;
    // The renderer that the last one started ahead to take over from it,
    // waited for by the next rendering. It serves whoever comes next, so it
    // is left running when this application ends.
    mutable std::unique_ptr<ProcessHandle> m_successor;
};

} // namespace pradelux::render::client
