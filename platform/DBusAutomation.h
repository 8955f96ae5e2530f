// Late-bound automation over the session D-Bus: the Linux backend of Automation.
#pragma once

#include "Automation.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace pradelux {

class DBusAutomation : public Automation
{
public:
    // classFolder holds the class registrations ("automation-classes.conf")
    // and the server executables they name.
    DBusAutomation(QDBusConnection bus, QString classFolder, int startTimeoutMs = 20000);

    ObjectRef createObject(const QString& progId) override;
    ObjectRef getObject(const QString& progId) override;

    // The server executable registered for a class, or empty text.
    QString serverExecutable(const QString& progId) const;

    // How long one call may take before it counts as failed. Printing renders
    // the whole presentation, so this is generous; the server bounds its own work.
    static constexpr int kCallTimeoutMs = 300000;

private:
    ObjectRef attach(const QString& progId, const QString& owner);
    void startServer(const QString& progId);

    QDBusConnection m_bus;
    QString m_classFolder;
    int m_startTimeoutMs;
};

// Sends a message and waits for its reply while the event loop keeps turning.
QDBusMessage callWithEventLoop(const QDBusConnection& bus, const QDBusMessage& message, int timeoutMs);

} // namespace pradelux
