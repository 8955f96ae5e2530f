// The export's progress and end, told to the desktop.
#include "DesktopSignals.h"

#include <QDBusMessage>
#include <QVariantMap>

namespace pradelux {

SessionDesktopSignals::SessionDesktopSignals(QDBusConnection bus, QString desktopEntry)
    : m_bus(std::move(bus)), m_entry(std::move(desktopEntry))
{
}

void SessionDesktopSignals::progress(double fraction, bool visible)
{
    QDBusMessage update =
        QDBusMessage::createSignal(QStringLiteral("/org/pradelux/Pradelux/LauncherEntry"),
                                   QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << QStringLiteral("application://") + m_entry
           << QVariantMap{{QStringLiteral("progress"), qBound(0.0, fraction, 1.0)},
                          {QStringLiteral("progress-visible"), visible}};
    m_bus.send(update);
}

void SessionDesktopSignals::notify(const QString& summary, const QString& body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // No service is started for it, and no answer is waited for.
    call.setAutoStartService(false);
    call << QStringLiteral("Pradelux") << 0u << QStringLiteral("org.pradelux.Pradelux") << summary << body
         << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.pradelux.Pradelux")}}
         << -1;
    m_bus.send(call);
}

} // namespace pradelux
