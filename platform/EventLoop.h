// Yielding to the event loop while the program waits.
#pragma once

namespace pradelux {

// Handles the window events that are pending, then returns.
void DoEvents();

// Returns after the given number of seconds, handling events all the while.
// The loop sleeps until the next event or the deadline, so waiting costs no
// processor time. Measured on a monotonic clock: changes of the time of day,
// midnight included, do not shorten or stretch it.
void Pause(double seconds);

} // namespace pradelux
