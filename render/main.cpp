// pradelux-render: every process of the renderer's but the presentation
// application's own. Outside the sandbox: the renderer kept for a session
// (with no option), the launcher of the renderers that take over from it,
// a LibreOffice run once in a sandbox of its own, the check that a sandbox
// can be made, the maker of the profile's template and the page counter
// (see service/Service.h). Inside it: the kept LibreOffice's worker, and
// a LibreOffice started afresh with its copy of the profile (see
// inside/Inside.h).
#include "Inside.h"
#include "Service.h"

#include <QFile>

#include <cstdlib>
#include <cstring>

using namespace pradelux::render;

int main(int argc, char* argv[])
{
    // The sandbox's namespaces are made first, while this process has a
    // single thread.
    const auto is = [&](const char* option) { return argc > 1 && std::strcmp(argv[1], option) == 0; };
    if (is("--run-sandboxed"))
        return service::RunSandboxed(argc, argv);
    if (is("--render-worker"))
        return inside::RunWorker(argc, argv);
    if (is("--with-profile"))
        return inside::RunWithProfile(argc, argv);
    if (argc == 2 && is("--count-pages-server"))
        return service::RunPageCountServer();
    if (argc == 4 && is("--make-profile"))
        return service::RunProfileMaker(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]));
    if (is("--check-sandbox"))
        return service::CheckSandbox();
    if (argc == 3 && is("--launcher"))
        return service::RunLauncher(std::atoi(argv[2]));
    // pradelux-render --after PID: the renderer that PID started to take
    // over from it.
    return service::RunService(argc, argv, argc == 3 && is("--after") ? std::atoll(argv[2]) : 0);
}
