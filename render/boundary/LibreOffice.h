// How LibreOffice is started in every sandbox: with a profile of its own,
// and nothing that waits for a person (no window, no logo, no recovery, no
// lock to ask about).
#pragma once

#include <QString>
#include <QStringList>

namespace pradelux::render::boundary {

// The LibreOffice executable (PRADELUX_OFFICE_SOFFICE, or soffice on the
// path), or empty text when none is installed.
QString FindSoffice();
// The program that is LibreOffice itself: soffice.bin beside the file soffice
// leads to, which the soffice script would start through oosplash and its
// search for a Java runtime (javaldx, which at times spins forever in a
// sandbox); soffice itself where no soffice.bin stands beside it.
QString OfficeProgram(const QString& soffice);
// What to tell when FindSoffice finds none: what is missing and how to
// install it.
QString MissingSofficeText();

// Whether the LibreOffice of soffice prints colour fonts (emoji among them)
// as blank glyphs into PDFs, as 7.4 does and 25.2 does not: its major
// version, from its versionrc, is 7 or less.
bool PrintsColourFontsBlank(const QString& soffice);

// The flags every start of LibreOffice gives, with profileFolder as its
// profile (its -env:UserInstallation).
QStringList StartFlags(const QString& profileFolder);

// LibreOffice's status when it made a new profile and must be started again.
inline constexpr int kRestartStatus = 81;

// Where a rendering's copy of the profile stands inside the sandbox: in its
// private home.
QString PrivateProfile();

} // namespace pradelux::render::boundary
