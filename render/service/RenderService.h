// The kept renderer's service, outside the sandbox: takes the presentation
// application's requests on a local socket (see Protocol.h), shows each
// presentation to the sandbox for as long as it renders, and hands it as a
// job to the one LibreOffice kept warm inside.
#pragma once

#include "ChildStart.h"

#include "Channel.h"
#include "Deck.h"
#include "Protocol.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <optional>

namespace pradelux::render::service {

class Root;

// Whether the process at the other end of a local socket may be served: of
// this user's, and as high in the process namespaces as this one (never
// inside a sandbox).
bool PeerIsOutside(int socket);

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
    // inside it; output: the read end of its standard output and error. The
    // service owns both. predecessor: the renderer that started this one to
    // take over from it once it has served its last row; 0 for none.
    // launcher: a socket to the process, outside every renderer's
    // namespaces, that starts the renderer taking over (see StartLauncher);
    // -1 for none.
    RenderService(QString socketPath, Root& root, int worker, int output, RenderLimits limits, qint64 predecessor,
                  int launcher);
    ~RenderService() override;

    // Waits for LibreOffice to be loaded and listens; false with why when it
    // cannot, or when another renderer already answers on the socket.
    bool start(QString* why);

signals:
    // Idle, retired, or the session is gone: the process should end.
    void finished();

private:
    // Answers the request on client, which it closes.
    void serve(int client);
    // The answer to a request, with the PDF's descriptor in pdf when it
    // printed; nothing when the worker is gone or the row is for another.
    std::optional<boundary::Answer> render(const boundary::Request& request, UniqueFd* pdf);
    void finish();

    QString m_socketPath;
    Root& m_root;
    UniqueFd m_worker;
    QByteArray m_buffer;
    UniqueFd m_output;
    UniqueFd m_launcher;
    boundary::OutputDrain m_drain;
    QSocketNotifier m_outputReady;
    RenderLimits m_limits;
    UniqueFd m_listener; // the socket the requests come to
    QSocketNotifier m_listening{QSocketNotifier::Read};
    QTimer m_idle;
    QTimer m_sessionCheck;
    int m_documents = 0;
    Deck::Identity m_folder; // the folder whose files its LibreOffice has been shown
    bool m_finished = false;
    bool m_watchBus = false;
    bool m_outOfStep = false; // the worker said what was not asked: it serves no further row
    bool m_last = false;      // the row in hand is the last it serves
    qint64 m_predecessor;
};

} // namespace pradelux::render::service
