// The system calls code running as LibreOffice may not make: what no
// rendering needs and what could widen the sandbox or reach past it (new
// namespaces, mounts, tracing, keyrings, kernel modules, typing into a
// terminal, socket families other than local, IP and netlink, memory no
// process holds: memfds and System V shared memory).
#pragma once

namespace pradelux::render::boundary {

// The filter as the BPF program bubblewrap loads (--seccomp FD): a file
// descriptor to read from its start, or -1 when it cannot be made.
int SyscallFilterProgram();

} // namespace pradelux::render::boundary
