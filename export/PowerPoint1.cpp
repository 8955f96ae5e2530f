// The export of one presentation.
#include "PowerPoint1.h"

#include "Automation.h"
#include "Dialogs.h"
#include "ErrorReport.h"
#include "EventLoop.h"
#include "Failure.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "Registry.h"
#include "WindowChoices.h"

#include <QElapsedTimer>

namespace pradelux {

namespace {
Dispatch& need(const ObjectRef& object)
{
    if (!object)
        throw Failure(failure::kObjectNotSet, QStringLiteral("Object variable or With block variable not set"));
    return *object;
}

// Polls for the PDF this often while waiting; between polls the event loop
// sleeps.
constexpr double kPollSeconds = 0.05;
} // namespace

PowerPoint1Services PowerPoint1::defaults(Automation& automation, Registry& registry, Dialogs& dialogs)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return PowerPoint1Services{automation, registry,     dialogs,
                               Pause,      FileIdentity, [clock] { return clock->elapsed(); }};
}

void ApplyPrintChoices(const PrintChoices& choices, Registry& registry, PowerPoint1Services& steps)
{
    officeoptions::SetIsolateRows(registry, choices.isolateRows);
    pdfprinter::SetPdfSettings(registry, choices.pdf);
    steps.printHiddenSlides = choices.hiddenSlides ? 1 : 0;
    steps.outputType = choices.output;
    steps.slides = choices.slides;
}

bool PowerPoint1::DoPPT(const QString& presentationPath, const QString& outputPath)
{
    ErrorTrap trap(m_services.dialogs, tags::kDoPPT);
    // Only a file that differs from what stood at the path before counts as
    // this call's PDF.
    const QString before = m_services.identity(outputPath);
    const auto written = [&] {
        const QString now = m_services.identity(outputPath);
        return !now.isEmpty() && now != before;
    };
    const auto pace = [this](double seconds) {
        if (m_services.fixedPauses)
            m_services.pause(seconds);
    };
    Registry& registry = m_services.registry;
    Registry::Key key = 0;

    // The registry calls answer with result codes, which are not examined.
    trap(100, [&] { registry.createKey(pdfprinter::kKey, &key); });
    trap(104, [&] { registry.setStringValue(key, pdfprinter::kOutputFile, outputPath); });
    trap(108, [&] { registry.setStringValue(key, pdfprinter::kBypassSaveAs, QStringLiteral("1")); });
    trap(110, [&] { registry.closeKey(key); });

    ObjectRef application;
    ObjectRef running;
    trap(112, [&] { application = m_services.automation.createObject(kPowerPointClass); });
    trap(114, [&] { running = m_services.automation.getObject(kPowerPointClass); });
    trap(116, [&] { need(application).put(QStringLiteral("Visible"), Value::boolean(true)); });
    const bool opened = trap(118, [&] {
        const ObjectRef presentations = need(running).object(QStringLiteral("Presentations"));
        try {
            need(presentations).call(QStringLiteral("Open"), {Argument{presentationPath, QStringLiteral("fileName")}});
        } catch (const Failure& protectedOne) {
            // A presentation protected by a password is opened with those
            // the run has, or is given, until one opens it.
            if (!m_services.passwords || !protectedOne.description().endsWith(failure::kProtectedByPassword + '.'))
                throw;
            // The row fails as the last Open said: protected, or none of
            // the passwords opens it.
            Failure last = protectedOne;
            for (int attempt = 0;; ++attempt) {
                const std::optional<QString> passwords = m_services.passwords(presentationPath, attempt);
                if (!passwords)
                    throw last;
                try {
                    presentations->call(QStringLiteral("Open"), {Argument{presentationPath, QStringLiteral("fileName")},
                                                                 Argument{*passwords, QStringLiteral("Passwords")}});
                    return;
                } catch (const Failure& wrong) {
                    if (!wrong.description().contains(failure::kNoPasswordOpens))
                        throw;
                    last = wrong;
                }
            }
        }
    });
    trap(120, [&] { pace(0.2); });

    // After a failed Open the application's active presentation, if any, is
    // another one: it must never be printed under this presentation's name,
    // so every step that needs the presentation fails and is reported.
    auto activePresentation = [&]() -> ObjectRef {
        if (!opened)
            throw Failure(failure::kObjectNotSet,
                          QStringLiteral("%1 was not opened, so it cannot be printed.").arg(presentationPath));
        ObjectRef presentation = need(application).object(QStringLiteral("ActivePresentation"));
        need(presentation);
        return presentation;
    };
    auto printOptions = [&] { return activePresentation()->object(QStringLiteral("PrintOptions")); };
    QString savedPrinter;
    trap(122, [&] { savedPrinter = need(printOptions()).get(QStringLiteral("ActivePrinter")).toText(); });
    trap(124, [&] { need(printOptions()).put(QStringLiteral("ActivePrinter"), pdfprinter::kName); });
    trap(126, [&] { pace(0.2); });

    ObjectRef options;
    trap(140, [&] { options = printOptions(); });
    trap(142, [&] {
        if (m_services.slides.isEmpty()) {
            need(options).put(QStringLiteral("RangeType"), Value::int32(printoutput::kRangeAll));
            return;
        }
        need(options).put(QStringLiteral("RangeType"), Value::int32(printoutput::kRangeSlides));
        ObjectRef ranges = need(options).object(QStringLiteral("Ranges"));
        need(ranges).call(QStringLiteral("ClearAll"));
        for (const printoutput::SlideRange& r : m_services.slides)
            ranges->call(QStringLiteral("Add"), {Argument{Value::int32(r.start), QStringLiteral("Start")},
                                                 Argument{Value::int32(r.end), QStringLiteral("End")}});
    });
    trap(144, [&] { need(options).put(QStringLiteral("NumberOfCopies"), Value::int16(1)); });
    trap(146, [&] { need(options).put(QStringLiteral("Collate"), Value::int16(1)); });
    trap(148,
         [&] { need(options).put(QStringLiteral("PrintHiddenSlides"), Value::int16(m_services.printHiddenSlides)); });
    trap(150, [&] { need(options).put(QStringLiteral("PrintColorType"), Value::int32(1)); });
    trap(152, [&] { need(options).put(QStringLiteral("FitToPage"), Value::int16(0)); });
    trap(156, [&] { need(options).put(QStringLiteral("OutputType"), Value::int16(m_services.outputType)); });
    trap(156, [&] { options.reset(); });

    const bool handedOver = trap(164, [&] { activePresentation()->call(QStringLiteral("PrintOut")); });
    trap(166, [&] { pace(1); });

    // The printer writes the file after the print call has returned. When no
    // job was handed over there is nothing to wait for; otherwise the wait is
    // bounded, so a printer that never writes cannot hold the export forever.
    if (handedOver) {
        bool done = false;
        trap(168, [&] {
            const qint64 deadline = m_services.now() + m_services.waitBoundMs;
            while (!(done = written()) && m_services.now() < deadline)
                m_services.pause(kPollSeconds);
        });
        trap(170, [&] {
            if (!done && !written())
                throw Failure(failure::kFileNotFound,
                              QStringLiteral("The PDF printer did not write %1 within %2 seconds.")
                                  .arg(outputPath)
                                  .arg(m_services.waitBoundMs / 1000));
        });
    }
    trap(172, [&] { pace(1); });
    trap(174, [&] { need(printOptions()).put(QStringLiteral("ActivePrinter"), savedPrinter); });
    trap(176, [&] { pace(1); });
    if (m_services.keepApplication && application) {
        m_services.keepApplication(application);
    } else {
        trap(178, [&] { need(running).put(QStringLiteral("DisplayAlerts"), Value::boolean(false)); });
        trap(180, [&] { need(running).call(QStringLiteral("Quit")); });
    }

    application.reset();
    running.reset();
    // A file that appeared at the path without a job of this call (another
    // program's) is not this presentation's PDF.
    return handedOver && written();
}

} // namespace pradelux
