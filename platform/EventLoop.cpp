// Yielding to the event loop while the program waits.
#include "EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace pradelux {

void DoEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

ThrottledYield::ThrottledYield(std::function<void()> yield, int intervalMs)
    : m_yield(std::move(yield)), m_intervalMs(intervalMs)
{
    m_since.start();
}

void ThrottledYield::operator()()
{
    if (m_since.elapsed() < m_intervalMs)
        return;
    m_yield();
    m_since.restart();
}

void Pause(double seconds)
{
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000.0), Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(deadline.remainingTime(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

} // namespace pradelux
