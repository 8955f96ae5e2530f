// pradelux: the window, or with --export (--help, --version) the command
// line. Each front end has a room of its own; this only chooses.
#include "CommandLine.h"
#include "TerminalMain.h"
#include "WindowMain.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    using namespace pradelux;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (WantsCommandLine(arguments))
        return RunTerminal(argc, argv, arguments);
    // Without a display Qt would abort with a text of its own; the user is
    // told what does work instead.
    if (!HasDisplay(arguments)) {
        std::fputs("pradelux: there is no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "pradelux --export works without one.\n",
                   stderr);
        return 1;
    }
    return RunWindow(argc, argv);
}
