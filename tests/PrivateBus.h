// A session bus of the test program's own: started before the first use of
// the bus and stopped, with every server on it, when the program ends.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace pradelux::test {

class PrivateBus
{
public:
    bool start()
    {
        m_daemon.setProgram(QStringLiteral("dbus-daemon"));
        // Its socket in a folder of its own, removed with it: the daemon
        // leaves the one it makes in the temporary folder behind.
        m_daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1"),
                               QStringLiteral("--address=unix:path=") + m_folder.filePath(QStringLiteral("bus"))});
        m_daemon.start();
        if (!m_daemon.waitForStarted(5000))
            return false;
        QByteArray address;
        while (!address.contains('\n') && m_daemon.waitForReadyRead(5000))
            address += m_daemon.readAllStandardOutput();
        address = address.trimmed();
        if (address.isEmpty())
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        return true;
    }
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(3000);
    }

private:
    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/pradelux-test-bus-XXXXXX")};
    QProcess m_daemon;
};

} // namespace pradelux::test
