// pradelux-render's service: one LibreOffice, loaded once and kept warm,
// that renders one presentation at a time for the presentation application.
// Requests come over a local socket, a line of JSON each:
//   {"presentation": PATH, "pdf": PATH, "hiddenSlides": BOOL, "notesPages": BOOL}
// and get a line back: {"ok": true} or {"ok": false, "error": TEXT}.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QTimer>
#include <memory>

class QLocalSocket;

namespace lok {
class Office;
}

namespace pradelux::office {

class HiddenDocuments;

struct RenderLimits
{
    int idleMs = 300000;                    // ends when no request came for this long
    int maxDocuments = 100;                 // then makes way for a fresh one
    qint64 maxResidentBytes = 1536LL << 20; // or when it grew past this
};

class RenderService : public QObject
{
    Q_OBJECT
public:
    // programFolder: LibreOffice's program folder; profileFolder: the
    // LibreOffice profile of the renderer's own.
    RenderService(QString socketPath, QString programFolder, QString profileFolder, RenderLimits limits);
    ~RenderService() override;

    // Loads LibreOffice and listens; false with why when it cannot, or when
    // another renderer already answers on the socket.
    bool start(QString* why);

signals:
    // Idle, retired, or the session is gone: the process should end.
    void finished();

private:
    void serve(QLocalSocket* client);
    QByteArray render(const QByteArray& request);
    void finish();

    QString m_socketPath;
    QString m_programFolder;
    QString m_profileFolder;
    RenderLimits m_limits;
    std::unique_ptr<lok::Office> m_office;
    // LibreOffice's own interface, when it offers it: presentations opened hidden.
    std::unique_ptr<HiddenDocuments> m_hidden;
    QLocalServer m_server;
    QTimer m_idle;
    QTimer m_sessionCheck;
    int m_documents = 0;
    bool m_finished = false;
    bool m_watchBus = false;
};

} // namespace pradelux::office
