// pradelux-render's service, outside the sandbox: takes the presentation
// application's requests on a local socket (a line of JSON each, as the
// worker inside takes them, see RenderWorker.h), shows each presentation to
// the sandbox for as long as it renders, and hands the request to the one
// LibreOffice kept warm inside.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QTimer>

class QLocalSocket;

namespace pradelux::office {

namespace sandbox {
class Root;
}

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
    // root: the sandbox's root; worker: this end of the socket to the worker
    // inside it, which the service owns.
    RenderService(QString socketPath, sandbox::Root& root, int worker, RenderLimits limits);
    ~RenderService() override;

    // Waits for LibreOffice to be loaded and listens; false with why when it
    // cannot, or when another renderer already answers on the socket.
    bool start(QString* why);

signals:
    // Idle, retired, or the session is gone: the process should end.
    void finished();

private:
    void serve(QLocalSocket* client);
    QByteArray render(const QByteArray& request);
    void finish();

    // A line from the worker, no longer than a bound; empty when it has
    // gone, or said more than that in one line.
    QByteArray fromWorker();

    QString m_socketPath;
    sandbox::Root& m_root;
    int m_worker;
    QByteArray m_buffer;
    RenderLimits m_limits;
    QLocalServer m_server;
    QTimer m_idle;
    QTimer m_sessionCheck;
    int m_documents = 0;
    qint64 m_request = 0; // the number of the request in hand, which its answer names
    bool m_finished = false;
    bool m_watchBus = false;
    bool m_outOfStep = false; // the worker said what was not asked: it serves no further row
};

} // namespace pradelux::office
