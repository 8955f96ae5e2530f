// Ctrl+C (SIGINT), SIGTERM and SIGHUP on the command line. They are taken by a
// thread of their own, so that no other thread (the session bus's among
// them) is ever interrupted by one in the middle of its work. Before the run
// is armed, one ends the program at once; once it is, the first one asks the
// run to stop after the row in hand, and a second ends the program at once.
#pragma once

#include <functional>
#include <sys/types.h>

namespace pradelux {

// First thing, before any thread or child process is started.
void CatchInterrupts();
// From now on the first one stops the run; say: tell so on the error output.
void ArmInterrupts(bool say);
bool Interrupted();
// The standard output's reader has gone: the run stops as after an
// interrupt (no further row), and says so at its end. SIGPIPE is ignored
// from CatchInterrupts on, so a write there fails instead.
void StopForClosedOutput();
bool OutputClosed();
// A process of this program's own (a private session bus) that is ended
// along with it when an interrupt ends the program at once.
void EndWithProgram(pid_t pid);
// What to do, on the interrupts' own thread, when one ends the program at
// once (ending the jobs of --jobs, removing the run's folder); an empty
// function for nothing.
void OnEndingAtOnce(std::function<void()> tidy);
// Never returns once an interrupt is ending the program at once: what that
// ending does (ending the jobs among others) must not look to the run like
// rows that ended of themselves, nor let it end first with another status.
void HoldWhileEndingAtOnce();

} // namespace pradelux
