// The processes inside the sandbox (pradelux-inside), each an entry that
// main() calls with its command line; each returns the process's exit
// status. Both bound the processes the sandbox may run and copy the
// profile's template into the sandbox's private home first.
#pragma once

namespace pradelux::render::inside {

// pradelux-inside --render-worker FD PROGRAM TEMPLATE: the kept
// LibreOffice, printing one presentation at a time for the service outside,
// which asks on FD.
int RunWorker(int argc, char* argv[]);
// pradelux-inside --with-profile TEMPLATE -- PROGRAM ARGUMENTS...:
// LibreOffice started afresh for one presentation.
int RunWithProfile(int argc, char* argv[]);

} // namespace pradelux::render::inside
