// Child processes of this program: started with the signals a new program
// expects, and, where they must not outlive it, ended with it.
#pragma once

namespace pradelux {

// For a program started in the background (QProcess::startDetached runs no
// child modifier): Ctrl+C, SIGTERM and SIGHUP end it again, and SIGPIPE is
// as by default, whatever the program that started it had done with them.
void UnblockInterrupts();
// For a child process, between fork and exec: the signals as a new program
// expects them (none blocked, SIGPIPE as by default, whatever this program
// did with Ctrl+C, SIGTERM and SIGHUP), and no terminal's Ctrl+C (a session
// of its own).
void DetachFromInterrupts();
// The same, for a child that must not outlive this program however it ends
// (its private session bus, the jobs of --jobs): it is killed when this
// program's main thread ends.
void DetachAndEndWithParent();

} // namespace pradelux
