// Whether a sandbox was seen to work under the conditions that decide it:
// the boot, the user and user namespace, the kernel's limits on user
// namespaces and bubblewrap itself. The presentation application checks by
// starting one (about a tenth of a second) only when these changed, so that
// it takes its name on the bus, for which the window waits as it starts,
// without that wait. A renderer that finds no sandbox after all forgets the
// result; nothing is ever rendered outside one, whatever was remembered.
#pragma once

namespace pradelux::render::boundary {

bool KnownToWork();
void RememberWorks();
void ForgetWorks();

} // namespace pradelux::render::boundary
