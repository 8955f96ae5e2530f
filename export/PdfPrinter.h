// The PDF printer the program prints through, and the registry values that
// tell it where the next PDF goes.
#pragma once

#include "Registry.h"

#include <QString>

namespace pradelux::pdfprinter {

inline const QString kName = QStringLiteral("Veltrande PDF Writer");
inline const QString kPort = QStringLiteral("CPW2:");
inline const QString kKey = QStringLiteral("Software\\") + kName;
inline const QString kOutputFile = QStringLiteral("OutputFile");
inline const QString kBypassSaveAs = QStringLiteral("BypassSaveAs");

} // namespace pradelux::pdfprinter

namespace pradelux {
inline const QString kPowerPointClass = QStringLiteral("PowerPoint.Application");

// The lock that keeps export runs apart, beside the printer's values that
// they would otherwise share.
inline QString ExportLockPath(const FileRegistry& registry)
{
    return registry.folderOf(pdfprinter::kKey) + QStringLiteral("/.export-lock");
}
} // namespace pradelux
