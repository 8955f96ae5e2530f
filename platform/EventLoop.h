// Yielding to the event loop while the program waits.
#pragma once

#include <QElapsedTimer>
#include <functional>

namespace pradelux {

// Handles the window events that are pending, then returns.
void DoEvents();

// Returns after the given number of seconds, handling events all the while.
// The loop sleeps until the next event or the deadline, so waiting costs no
// processor time. Measured on a monotonic clock: changes of the time of day,
// midnight included, do not shorten or stretch it.
void Pause(double seconds);

// Calls the yield it wraps at most once per interval. A long scan that would
// yield many thousand times a second stays just as responsive this way, and
// the window is not laid out again for every folder.
class ThrottledYield
{
public:
    explicit ThrottledYield(std::function<void()> yield, int intervalMs = 20);
    void operator()();

private:
    std::function<void()> m_yield;
    int m_intervalMs;
    QElapsedTimer m_since;
};

} // namespace pradelux
