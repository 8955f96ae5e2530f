// The processes inside the sandbox (pradelux-inside), each an entry that
// main() calls with its command line; each returns the process's exit
// status. Both bound the processes the sandbox may run and copy the
// profile's template (where there is one) into the sandbox's private home
// first. Their standard input is the sandbox's bond to the process that
// started it (see Root::start).
#pragma once

namespace pradelux::render::inside {

// Kills every other process of the sandbox but its first, bubblewrap's,
// which then ends: this process is the sandbox's program, the second
// process of the sandbox's own process namespace. (Anywhere else this does
// nothing.)
void EndSandbox();

// pradelux-inside --render-worker FD PROGRAM TEMPLATE: the kept
// LibreOffice, printing one presentation at a time for the service outside,
// which asks on FD.
int RunWorker(int argc, char* argv[]);
// pradelux-inside --run [TEMPLATE] -- PROGRAM ARGUMENTS...: LibreOffice
// started afresh, for one presentation with a copy of TEMPLATE, or to make
// the template itself; it is killed should the process outside that
// started the sandbox end first.
int RunProgram(int argc, char* argv[]);

} // namespace pradelux::render::inside
