// A session bus for a run that has none (cron, ssh, a container): started
// before anything uses the bus, ended with the run, and with it the
// presentation application and the LibreOffice that served the run.
#pragma once

#include <QProcess>

namespace pradelux {

class PrivateSessionBus
{
public:
    // Uses the session bus there is, or starts one of the run's own.
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

private:
    QProcess m_daemon;
};

} // namespace pradelux
