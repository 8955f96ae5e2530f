// The program's start with its window.
#pragma once

#include <QStringList>

namespace pradelux {

// A display the window can be shown on: X11 or Wayland, or a platform the
// user chose (QT_QPA_PLATFORM, -platform: offscreen, vnc…). arguments: argv
// without the program's name.
bool HasDisplay(const QStringList& arguments);

// Shows the window and runs it until it ends; returns the exit status. The
// arguments a file manager's "Open With" passes become rows.
int RunWindow(int argc, char* argv[]);

} // namespace pradelux
