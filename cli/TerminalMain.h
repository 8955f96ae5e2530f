// The program's start in a terminal or a script: pradelux --export, --help,
// --version. No window and no display.
#pragma once

#include <QStringList>

namespace pradelux {

// arguments: argv without the program's name. Returns the exit status.
int RunTerminal(int argc, char* argv[], const QStringList& arguments);

} // namespace pradelux
