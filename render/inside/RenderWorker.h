// LibreOffice kept loaded inside the sandbox, printing one presentation at a
// time for the service outside: a Job a line, each answered with Done, once
// Ready has been said (see Protocol.h). The PDF itself is checked and its
// pages counted outside.
#pragma once

#include <QString>

namespace pradelux::render::inside {

// Serves jobs on socket until it closes; the return value is the process's
// exit status. profileFolder: LibreOffice's own copy of the profile.
int RunRenderWorker(int socket, const QString& programFolder, const QString& profileFolder);

} // namespace pradelux::render::inside
