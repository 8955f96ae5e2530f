// The checks at the end of start-up.
#include "Prerequisites.h"

#include "Automation.h"
#include "Dialogs.h"
#include "PdfPrinter.h"
#include "Printers.h"

namespace pradelux {

QString PdfPrinterInstructions()
{
    const QString& name = pdfprinter::kName;
    return QStringList{name + QStringLiteral(" is not installed. Please follow these instructions:"),
                       QString(),
                       QStringLiteral("1) Go to Control Panel -> Printers and Faxes to add a local printer."),
                       QStringLiteral("2) Choose ''CPW2: (") + name +
                           QStringLiteral(")'' on Select a Printer Port dialog box, click Next."),
                       QStringLiteral("3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next."),
                       QStringLiteral("4) Enter ") + name + QStringLiteral(" as Printer name, click Next -> Finish.")}
        .join(QStringLiteral("\r\n"));
}

bool CheckPowerPointInstalled(Automation& automation, Dialogs& dialogs, const std::function<void(int)>& exitProgram)
{
    bool created = false;
    try {
        created = automation.createObject(kPowerPointClass) != nullptr;
    } catch (...) {
        created = false;
    }
    if (created)
        return true;
    dialogs.msgBox(kApplicationMissing, msgbox::kOkOnly);
    if (exitProgram)
        exitProgram(0);
    return false;
}

void CheckPdfPrinterInstalled(const Printers& printers, Dialogs& dialogs)
{
    for (const PrinterInfo& printer : printers.installed()) {
        if (printer.name == pdfprinter::kName)
            return;
    }
    dialogs.msgBox(PdfPrinterInstructions(), msgbox::kOkOnly);
}

} // namespace pradelux
