// The processes of pradelux-render that stay outside the sandbox, each an
// entry that main() calls with what its command line gave; each returns the
// process's exit status.
#pragma once

#include <QString>

namespace pradelux::render::service {

// The renderer kept for a session (PRADELUX_RENDER_SOCKET names where it
// answers); predecessor: the renderer it takes over from, 0 for none;
// launcher: its socket to the launcher that started it, -1 for none.
int RunService(int argc, char* argv[], qint64 predecessor, int launcher);
// Starts the launcher, while this process still stands in the namespaces
// it was started in: it starts each renderer that takes over from this one,
// and from that one in turn, so that no renderer starts inside another. This
// end of its socket, or -1. It ends once no renderer of the chain is left.
int StartLauncher();
// pradelux-render --launcher FD: the launcher, asked on FD by the first
// renderer of its chain; each renderer it starts gets a socket of its own
// to ask in turn.
int RunLauncher(int socket);
// Asks the launcher for a renderer to take over from this one once it has
// served its last row, while there is memory for a second LibreOffice; its
// process id, or 0 when none was started.
qint64 StartSuccessor(int launcher);
// Waits, at most maxMs, with LibreOffice loaded, until the predecessor pid
// no longer listens on socketPath.
void WaitForPredecessor(qint64 pid, const QString& socketPath, int maxMs);
// pradelux-render --run-sandboxed PRESENTATION OUTFOLDER TEMPLATE [--link
// FILE]... -- PROGRAM ARGUMENTS...: one LibreOffice started afresh in a
// sandbox shown the presentation and the files it links (relative to its
// folder), with OUTFOLDER at the sandbox's PDF folder.
int RunSandboxed(int argc, char* argv[]);
// pradelux-render --check-sandbox: whether a sandbox can be made here;
// exits 0, or 5 after saying why and what to do.
int CheckSandbox();
// pradelux-render --make-profile FOLDER SOFFICE: runs soffice once, with no
// presentation but a blank one of ours, to fill FOLDER, in a sandbox that
// may write FOLDER alone.
int RunProfileMaker(const QString& folder, const QString& soffice);
// pradelux-pages, the page counter: takes PDFs' descriptors on its
// standard input and, for each, starts a process that gives up all it could
// reach before Poppler reads a byte, and says what that one counted (a
// PdfFacts line) on its standard output.
int RunPageCountServer();

} // namespace pradelux::render::service
