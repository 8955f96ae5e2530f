// Pause keeps the window working and does not keep a processor busy.
#include "EventLoop.h"
#include "CpuTime.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace pradelux;

TEST(Pause, HandlesEventsWhileWaitingAndSleepsBetweenThem)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = test::processCpuSeconds();
    Pause(0.6);
    const double cpu = test::processCpuSeconds() - cpuBefore;

    EXPECT_GE(wall.elapsed(), 600);
    EXPECT_GE(ticks, 5);
    // A polling loop would burn the whole 0.6 s; sleeping costs next to nothing.
    EXPECT_LT(cpu, 0.15);
}

TEST(Pause, NestedPausesEachLastTheirOwnTime)
{
    QElapsedTimer inner;
    bool ran = false;
    QTimer::singleShot(20, [&] {
        inner.start();
        Pause(0.2);
        ran = inner.elapsed() >= 200;
    });
    QElapsedTimer outer;
    outer.start();
    Pause(0.1);
    EXPECT_GE(outer.elapsed(), 100);
    EXPECT_TRUE(ran);
}
