// pradelux-inside: what runs inside the sandbox, with nothing loaded but
// what it needs: the kept LibreOffice's worker (--render-worker) and a
// LibreOffice started afresh (--run).
#include "Inside.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    using namespace pradelux::render::inside;
    if (argc > 1 && std::strcmp(argv[1], "--render-worker") == 0)
        return RunWorker(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--run") == 0)
        return RunProgram(argc, argv);
    std::fputs("pradelux-inside runs inside the renderer's sandbox; pradelux-render starts it.\n", stderr);
    return 2;
}
