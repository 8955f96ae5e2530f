// The presentation application on the session bus.
#include "PowerPointServer.h"

#include "AutomationProtocol.h"
#include "Failure.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "PresentationFile.h"
#include "Printers.h"
#include "Registry.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pradelux::office {

namespace {

const QString kName = QStringLiteral("Microsoft PowerPoint");
const QString kPresentationsPath = protocol::kRootPath + QStringLiteral("/Presentations");

QVariant nothing()
{
    return QVariant::fromValue<uchar>(0);
}
QVariant objectAt(const QString& path)
{
    return QVariant::fromValue(QDBusObjectPath(path));
}

[[noreturn]] void noMember(const QString& object, const QString& member)
{
    throw Failure(failure::kNoSuchMember,
                  QStringLiteral("Object doesn't support this property or method: %1.%2").arg(object, member));
}

QString signatureOf(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return QStringLiteral("Boolean (b)");
    case QMetaType::Short:
        return QStringLiteral("16-bit integer (n)");
    case QMetaType::Int:
        return QStringLiteral("32-bit integer (i)");
    case QMetaType::Double:
        return QStringLiteral("Double (d)");
    case QMetaType::QString:
        return QStringLiteral("String (s)");
    case QMetaType::UChar:
        return QStringLiteral("Empty");
    default:
        return QString::fromLatin1(v.typeName());
    }
}

// The value of a property write, checked against the type the property takes.
QVariant expect(const QString& member, const QVariant& value, QMetaType::Type type)
{
    if (value.metaType().id() != type)
        throw Failure(failure::kTypeMismatch,
                      QStringLiteral("Type mismatch: %1 takes a %2, not a %3")
                          .arg(member, signatureOf(QVariant(QMetaType(type))), signatureOf(value)));
    return value;
}

bool is(const QString& member, const char* name)
{
    return member.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

bool isRead(int kind)
{
    return kind == protocol::kPropertyGet || kind == protocol::kMethod;
}

} // namespace

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

QVariant PowerPointServer::application(const QString& member, int kind, const QList<Named>& args)
{
    const QVariant value = args.isEmpty() ? QVariant() : args.constFirst().value;
    if ((member.isEmpty() || is(member, "Name")) && isRead(kind))
        return kName;
    if (is(member, "Visible")) {
        if (kind == protocol::kPropertyPut) {
            m_visible = expect(member, value, QMetaType::Bool).toBool();
            return nothing();
        }
        return m_visible;
    }
    if (is(member, "DisplayAlerts")) {
        if (kind == protocol::kPropertyPut) {
            m_displayAlerts = expect(member, value, QMetaType::Bool).toBool();
            return nothing();
        }
        return m_displayAlerts;
    }
    if (is(member, "Presentations") && isRead(kind))
        return objectAt(kPresentationsPath);
    if (is(member, "ActivePresentation") && isRead(kind)) {
        if (m_presentations.find(m_active) == m_presentations.end())
            throw Failure(failure::kAutomationError, QStringLiteral("No presentation is open."));
        return objectAt(kPresentationsPath + QLatin1Char('/') + QString::number(m_active));
    }
    if (is(member, "Quit") && kind == protocol::kMethod) {
        // The reply goes out first. Every job was written before its
        // PrintOut returned, so nothing is left to finish.
        QTimer::singleShot(0, this, [this] {
            m_visible = false;
            m_references.clear();
            shutDown();
        });
        return nothing();
    }
    noMember(QStringLiteral("Application"), member);
}

QVariant PowerPointServer::presentations(const QString& member, int kind, const QList<Named>& args)
{
    if (is(member, "Open") && kind == protocol::kMethod)
        return open(args);
    if (is(member, "Count") && isRead(kind))
        return static_cast<qint32>(m_presentations.size());
    noMember(QStringLiteral("Presentations"), member);
}

QVariant PowerPointServer::open(const QList<Named>& args)
{
    QString file;
    bool found = false;
    // For a presentation protected by a password, the passwords to try, one
    // a line: never a property, never written anywhere.
    QStringList passwords;
    for (int i = 0; i < args.size(); ++i) {
        const Named& a = args[i];
        if ((a.name.isEmpty() && i == 0) || a.name.compare(QLatin1String("fileName"), Qt::CaseInsensitive) == 0) {
            file = expect(QStringLiteral("FileName"), a.value, QMetaType::QString).toString();
            found = true;
        } else if (a.name.compare(QLatin1String("passwords"), Qt::CaseInsensitive) == 0) {
            passwords = expect(QStringLiteral("Passwords"), a.value, QMetaType::QString)
                            .toString()
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        } else if (!a.name.isEmpty()) {
            throw Failure(failure::kNamedArgumentNotFound, QStringLiteral("Named argument not found: %1").arg(a.name));
        } else {
            throw Failure(failure::kInvalidArgument, QStringLiteral("Open takes one argument, the file name"));
        }
    }
    if (!found || file.isEmpty())
        throw Failure(failure::kInvalidArgument, QStringLiteral("Presentations.Open: no file name was given."));
    const QFileInfo info(file);
    if (!info.exists())
        throw Failure(failure::kFileNotFound,
                      QStringLiteral("PowerPoint can't open %1: the file does not exist.").arg(file));
    if (info.isDir())
        throw Failure(failure::kAutomationError,
                      QStringLiteral("PowerPoint can't open %1: it is a folder, not a presentation.").arg(file));
    // Opened without waiting (a pipe would hold the application up for ever),
    // then looked at: only a regular file is read.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw Failure(failure::kPermissionDenied,
                      QStringLiteral("PowerPoint can't open %1: the file cannot be read (%2).")
                          .arg(file, QString::fromLocal8Bit(std::strerror(errno))));
    // What LibreOffice would read as a text document or a workbook is not
    // printed as one, and a package it could only open by repairing it is
    // reported damaged, whichever renderer prints it.
    const FileKind kind = InspectPresentationApart(fd, UnpackLimit(), m_checkTimeoutMs);
    ::close(fd);
    if (kind.verdict == FileKind::NotRegular)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("PowerPoint can't open %1: it is not a regular file.").arg(file));
    if (kind.verdict == FileKind::TookTooLong)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("PowerPoint can't open %1: checking what the file holds took longer than %2 "
                                     "seconds.")
                          .arg(file)
                          .arg(m_checkTimeoutMs / 1000.0));
    if (kind.verdict == FileKind::NotPresentation)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("PowerPoint can't open %1: the file is not a presentation.").arg(file));
    if (kind.verdict == FileKind::Protected) {
        // Where LibreOffice opens no such file, or the renderer cannot pass
        // a password, none is tried.
        if (!kind.why.isEmpty())
            throw Failure(failure::kAutomationError,
                          QStringLiteral("PowerPoint can't open %1: %2, and LibreOffice cannot open %3 protected by a "
                                         "password.")
                              .arg(file, failure::kProtectedByPassword, kind.why));
        if (!passwords.isEmpty() && !m_renderer.takesPasswords())
            throw Failure(failure::kAutomationError,
                          QStringLiteral("PowerPoint can't open %1: %2, which LibreOffice's own converter "
                                         "(PRADELUX_OFFICE_RENDERER=soffice) cannot be given.")
                              .arg(file, failure::kProtectedByPassword));
        if (passwords.isEmpty())
            throw Failure(failure::kAutomationError,
                          QStringLiteral("PowerPoint can't open %1: %2.").arg(file, failure::kProtectedByPassword));
    } else {
        passwords.clear();
    }
    if (kind.verdict == FileKind::Damaged)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("PowerPoint can't open %1: the file is damaged (%2).").arg(file, kind.why));
    const int id = m_nextId++;
    Presentation p;
    p.path = info.absoluteFilePath();
    p.slides = kind.slides;
    // What it links to beside and below itself is shown to LibreOffice with it.
    p.links = LocalLinks(kind.links, QFileInfo(p.path).absolutePath());
    p.letters = kind.letters;
    p.print.activePrinter = m_printers.defaultPrinter();
    p.passwords = passwords;
    m_presentations[id] = p;
    renderAhead(id);
    // A protected presentation opens only when one of its passwords does:
    // the rendering started ahead says so before Open returns, so that
    // the caller can try others.
    if (!passwords.isEmpty() && m_ahead && m_ahead->id == id) {
        m_ahead->thread->wait();
        if (m_ahead->failure) {
            try {
                std::rethrow_exception(m_ahead->failure);
            } catch (const Failure& f) {
                if (f.description().contains(failure::kNoPasswordOpens)) {
                    dropAhead();
                    m_presentations.erase(id);
                    throw;
                }
            } catch (...) {
            }
        }
    }
    m_active = id;
    return objectAt(kPresentationsPath + QLatin1Char('/') + QString::number(id));
}

QVariant PowerPointServer::presentation(int id, const QString& member, int kind, const QList<Named>&)
{
    Presentation& p = m_presentations[id];
    if (is(member, "PrintOptions") && isRead(kind))
        return objectAt(kPresentationsPath + QLatin1Char('/') + QString::number(id) + QStringLiteral("/PrintOptions"));
    if ((member.isEmpty() || is(member, "Name")) && isRead(kind))
        return QFileInfo(p.path).fileName();
    if (is(member, "FullName") && isRead(kind))
        return p.path;
    if (is(member, "PrintOut") && kind == protocol::kMethod) {
        printOut(id);
        return nothing();
    }
    noMember(QStringLiteral("Presentation"), member);
}

QVariant PowerPointServer::printOptions(int id, const QString& member, int kind, const QList<Named>& args)
{
    PrintSettings& s = m_presentations[id].print;
    const bool put = kind == protocol::kPropertyPut;
    const QVariant value = args.isEmpty() ? QVariant() : args.constFirst().value;
    if (is(member, "ActivePrinter")) {
        if (!put)
            return s.activePrinter;
        const QString name = expect(member, value, QMetaType::QString).toString();
        bool installed = name.isEmpty();
        for (const auto& printer : m_printers.installed())
            installed = installed || printer.name == name;
        if (!installed)
            throw Failure(failure::kAutomationError,
                          QStringLiteral("PrintOptions.ActivePrinter: the printer \"%1\" is not installed.").arg(name));
        s.activePrinter = name.isEmpty() ? m_printers.defaultPrinter() : name;
        return nothing();
    }
    if (is(member, "Ranges") && isRead(kind))
        return objectAt(kPresentationsPath + QLatin1Char('/') + QString::number(id) +
                        QStringLiteral("/PrintOptions/Ranges"));
    struct Int32Option
    {
        const char* name;
        qint32* field;
    };
    struct Int16Option
    {
        const char* name;
        qint16* field;
    };
    for (const Int32Option& o :
         {Int32Option{"RangeType", &s.rangeType}, Int32Option{"PrintColorType", &s.printColorType}}) {
        if (is(member, o.name)) {
            if (!put)
                return *o.field;
            *o.field = expect(member, value, QMetaType::Int).toInt();
            return nothing();
        }
    }
    for (const Int16Option& o : {Int16Option{"NumberOfCopies", &s.numberOfCopies}, Int16Option{"Collate", &s.collate},
                                 Int16Option{"PrintHiddenSlides", &s.printHiddenSlides},
                                 Int16Option{"FitToPage", &s.fitToPage}, Int16Option{"OutputType", &s.outputType}}) {
        if (is(member, o.name)) {
            if (!put)
                return QVariant::fromValue<short>(*o.field);
            *o.field = static_cast<qint16>(expect(member, value, QMetaType::Short).value<short>());
            return nothing();
        }
    }
    noMember(QStringLiteral("PrintOptions"), member);
}

QVariant PowerPointServer::ranges(int id, const QString& member, int kind, const QList<Named>& args)
{
    QList<printoutput::SlideRange>& ranges = m_presentations[id].print.ranges;
    if (is(member, "Count") && isRead(kind))
        return static_cast<qint32>(ranges.size());
    if (is(member, "ClearAll") && kind == protocol::kMethod) {
        ranges.clear();
        return nothing();
    }
    if (is(member, "Add") && kind == protocol::kMethod) {
        qint32 ends[2] = {0, 0};
        bool given[2] = {false, false};
        for (int i = 0; i < args.size(); ++i) {
            const Named& a = args[i];
            const int which = a.name.isEmpty() ? i : is(a.name, "Start") ? 0 : is(a.name, "End") ? 1 : -1;
            if (which < 0)
                throw Failure(failure::kNamedArgumentNotFound,
                              QStringLiteral("Named argument not found: %1").arg(a.name));
            if (which > 1)
                throw Failure(failure::kInvalidArgument, QStringLiteral("Add takes two arguments, Start and End"));
            ends[which] =
                expect(which == 0 ? QStringLiteral("Start") : QStringLiteral("End"), a.value, QMetaType::Int).toInt();
            given[which] = true;
        }
        if (!given[0] || !given[1] || ends[0] < 1 || ends[1] < ends[0] || ends[1] > printoutput::kLastSlide)
            throw Failure(failure::kInvalidArgument,
                          QStringLiteral("PrintOptions.Ranges.Add: a range runs from a slide number (1 to %1) to "
                                         "one no lower.")
                              .arg(printoutput::kLastSlide));
        ranges << printoutput::SlideRange{ends[0], ends[1]};
        return nothing();
    }
    noMember(QStringLiteral("PrintRanges"), member);
}

void PowerPointServer::checkPort(const QString& printer) const
{
    const auto installed = m_printers.installed();
    const auto it =
        std::find_if(installed.begin(), installed.end(), [&](const PrinterInfo& p) { return p.name == printer; });
    if (it == installed.end())
        throw Failure(failure::kAutomationError, QStringLiteral("the printer was removed"));
    if (it->port != pdfprinter::kPort)
        throw Failure(failure::kAutomationError, QStringLiteral("its port %1 cannot be printed to").arg(it->port));
}

void PowerPointServer::asPrinter(const PrintJob& job, const QString& presentation, const std::function<void()>& step)
{
    try {
        step();
    } catch (const Failure& f) {
        QTextStream(stderr) << job.printer << ": the job " << job.title << " failed: " << f.description() << Qt::endl;
        throw Failure(f.number(), QStringLiteral("The printer \"%1\" could not print %2: %3.")
                                      .arg(job.printer, presentation, f.description()));
    }
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
