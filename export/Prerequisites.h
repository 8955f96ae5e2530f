// The checks at the end of start-up: the presentation application must be
// available, and the PDF printer should be installed.
#pragma once

#include "Automation.h"

#include <QString>
#include <functional>

namespace pradelux {

class Dialogs;
class Printers;

inline const QString kApplicationMissing = QStringLiteral(
    "PowerPoint is not installed on this computer. You need to have it installed to use this software without error.");
inline const QString kApplicationMissingFirst = QStringLiteral("PowerPoint is not installed on this computer.");

// printerTool: the full path of the command that installs the printer.
QString PdfPrinterInstructions(const QString& printerTool);
// The message when the application cannot be created: what is missing and
// how to install it, when the failure says so.
QString ApplicationMissingMessage(const QString& reason);

// Creates the application once: what is missing and how to install it, or
// nothing when it could be created. The application is let go again, or
// handed to kept, which a caller that goes on to export holds on to, so that
// the application it starts is not ended and started again.
QString WhyPowerPointIsMissing(Automation& automation, ObjectRef* kept = nullptr);
// How to install the PDF printer, or nothing when a printer has exactly its name.
QString WhyPdfPrinterIsMissing(const Printers& printers);

// Creates the application once and lets it go again. When that fails, tells
// the user, ends the program through exitProgram and returns false.
bool CheckPowerPointInstalled(Automation& automation, Dialogs& dialogs, const std::function<void(int)>& exitProgram);

// Shows how to install the PDF printer when no printer has exactly its name.
void CheckPdfPrinterInstalled(const Printers& printers, Dialogs& dialogs);

} // namespace pradelux
