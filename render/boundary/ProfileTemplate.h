// LibreOffice's profile, as every rendering starts with it. A profile holds
// more than settings (extensions, Basic libraries, the jobs LibreOffice runs
// at its start), and a presentation that takes LibreOffice over could plant
// any of them for the renderings after it. So no rendering ever writes the
// profile that the next one starts with: a template, made once by a
// LibreOffice that never had a presentation open but a blank one of this
// program's, with the settings that
// must hold (no macro runs, no update check, no recovery), is shown read-only
// inside the sandbox, and every start of LibreOffice works in a copy of its
// own in the sandbox's private home, which goes with it.
#pragma once

#include <QString>

namespace pradelux::render::boundary {

// Where the template is kept for the user: ~/.cache/pradelux-office/profile-template.
QString DefaultProfileTemplate();

// Makes the template at folder when there is none, or when it was made by
// another LibreOffice or by an earlier version of this program: soffice runs
// once (printing a blank presentation of ours) in a sandbox of renderProgram's
// (pradelux-render), then the settings are set (where soffice fails, the
// template holds the settings alone until a later call makes it whole).
// Safe when several programs ask at once. False with why when no template
// can be made.
bool EnsureProfileTemplate(const QString& folder, const QString& soffice, const QString& renderProgram, QString* why);

// Called from a signal handler when the process is told to end: a template
// being made is given up and removed, and EnsureProfileTemplate returns
// false; ProfileMakingStopped() tells so.
void StopProfileMaking();
bool ProfileMakingStopped();

// Sets up a LibreOffice profile folder so that no macro ever runs in it,
// it never looks for updates and never recovers a document, before
// LibreOffice starts with it. Nothing in the folder is followed (a link, a
// pipe).
void PrepareProfile(const QString& profile);

} // namespace pradelux::render::boundary
