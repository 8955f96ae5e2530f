// The part of pradelux-render that runs inside the sandbox: LibreOffice,
// loaded once, printing one presentation at a time for the part outside.
// Requests come over a socket, a line of JSON each:
//   {"id": N, "presentation": PATH, "pdf": PATH, "filter": OPTIONS}
// (OPTIONS: the PDF filter's, see PdfFilterOptions)
// and get a line back that names the request: {"id": N, "ok": true} or
// {"id": N, "ok": false, "error": TEXT}; the PDF itself is checked and its
// pages counted outside. The first line it writes is {"ready": true} once
// LibreOffice is loaded, or {"ready": false, "error": TEXT}.
#pragma once

#include <QString>

namespace pradelux::office {

// Serves requests on socket until it closes; the return value is the
// process's exit status.
// profileFolder: LibreOffice's own copy of the profile.
int RunRenderWorker(int socket, const QString& programFolder, const QString& profileFolder);

} // namespace pradelux::office
