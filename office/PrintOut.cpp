// The presentation application's printing: what PrintOut checks and asks
// the renderer for, and the rendering a presentation starts as it is opened.
#include "PowerPointServer.h"

#include "Failure.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "Printers.h"
#include "Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

namespace pradelux::office {

void PowerPointServer::checkPrintable(const Presentation& p, const QString& printerName) const
{
    if (printerName.isEmpty())
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 cannot be printed: no printer is selected and there is no default printer.")
                          .arg(p.path));
    bool installed = false;
    for (const auto& printer : m_printers.installed())
        installed = installed || printer.name == printerName;
    if (!installed)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 cannot be printed: the printer \"%2\" is not installed (\"pradelux-printer "
                                     "install\" installs the PDF printer).")
                          .arg(p.path, printerName));
    if (p.print.rangeType != printoutput::kRangeAll && p.print.rangeType != printoutput::kRangeSlides)
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 cannot be printed: only the whole presentation or ranges of its slides can "
                                     "be printed.")
                          .arg(p.path));
    const bool ranged = p.print.rangeType == printoutput::kRangeSlides;
    if (ranged && p.print.ranges.isEmpty())
        throw Failure(failure::kAutomationError,
                      QStringLiteral("%1 cannot be printed: its print options name no range of slides.").arg(p.path));
    // A range that starts past the last slide prints none of it: the job
    // fails rather than leave out what was asked for.
    for (const printoutput::SlideRange& r : ranged ? p.print.ranges : QList<printoutput::SlideRange>()) {
        if (p.slides >= 0 && r.start > p.slides)
            throw Failure(failure::kAutomationError,
                          QStringLiteral("%1 cannot be printed from slide %2: it has %3 slide%4.")
                              .arg(p.path)
                              .arg(r.start)
                              .arg(p.slides)
                              .arg(p.slides == 1 ? QString() : QStringLiteral("s")));
    }
}

RenderRequest PowerPointServer::requestFor(const Presentation& p, const PdfSettings& pdf) const
{
    RenderRequest request;
    request.presentation = p.path;
    // A run that converts strangers' decks may show none of the files
    // they link.
    request.links = pdf.linkedPictures ? p.links : QStringList();
    request.hiddenSlides = p.print.printHiddenSlides != 0;
    // Notes pages show each slide above its notes; every output type but
    // those two prints the slides.
    request.pages = p.print.outputType == printoutput::kNotesPages ? RenderRequest::Pages::NotesPages
                    : p.print.outputType == printoutput::kSlidesThenNotesPages
                        ? RenderRequest::Pages::SlidesThenNotesPages
                        : RenderRequest::Pages::Slides;
    if (p.print.rangeType == printoutput::kRangeSlides)
        request.slides = printoutput::SlidesText(p.print.ranges);
    request.isolated = officeoptions::IsolateRows(m_registry);
    request.passwords = p.passwords;
    request.letters = p.letters;
    request.pdf = pdf;
    return request;
}

QString PowerPointServer::newJobFolder()
{
    const QString folder = m_work.filePath(QStringLiteral("job-%1").arg(m_nextJob++));
    QDir().mkpath(folder);
    return folder;
}

void PowerPointServer::renderAhead(int id)
{
    // One rendering at a time: the renderer is not shared between threads.
    if (m_ahead && !m_ahead->thread->isFinished())
        return;
    dropAhead();
    const QStringList last = m_registry.readString(officeoptions::kKey, officeoptions::kLastPrint)
                                 .value_or(QString())
                                 .split(QLatin1Char('\n'));
    Presentation guess = m_presentations[id];
    PrintSettings& print = guess.print;
    // With nothing printed before, a protected presentation is rendered as
    // it stands: the rendering tells whether its passwords open it.
    if (last.size() != 4 && guess.passwords.isEmpty())
        return;
    if (last.size() == 4) {
        print.activePrinter = last[0];
        print.printHiddenSlides = static_cast<qint16>(last[1].toShort());
        print.outputType = static_cast<qint16>(last[2].toShort());
        QString why;
        print.ranges = last[3].isEmpty() ? QList<printoutput::SlideRange>() : printoutput::ParseSlides(last[3], &why);
        print.rangeType = last[3].isEmpty() ? printoutput::kRangeAll : printoutput::kRangeSlides;
    }
    // Nothing is rendered that its PrintOut would refuse before rendering.
    try {
        checkPrintable(guess, print.activePrinter);
        checkPort(print.activePrinter);
    } catch (const Failure&) {
        return;
    }
    auto ahead = std::make_unique<Ahead>();
    ahead->id = id;
    ahead->request = requestFor(guess, m_port.settings(print.activePrinter));
    ahead->jobFolder = newJobFolder();
    Ahead* a = ahead.get();
    ahead->thread.reset(QThread::create([this, a] {
        QElapsedTimer clock;
        clock.start();
        try {
            a->rendered = m_renderer.render(a->request, a->jobFolder);
            // The PDF's file is read and closed by the application's thread.
            if (a->rendered->file)
                a->rendered->file->moveToThread(QCoreApplication::instance()->thread());
        } catch (...) {
            a->failure = std::current_exception();
        }
        a->seconds = clock.nsecsElapsed() / 1e9;
    }));
    ahead->thread->start();
    m_ahead = std::move(ahead);
}

std::unique_ptr<PowerPointServer::Ahead> PowerPointServer::takeAhead(int id, const RenderRequest& request)
{
    if (!m_ahead)
        return nullptr;
    m_ahead->thread->wait();
    if (m_ahead->id == id && m_ahead->request == request)
        return std::move(m_ahead);
    dropAhead();
    return nullptr;
}

void PowerPointServer::dropAhead()
{
    if (!m_ahead)
        return;
    m_ahead->thread->wait();
    RemoveTree(m_ahead->jobFolder);
    m_ahead.reset();
}

void PowerPointServer::rememberPrint(const QString& printerName, const PrintSettings& print)
{
    const QString shape =
        QStringList{printerName, QString::number(print.printHiddenSlides), QString::number(print.outputType),
                    print.rangeType == printoutput::kRangeSlides ? printoutput::SlidesText(print.ranges) : QString()}
            .join(QLatin1Char('\n'));
    if (m_registry.readString(officeoptions::kKey, officeoptions::kLastPrint) == shape)
        return;
    Registry::Key key = 0;
    if (m_registry.createKey(officeoptions::kKey, &key) != registry::kSuccess)
        return;
    m_registry.setStringValue(key, officeoptions::kLastPrint, shape);
    m_registry.closeKey(key);
}

void PowerPointServer::printOut(int id)
{
    const Presentation& p = m_presentations[id];
    const QString printerName = p.print.activePrinter.isEmpty() ? m_printers.defaultPrinter() : p.print.activePrinter;
    checkPrintable(p, printerName);
    const bool ranged = p.print.rangeType == printoutput::kRangeSlides;

    PrintJob job{QString(), printerName, QFileInfo(p.path).completeBaseName(), QString()};
    PdfSettings pdf;
    // The printer takes the output path when the job is handed over: values
    // written meanwhile are a later job's.
    asPrinter(job, p.path, [&] {
        checkPort(job.printer);
        job.target = m_port.target(job.printer, job.title);
        pdf = m_port.settings(job.printer);
    });
    rememberPrint(printerName, p.print);
    const RenderRequest request = requestFor(p, pdf);
    std::unique_ptr<Ahead> ahead = takeAhead(id, request);
    const QString jobFolder = ahead ? ahead->jobFolder : newJobFolder();
    // The job reaches the printer before the call returns, so a job that the
    // printer refuses fails the call with the printer's reason instead of
    // leaving the caller to wait for a file that never comes.
    try {
        QElapsedTimer rendering;
        rendering.start();
        const RenderedPdf rendered = [&] {
            try {
                if (ahead && ahead->failure)
                    std::rethrow_exception(ahead->failure);
                return ahead ? *ahead->rendered : m_renderer.render(request, jobFolder);
            } catch (const Failure& f) {
                // LibreOffice writes no PDF when every slide of the range is
                // hidden and hidden ones are left out, and says no more.
                if (!ranged || request.hiddenSlides ||
                    !f.description().startsWith(QLatin1String("LibreOffice could not")))
                    throw;
                throw Failure(f.number(),
                              QStringLiteral("LibreOffice printed nothing of %1 for slides %2: they may all be hidden "
                                             "slides, which are left out, or the file is one it cannot read.")
                                  .arg(p.path, request.slides));
            }
        }();
        job.pdf = rendered.path;
        job.pages = rendered.pages;
        job.kind = {rendered.facts.version, rendered.facts.pdfa, rendered.facts.tagged};
        for (const render::boundary::StandIn& standIn : rendered.standIns)
            job.standIns.append({standIn.requested, standIn.printed});
        job.lacking = rendered.facts.lacking;
        job.pdfFile = rendered.file;
        const double seconds = ahead ? ahead->seconds : rendering.nsecsElapsed() / 1e9;
        asPrinter(job, p.path, [&] {
            checkPort(job.printer);
            QTextStream(stderr) << job.printer << ": wrote " << m_port.write(job) << " (rendered in "
                                << QString::number(seconds, 'f', 3) << " s)" << Qt::endl;
        });
    } catch (...) {
        RemoveTree(jobFolder);
        throw;
    }
    RemoveTree(jobFolder);
}

} // namespace pradelux::office
