// The window's own texts: captions, tooltip, help.
#pragma once

#include <QString>

namespace pradelux::texts {

inline const QString kColumnHeader = QStringLiteral("PowerPoint File(s)");
inline const QString kFrameCaption = QStringLiteral("Save Results To This Folder");
inline const QString kBrowseCaption = QStringLiteral("...");
inline const QString kHelpCaption = QStringLiteral("Help");
inline const QString kAddFilesCaption = QStringLiteral("Add PowerPoint File(s)");
inline const QString kScanCaption = QStringLiteral("Add All Files In Folder");
inline const QString kExportCaption = QStringLiteral("Start Exporting To PDF");
inline const QString kClearCaption = QStringLiteral("Clear List");
inline const QString kSamplesCaption = QStringLiteral("Load Sample/Example Files");
inline const QString kListTooltip = QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | "
                                                   "line to right and out of window to reveal full names.");
// Said after it: where the PDF choices are, which no button shows.
inline const QString kPdfOptionsHint =
    QStringLiteral("What the PDFs hold (tags, PDF/A, notes, slides, images): PDF Options, in the right-click menu "
                   "or Ctrl+Shift+P.");
inline const QString kHelpText = QStringLiteral(
    "This program works with PowerPoint Presentations like .ppt and .pptx but not PowerPoint Shows like .pps");

inline const QString kSkinFile = QStringLiteral("/x/o.cjs");
inline const QString kHandPointerFile = QStringLiteral("/HAND-M.CUR");
inline const QString kIconFile = QStringLiteral("/pradelux.png");

} // namespace pradelux::texts
