// What a rendering may reach, written here and nowhere else. A presentation
// comes from a stranger and may take LibreOffice over through a bug in an
// import filter; code running as LibreOffice then sees what was built for it
// and nothing of the user's besides:
// - the system's programs, libraries and fonts, read-only; the user's fonts,
//   fontconfig settings and fontconfig's caches, read-only; its profile's
//   template and the program folders it runs from, read-only;
// - the presentation and the local files it links to below its folder, each
//   bound alone, read-only, at its own path, for one rendering;
// - an empty folder of ours for its PDF, at kInsideOutput, for one rendering;
// - a private home and temporary folder (memory, bounded) below kInside, a
//   private /tmp, a fresh /proc and a minimal /dev.
// Never a folder of the user's, a socket, a pipe, a device, a hidden entry,
// the output folder or the runtime folder; no network, no other process, no
// new privileges. What a descriptor kept inside reaches during a rendering
// is all it ever reaches: a file bound alone is that file, and the PDF's
// folder is removed after its rendering.
//
// bubblewrap builds the sandbox (namespaces of every kind, a fresh /proc and
// /dev, a seccomp filter of ours). Its root is a folder kept by the process
// that stays outside, in a mount namespace of that process's own, and only
// that process writes it: what it mounts below the root later reaches the
// sandbox through mount propagation, and nothing inside can ask for more.
// Run as root, LibreOffice runs as the system user kSandboxUser, which no
// other process is, in a user namespace that root owns, so that no process
// of the host but root's can enter it or trace it; the files it is given
// are shown to it as its own (idmapped mounts), and no other file of root's
// is.
#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>
#include <sys/stat.h>
#include <sys/types.h>

namespace pradelux::render::boundary {

// What each kind of sandbox sees besides the system and the fonts: the
// renderer's (the LibreOffice kept for a session, or started for one
// presentation), the profile maker's (writable: the template being made) and
// the check's (nothing).
struct Plan
{
    QStringList writable; // read-write at their own paths
    QStringList readable; // program folders and the profile's template, read-only at their own paths
    qint64 jobBytes = 0;  // when set, a memory file system of this size for the renderings' PDF folders
};

// The renderer's sandbox, kept or started for one presentation: the program
// folders it runs from and the profile's template, read-only; with jobBytes,
// the kept renderer's memory file system for its renderings' PDF folders.
Plan RendererPlan(const QStringList& programFolders, const QString& profileTemplate, qint64 jobBytes = 0);
// The profile maker's: the template being made, read-write; the program
// folders (pradelux-inside's and LibreOffice's), read-only.
Plan ProfileMakerPlan(const QString& folder, const QStringList& programFolders);
// The check that a sandbox can be made here: nothing but the system.
Plan CheckPlan();

// Where the sandbox's own folders stand inside it: no presentation of the
// host's is ever shown below them.
inline constexpr char kInside[] = "/run/pradelux";
inline constexpr char kInsideHome[] = "/run/pradelux/home";
inline constexpr char kInsideTemporary[] = "/run/pradelux/tmp";
inline constexpr char kInsideOutput[] = "/run/pradelux/out";
// The fontconfig configuration LibreOffice reads inside: the stand-in fonts
// of kStandInFonts, then the user's or the system's own.
inline constexpr char kInsideFontConfiguration[] = "/run/pradelux/fonts.conf";
// The renderer's stand-in fonts, a file beside its programs.
inline constexpr char kStandInFonts[] = "stand-in-fonts.conf";
// The system user root's renderings run as.
inline constexpr char kSandboxUser[] = "_pradelux";

// What to tell when no sandbox can be made here: why, and what to do.
QString RefusedText(const QString& why);

// pradelux-render --run-sandboxed's status for a presentation that cannot be
// shown to LibreOffice (no regular file, or gone).
inline constexpr int kNotShownStatus = 7;
// A presentation links at most this many files that are shown with it.
inline constexpr int kMostLinks = 200;
// What the sandbox's private /tmp, home and temporary folder may each
// hold, and its /dev/shm: memory, counted against the memory ceiling with
// its processes, and bounded apart.
inline constexpr qint64 kPrivateBytes = qint64(1) << 30;
inline constexpr qint64 kShmBytes = qint64(256) << 20;

// The system's own folders, shown read-only at their own paths.
QStringList SystemFolders();
bool IsSystemPath(const QString& path);
// Whether path is folder or lies below it.
bool PathUnder(const QString& path, const QString& folder);
// The user's own fonts, fontconfig settings (their folder, and the file
// $FONTCONFIG_FILE names), and fontconfig's caches of them and of the
// system's fonts, shown read-only where they stand.
QStringList FontFolders();
// The text of kInsideFontConfiguration: standIns first, so that the rules
// read after them (the user's among them) win, then the configuration the
// user's LibreOffice would read; with noColourFonts, colour fonts are never
// used, so that a LibreOffice that prints them blank prints emoji in a
// font of outlines instead.
QByteArray FontConfiguration(const QString& standIns, bool noColourFonts);
// Which files a presentation links are shown with it, and why: only the
// pictures it links, so that a deck that names any other file (the user's
// other decks, notes, keys, the PDFs of a run) reads none of it.
// A link's name relative to its presentation's folder, when it may be shown:
// below the folder, and no part of it hidden; empty otherwise.
QString ShowableLink(const QString& link);
// Whether head, a file's first bytes (kPictureHeadBytes of them, or all of a
// smaller file), is a picture LibreOffice reads: PNG, JPEG, GIF, BMP, TIFF,
// WebP, WMF, EMF or SVG. A presentation, a PDF or a text is none.
inline constexpr qsizetype kPictureHeadBytes = 512;
bool IsPicture(QByteArrayView head);
// Whether the user a linked file is shown for may see it as they could
// themselves: a regular file with one name (a hard link to a file elsewhere
// is no file of the folder's), that its presentation's owner could read
// (readable, checked with that user's own permissions, never the renderer's
// namespace's), and, run as root, owned by that owner or by root.
struct LinkedFile
{
    struct stat file;          // the linked file
    uid_t deckOwner = 0;       // the presentation's owner
    bool ownerCanRead = false; // as that user's own permissions say, folders on the way included
};
bool MayShowLinkedFile(const LinkedFile& linked, bool runAsRoot);
// bubblewrap's arguments, up to the command, for a sandbox whose root is
// root (a folder that holds the mount points of everything else shown)
// and whose system call filter is at fd filter.
QByteArrayList BubblewrapArguments(const QByteArray& root, int filter);
// The environment inside.
QByteArrayList SandboxEnvironment();

} // namespace pradelux::render::boundary
