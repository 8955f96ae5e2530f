// What the desktop shows of a long export besides the window: its progress on
// the task bar or dock, and a notification when it ends while the user works
// elsewhere.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace pradelux {

class DesktopSignals
{
public:
    virtual ~DesktopSignals() = default;
    // fraction 0 to 1; visible false takes the progress off the task bar.
    virtual void progress(double fraction, bool visible) = 0;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

// Over the session bus: the launcher entry signal that KDE Plasma's task
// manager and GNOME's docks read, and org.freedesktop.Notifications. Nothing
// waits for an answer, so a desktop without them changes nothing.
class SessionDesktopSignals : public DesktopSignals
{
public:
    // desktopEntry: the program's desktop file name, as the task bar knows it.
    SessionDesktopSignals(QDBusConnection bus, QString desktopEntry);
    void progress(double fraction, bool visible) override;
    void notify(const QString& summary, const QString& body) override;

private:
    QDBusConnection m_bus;
    QString m_entry;
};

} // namespace pradelux
