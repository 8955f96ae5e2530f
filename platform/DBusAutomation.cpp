// Late-bound automation over the session D-Bus.
#include "DBusAutomation.h"
#include "ChildProcess.h"

#include "AutomationProtocol.h"
#include "Failure.h"
#include "Files.h"

#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

namespace pradelux {

namespace {

const QString kClassFile = QStringLiteral("automation-classes.conf");

// Holds one application reference of this client; dropping the last object
// reached through it releases the reference at the server.
struct Attachment
{
    Attachment(QDBusConnection b, QString o) : bus(std::move(b)), owner(std::move(o)) {}
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    QDBusConnection bus;
    QString owner;
    ~Attachment()
    {
        auto msg = QDBusMessage::createMethodCall(owner, protocol::kRootPath, protocol::kLifetimeInterface,
                                                  QStringLiteral("Release"));
        bus.call(msg, QDBus::NoBlock);
    }
};

Failure failureFromReply(const QDBusMessage& reply, const QString& what)
{
    const QString name = reply.errorName();
    if (name.startsWith(protocol::kFailurePrefix)) {
        bool ok = false;
        const int number = name.mid(protocol::kFailurePrefix.size()).toInt(&ok);
        return Failure(ok ? number : failure::kAutomationError, reply.errorMessage());
    }
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
        return Failure(failure::kServerUnavailable,
                       QStringLiteral("The application is not available (%1): %2").arg(what, reply.errorMessage()));
    }
    return Failure(failure::kAutomationError,
                   QStringLiteral("Automation error in %1: %2").arg(what, reply.errorMessage()));
}

QVariant toWire(const Value& v)
{
    switch (v.type()) {
    case Value::Type::Empty:
        return QVariant::fromValue<uchar>(0);
    case Value::Type::Bool:
        return QVariant::fromValue(v.toBool());
    case Value::Type::Int16:
        return QVariant::fromValue<short>(v.toInt16());
    case Value::Type::Int32:
        return QVariant::fromValue<int>(v.toInt32());
    case Value::Type::Double:
        return QVariant::fromValue(v.toDouble());
    case Value::Type::Text:
        return QVariant::fromValue(v.toText());
    case Value::Type::Object:
        break;
    }
    throw Failure(failure::kTypeMismatch, QStringLiteral("Objects cannot be passed to this application"));
}

class RemoteObject : public Dispatch
{
public:
    RemoteObject(std::shared_ptr<Attachment> attachment, QString path)
        : m_attachment(std::move(attachment)), m_path(std::move(path))
    {
    }

    Value get(const QString& member, const Arguments& args) override
    {
        return invoke(member, protocol::kPropertyGet, args);
    }
    void put(const QString& member, const Value& value) override
    {
        invoke(member, protocol::kPropertyPut, {Argument{value, {}}});
    }
    Value call(const QString& member, const Arguments& args) override
    {
        return invoke(member, protocol::kMethod, args);
    }

private:
    Value invoke(const QString& member, int kind, const Arguments& args)
    {
        QVariantList values;
        QStringList names;
        for (const auto& a : args) {
            values << toWire(a.value);
            names << a.name;
        }
        auto msg = QDBusMessage::createMethodCall(m_attachment->owner, m_path, protocol::kDispatchInterface,
                                                  QStringLiteral("Invoke"));
        msg << member << kind << QVariant(values) << names;
        const QString what = member.isEmpty() ? QStringLiteral("the default property") : member;
        QDBusMessage reply = callWithEventLoop(m_attachment->bus, msg, DBusAutomation::kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw failureFromReply(reply, what);
        if (reply.arguments().isEmpty())
            return Value();
        return fromWire(reply.arguments().constFirst());
    }

    Value fromWire(QVariant v)
    {
        if (v.canConvert<QDBusVariant>() && v.metaType() == QMetaType::fromType<QDBusVariant>())
            v = v.value<QDBusVariant>().variant();
        switch (v.metaType().id()) {
        case QMetaType::UChar:
            return Value();
        case QMetaType::Bool:
            return Value::boolean(v.toBool());
        case QMetaType::Short:
            return Value::int16(static_cast<qint16>(v.value<short>()));
        case QMetaType::Int:
            return Value::int32(v.toInt());
        case QMetaType::Double:
            return Value::real(v.toDouble());
        case QMetaType::QString:
            return Value(v.toString());
        default:
            break;
        }
        if (v.metaType() == QMetaType::fromType<QDBusObjectPath>())
            return Value(ObjectRef(std::make_shared<RemoteObject>(m_attachment, v.value<QDBusObjectPath>().path())));
        throw Failure(failure::kTypeMismatch,
                      QStringLiteral("The application returned a value of an unknown type (%1)").arg(v.typeName()));
    }

    std::shared_ptr<Attachment> m_attachment;
    QString m_path;
};

} // namespace

QDBusMessage callWithEventLoop(const QDBusConnection& bus, const QDBusMessage& message, int timeoutMs)
{
    QDBusPendingCall pending = bus.asyncCall(message, timeoutMs);
    if (!pending.isFinished()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!watcher.isFinished())
            loop.exec();
    }
    return pending.reply();
}

DBusAutomation::DBusAutomation(QDBusConnection bus, QString classFolder, int startTimeoutMs)
    : m_bus(std::move(bus)), m_classFolder(std::move(classFolder)), m_startTimeoutMs(startTimeoutMs)
{
}

QString DBusAutomation::serverExecutable(const QString& progId) const
{
    QFile file(QDir(m_classFolder).filePath(kClassFile));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed().compare(progId, Qt::CaseInsensitive) == 0)
            return QDir(m_classFolder).filePath(line.mid(eq + 1).trimmed());
    }
    return QString();
}

ObjectRef DBusAutomation::getObject(const QString& progId)
{
    if (!m_bus.isConnected())
        throw Failure(failure::kCannotCreateObject,
                      QStringLiteral("No session bus: %1").arg(m_bus.lastError().message()));
    const auto owner = m_bus.interface()->serviceOwner(protocol::busNameFor(progId));
    if (!owner.isValid() || owner.value().isEmpty())
        throw Failure(failure::kCannotCreateObject,
                      QStringLiteral("ActiveX component can't create object: no %1 is running").arg(progId));
    return attach(progId, owner.value());
}

ObjectRef DBusAutomation::createObject(const QString& progId)
{
    if (!m_bus.isConnected())
        throw Failure(failure::kCannotCreateObject,
                      QStringLiteral("No session bus: %1").arg(m_bus.lastError().message()));
    // A server that is shutting down may still own the name for a moment,
    // and one started by another client at the same moment may take the name
    // and end again before this one could start: fresh starts cover both.
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        auto owner = m_bus.interface()->serviceOwner(protocol::busNameFor(progId));
        if (!owner.isValid() || owner.value().isEmpty()) {
            try {
                startServer(progId);
            } catch (const Failure&) {
                if (attempt == kAttempts - 1)
                    throw;
                continue;
            }
            owner = m_bus.interface()->serviceOwner(protocol::busNameFor(progId));
        }
        if (!owner.isValid() || owner.value().isEmpty())
            continue;
        try {
            return attach(progId, owner.value());
        } catch (const Failure&) {
            if (attempt == kAttempts - 1)
                throw;
        }
    }
    throw Failure(failure::kCannotCreateObject,
                  QStringLiteral("ActiveX component can't create object: %1").arg(progId));
}

void DBusAutomation::startServer(const QString& progId)
{
    const QString program = serverExecutable(progId);
    if (program.isEmpty())
        throw Failure(failure::kCannotCreateObject,
                      QStringLiteral("ActiveX component can't create object: no application for %1 is registered in "
                                     "%2; build or install Pradelux again.")
                          .arg(progId, QDir(m_classFolder).filePath(kClassFile)));
    // The server tells on its error output why it cannot run; that goes to a
    // file so the reason can be given to the user.
    const QString logFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/pradelux-office");
    QDir().mkpath(logFolder);
    const QString log = logFolder + QStringLiteral("/server.log");
    QProcess process;
    process.setProgram(program);
    // Nothing of the terminal it may have been started from, which it outlives.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(RotatedLog(log), QIODevice::Append);
    // A server of the session, not of a terminal: Ctrl+C meant for the
    // program that started it must not end it in the middle of a job.
    process.setChildProcessModifier(DetachFromInterrupts);
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        throw Failure(failure::kCannotCreateObject,
                      QStringLiteral("ActiveX component can't create object: %1 could not be started; build or "
                                     "install Pradelux again.")
                          .arg(program));

    const QString name = protocol::busNameFor(progId);
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    bool ready = false;
    bool gone = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        ready = m_bus.interface()->isServiceRegistered(name).value();
        // A server started at the same moment by another client may have
        // taken the name first; this one then ends, and that one answers.
        if (!ready && ProcessGone(pid)) {
            ready = m_bus.interface()->isServiceRegistered(name).value();
            gone = !ready;
        }
        if (ready || gone || clock.elapsed() > m_startTimeoutMs)
            loop.quit();
    });
    poll.start(25);
    loop.exec();
    if (ready)
        return;
    const QString said = gone ? LastLineOf(log) : QString();
    const QString why = said.isEmpty() ? QString() : QStringLiteral(": ") + said;
    throw Failure(
        failure::kCannotCreateObject,
        gone ? QStringLiteral("ActiveX component can't create object: %1 ended before it was ready%2").arg(progId, why)
             : QStringLiteral("ActiveX component can't create object: %1 did not answer within %2 seconds")
                   .arg(progId)
                   .arg(m_startTimeoutMs / 1000));
}

ObjectRef DBusAutomation::attach(const QString& progId, const QString& owner)
{
    auto msg = QDBusMessage::createMethodCall(owner, protocol::kRootPath, protocol::kLifetimeInterface,
                                              QStringLiteral("Attach"));
    QDBusMessage reply = callWithEventLoop(m_bus, msg, 25000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw failureFromReply(reply, progId);
    auto attachment = std::make_shared<Attachment>(m_bus, owner);
    return std::make_shared<RemoteObject>(std::move(attachment), protocol::kRootPath);
}

} // namespace pradelux
