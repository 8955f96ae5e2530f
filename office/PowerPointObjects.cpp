// The presentation application's objects: the application, its
// presentations, and what they print and where.
#include "PowerPointServer.h"

#include "AutomationProtocol.h"
#include "Failure.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "PresentationFile.h"
#include "Printers.h"

#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

#include <fcntl.h>

#include "ServedValues.h"

namespace pradelux::office {

using namespace served;

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

} // namespace pradelux::office
