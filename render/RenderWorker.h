// The part of pradelux-render that runs inside the sandbox: LibreOffice,
// loaded once, printing one presentation at a time for the part outside.
// Requests come over a socket, a line of JSON each:
//   {"presentation": PATH, "pdf": PATH, "hiddenSlides": BOOL, "notesPages": BOOL}
// and get a line back: {"ok": true, "pages": N} (N as the sandbox's own
// check of the PDF reads it, -1 for a broken one) or {"ok": false, "error":
// TEXT}. The
// first line it writes is {"ready": true} once LibreOffice is loaded, or
// {"ready": false, "error": TEXT}.
#pragma once

#include <QString>

namespace pradelux::office {

// Serves requests on socket until it closes; the return value is the
// process's exit status.
int RunRenderWorker(int socket, const QString& programFolder, const QString& profileFolder);

} // namespace pradelux::office
