// The presentation application on the session bus.
#include "PowerPointServer.h"

#include "AutomationProtocol.h"
#include "Failure.h"
#include "Files.h"
#include "Printers.h"
#include "Registry.h"
#include "ServedValues.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <csignal>

namespace pradelux::office {

using namespace served;

PowerPointServer::PowerPointServer(QDBusConnection bus, Printers& printers, PdfRenderer& renderer, PdfWriterPort& port,
                                   Registry& registry, int startGraceMs)
    : m_bus(std::move(bus)), m_printers(printers), m_renderer(renderer), m_port(port), m_registry(registry),
      m_work(QDir::tempPath() + QStringLiteral("/pradelux-office-%1-XXXXXX").arg(QCoreApplication::applicationPid()))
{
    bool ok = false;
    const double checkSeconds = qEnvironmentVariable("PRADELUX_CHECK_TIMEOUT").toDouble(&ok);
    if (ok && checkSeconds > 0)
        m_checkTimeoutMs = qMax(1, static_cast<int>(checkSeconds * 1000));
    m_grace.setSingleShot(true);
    m_grace.setInterval(startGraceMs);
    connect(&m_grace, &QTimer::timeout, this, [this] {
        if (m_references.isEmpty())
            shutDown();
    });
    // A bus that went away takes every client with it.
    m_busCheck.setInterval(1000);
    connect(&m_busCheck, &QTimer::timeout, this, [this] {
        if (!m_bus.isConnected()) {
            m_visible = false;
            m_references.clear();
            shutDown();
        }
    });
}

PowerPointServer::~PowerPointServer()
{
    m_ending = true;
    dropAhead();
}

void PowerPointServer::removeLeftovers(const QString& tempFolder)
{
    // Each server's work folder carries its process id; a server that was
    // killed could not remove its own.
    static const QRegularExpression name(QStringLiteral("^pradelux-office-(\\d+)-.{6}$"));
    const QDir temp(tempFolder);
    for (const QFileInfo& entry : temp.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const auto match = name.match(entry.fileName());
        if (!match.hasMatch() || entry.isSymLink() || entry.ownerId() != ::geteuid())
            continue;
        const pid_t pid = static_cast<pid_t>(match.captured(1).toLongLong());
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            RemoveTree(entry.absoluteFilePath());
    }
}

bool PowerPointServer::start()
{
    removeLeftovers(QDir::tempPath());
    if (!m_work.isValid())
        return false;
    if (!m_bus.registerVirtualObject(protocol::kRootPath, this, QDBusConnection::SubPath))
        return false;
    if (!m_bus.registerService(protocol::busNameFor(QStringLiteral("PowerPoint.Application"))))
        return false;
    m_grace.start();
    m_busCheck.start();
    return true;
}

QString PowerPointServer::introspect(const QString&) const
{
    return QStringLiteral("<interface name=\"%1\"><method name=\"Invoke\"><arg type=\"s\" direction=\"in\"/>"
                          "<arg type=\"i\" direction=\"in\"/><arg type=\"av\" direction=\"in\"/>"
                          "<arg type=\"as\" direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method></interface>"
                          "<interface name=\"%2\"><method name=\"Attach\"/><method name=\"Release\"/></interface>")
        .arg(protocol::kDispatchInterface, protocol::kLifetimeInterface);
}

bool PowerPointServer::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const QString iface = message.interface();
    if (iface == protocol::kLifetimeInterface && message.path() == protocol::kRootPath) {
        // An application that is ending takes no new client: that client
        // starts a fresh one instead of holding one that is about to go.
        if (message.member() == QLatin1String("Attach") && m_finished) {
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("The application is ending.")));
            return true;
        }
        if (message.member() == QLatin1String("Attach"))
            attach(message.service());
        else if (message.member() == QLatin1String("Release"))
            release(message.service(), false);
        else
            return false;
        connection.send(message.createReply());
        checkLifetime();
        return true;
    }
    if (iface != protocol::kDispatchInterface || message.member() != QLatin1String("Invoke"))
        return false;

    const QVariantList in = message.arguments();
    QDBusMessage reply;
    try {
        if (in.size() != 4)
            throw Failure(failure::kInvalidArgument, QStringLiteral("Invoke takes a member, a kind, values and names"));
        QList<Named> args;
        QVariantList values;
        if (in[2].canConvert<QDBusArgument>()) {
            const QDBusArgument array = in[2].value<QDBusArgument>();
            array.beginArray();
            while (!array.atEnd()) {
                QDBusVariant v;
                array >> v;
                values << v.variant();
            }
            array.endArray();
        } else {
            values = in[2].toList();
        }
        const QStringList names = in[3].toStringList();
        for (int i = 0; i < values.size(); ++i) {
            QVariant v = values[i];
            if (v.metaType() == QMetaType::fromType<QDBusVariant>())
                v = v.value<QDBusVariant>().variant();
            args.append({i < names.size() ? names[i] : QString(), v});
        }
        const QVariant result = invoke(message.path(), in[0].toString(), in[1].toInt(), args);
        reply = message.createReply(QVariant::fromValue(QDBusVariant(result)));
    } catch (const Failure& f) {
        reply = message.createErrorReply(protocol::kFailurePrefix + QString::number(f.number()), f.description());
    }
    connection.send(reply);
    checkLifetime();
    return true;
}

QVariant PowerPointServer::invoke(const QString& path, const QString& member, int kind, const QList<Named>& args)
{
    if (path == protocol::kRootPath)
        return application(member, kind, args);
    if (path == kPresentationsPath)
        return presentations(member, kind, args);
    if (path.startsWith(kPresentationsPath + QLatin1Char('/'))) {
        const QStringList rest = path.mid(kPresentationsPath.size() + 1).split(QLatin1Char('/'));
        bool ok = false;
        const int id = rest.value(0).toInt(&ok);
        if (!ok || m_presentations.find(id) == m_presentations.end())
            throw Failure(failure::kAutomationError,
                          QStringLiteral("The object has been deleted: the presentation was closed"));
        if (rest.size() == 1)
            return presentation(id, member, kind, args);
        if (rest.size() == 2 && rest[1] == QLatin1String("PrintOptions"))
            return printOptions(id, member, kind, args);
        if (rest.size() == 3 && rest[1] == QLatin1String("PrintOptions") && rest[2] == QLatin1String("Ranges"))
            return ranges(id, member, kind, args);
    }
    throw Failure(failure::kAutomationError, QStringLiteral("No such object: %1").arg(path));
}

void PowerPointServer::attach(const QString& client)
{
    m_grace.stop();
    if (!m_references.contains(client)) {
        auto* watcher = new QDBusServiceWatcher(client, m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this, watcher](const QString& name) {
            watcher->deleteLater();
            release(name, true);
            checkLifetime();
        });
    }
    ++m_references[client];
}

void PowerPointServer::release(const QString& client, bool all)
{
    auto it = m_references.find(client);
    if (it == m_references.end())
        return;
    if (all || --it.value() <= 0)
        m_references.erase(it);
}

void PowerPointServer::checkLifetime()
{
    // The application has no window to show, so being visible does not keep
    // it: with no client left nobody could see it, use it or quit it.
    if (m_references.isEmpty() && !m_grace.isActive())
        shutDown();
}

void PowerPointServer::shutDown()
{
    if (m_finished)
        return;
    m_finished = true;
    // A rendering started for a presentation that was never printed ends now.
    m_ending = true;
    dropAhead();
    if (m_bus.isConnected())
        m_bus.unregisterService(protocol::busNameFor(QStringLiteral("PowerPoint.Application")));
    emit finished();
}

} // namespace pradelux::office
