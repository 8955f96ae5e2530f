// The checks at the end of start-up.
#include "Prerequisites.h"

#include "Automation.h"
#include "Dialogs.h"
#include "Failure.h"
#include "Files.h"
#include "PdfPrinter.h"
#include "Printers.h"

namespace pradelux {

QString PdfPrinterInstructions(const QString& printerTool)
{
    const QString& name = pdfprinter::kName;
    return QStringList{name + QStringLiteral(" is not installed. Please follow these instructions:"),
                       QString(),
                       QStringLiteral("1) Open a terminal."),
                       QStringLiteral("2) Run ''") + printerTool + QStringLiteral(" install'' to add ") + name +
                           QStringLiteral(" on its port ''CPW2:''."),
                       QStringLiteral("3) Run ''") + printerTool + QStringLiteral(" list'' to see that ") + name +
                           QStringLiteral(" is listed."),
                       QStringLiteral("4) Export: there is no need to restart this program.")}
        .join(QStringLiteral("\r\n"));
}

QString ApplicationMissingMessage(const QString& reason)
{
    static const QString automationPrefix = QStringLiteral("ActiveX component can't create object");
    QString why = reason;
    if (why.startsWith(automationPrefix))
        why = why.mid(automationPrefix.size());
    if (why.startsWith(QLatin1String(": ")))
        why = why.mid(2);
    if (why.isEmpty())
        return kApplicationMissing;
    return kApplicationMissingFirst +
           QStringLiteral(" Its stand-in, the presentation application of Pradelux, could "
                          "not be started: ") +
           why;
}

QString WhyPowerPointIsMissing(Automation& automation, ObjectRef* kept)
{
    bool created = false;
    QString reason;
    try {
        ObjectRef application = automation.createObject(kPowerPointClass);
        created = application != nullptr;
        if (kept)
            *kept = std::move(application);
    } catch (const Failure& f) {
        reason = f.description();
    } catch (...) {
        created = false;
    }
    return created ? QString() : ApplicationMissingMessage(reason);
}

QString WhyPdfPrinterIsMissing(const Printers& printers)
{
    for (const PrinterInfo& printer : printers.installed()) {
        if (printer.name == pdfprinter::kName)
            return QString();
    }
    return PdfPrinterInstructions(AppFolder() + QStringLiteral("/pradelux-printer"));
}

bool CheckPowerPointInstalled(Automation& automation, Dialogs& dialogs, const std::function<void(int)>& exitProgram)
{
    const QString missing = WhyPowerPointIsMissing(automation);
    if (missing.isEmpty())
        return true;
    dialogs.msgBox(missing, msgbox::kOkOnly);
    if (exitProgram)
        exitProgram(0);
    return false;
}

void CheckPdfPrinterInstalled(const Printers& printers, Dialogs& dialogs)
{
    const QString missing = WhyPdfPrinterIsMissing(printers);
    if (!missing.isEmpty())
        dialogs.msgBox(missing, msgbox::kOkOnly);
}

} // namespace pradelux
