// pradelux-render: the renderer's processes outside the sandbox: the
// renderer kept for a session (with no option), the renderers that take
// over from it and their launcher, a LibreOffice run once in a sandbox of
// its own, the check that a sandbox can be made and the maker of the
// profile's template (see service/Service.h). What runs inside the sandbox
// is pradelux-inside, and the page counter pradelux-pages.
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
    if (argc == 4 && is("--make-profile"))
        return service::RunProfileMaker(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]));
    if (is("--check-sandbox"))
        return service::CheckSandbox();
    if (argc == 3 && is("--launcher"))
        return service::RunLauncher(std::atoi(argv[2]));
    // pradelux-render --after PID FD: the renderer that PID had started to
    // take over from it, with its socket to their launcher at FD.
    if (argc == 4 && is("--after"))
        return service::RunService(argc, argv, std::atoll(argv[2]), std::atoi(argv[3]));
    return service::RunService(argc, argv, 0, -1);
}
