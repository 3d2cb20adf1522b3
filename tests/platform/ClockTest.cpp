// The clocks: scaled real time keeps order with real time, sleeps end early
// on a stop request, and the virtual clock moves only when told.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/RealClock.h"
#include "platform/StopSource.h"
#include "platform/VirtualClock.h"

namespace krv {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

uint64_t realMsBetween(steady_clock::time_point a, steady_clock::time_point b)
{
    return static_cast<uint64_t>(std::chrono::duration_cast<milliseconds>(b - a).count());
}

TEST(RealClock, ScaledTimeRunsScaleTimesFasterThanRealTime)
{
    RealClock clock(50);
    auto realBefore = steady_clock::now();
    uint64_t before = clock.monotonicMs();
    std::this_thread::sleep_for(milliseconds(20));
    uint64_t after = clock.monotonicMs();
    auto realAfter = steady_clock::now();
    // Both bounds follow from the order of the readings alone.
    EXPECT_GE(after - before, 50u * 20u - 1u);
    EXPECT_LE(after - before, 50u * (realMsBetween(realBefore, realAfter) + 1u));
}

TEST(RealClock, SleepLastsTheScaledTimeAndNoLess)
{
    RealClock clock(40);
    StopSource stop;
    uint64_t before = clock.monotonicMs();
    auto realBefore = steady_clock::now();
    EXPECT_TRUE(clock.sleepMs(800, &stop));
    EXPECT_GE(clock.monotonicMs() - before, 800u);
    EXPECT_GE(realMsBetween(realBefore, steady_clock::now()), 19u);  // 800 / 40, less rounding
    EXPECT_TRUE(clock.sleepMs(40));
    EXPECT_GE(clock.monotonicMs() - before, 840u);
}

TEST(RealClock, ASleepBelowAMillisecondLastsItsScaledTimeAndNoLess)
{
    RealClock clock(2);
    const uint64_t before = clock.ticks();
    auto realBefore = steady_clock::now();
    for (int i = 0; i < 10; ++i)
        clock.sleepUs(400);
    EXPECT_GE(clock.ticks() - before, 4'000'000u) << "ten sleeps of 400 us, in ns ticks";
    EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(steady_clock::now() - realBefore).count(), 2000)
        << "at scale 2, 4 ms of clock time is 2 ms of real time";
}

TEST(RealClock, StopRequestCutsASleepShort)
{
    RealClock clock(1);
    StopSource stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(20));
        stop.requestStop();
    });
    EXPECT_FALSE(clock.sleepMs(3'600'000, &stop));  // an hour, unless stopped
    stopper.join();
    EXPECT_FALSE(clock.sleepMs(3'600'000, &stop)) << "a pending request ends the next sleep at once";
    stop.reset();
    EXPECT_TRUE(clock.sleepMs(1, &stop));
}

TEST(VirtualClock, MovesOnlyWhenSleptOnOrAdvanced)
{
    VirtualClock clock(1000);
    EXPECT_EQ(clock.monotonicMs(), 1000u);
    EXPECT_EQ(clock.ticks(), 1'000'000u);
    std::vector<uint64_t> seen;
    clock.setOnAdvance([&](uint64_t now) { seen.push_back(now); });

    EXPECT_TRUE(clock.sleepMs(1500));
    clock.advanceMs(250);
    EXPECT_EQ(clock.monotonicMs(), 2750u);
    EXPECT_EQ(clock.totalSleptMs(), 1500u) << "advancing is not sleeping";
    EXPECT_EQ(seen, (std::vector<uint64_t>{2500, 2750}));

    StopSource stop;
    stop.requestStop();
    EXPECT_FALSE(clock.sleepMs(10'000, &stop));
    EXPECT_EQ(clock.monotonicMs(), 2750u) << "a stopped sleep takes no time";
}

TEST(VirtualClock, SleepsBelowAMillisecondAddUpExactly)
{
    VirtualClock clock(0);
    std::vector<uint64_t> seen;
    clock.setOnAdvance([&](uint64_t now) { seen.push_back(now); });
    for (int i = 0; i < 4; ++i)
        clock.sleepUs(250);
    clock.advanceUs(1500);
    EXPECT_EQ(clock.ticks(), 2500u);
    EXPECT_EQ(clock.monotonicMs(), 2u);
    EXPECT_EQ(clock.totalSleptMs(), 1u) << "advancing is not sleeping";
    EXPECT_EQ(seen, (std::vector<uint64_t>{0, 0, 0, 1, 2}));
}

TEST(VirtualClock, PinnedLocalTimeAndSeededRandomRepeat)
{
    VirtualClock a, b;
    LocalTime t;
    t.year = 2026;
    t.month = 2;
    t.day = 28;
    t.hour = 23;
    a.pinLocalTime(t);
    a.sleepMs(3'600'000);
    EXPECT_EQ(a.localTime().year, 2026);
    EXPECT_EQ(a.localTime().hour, 23) << "local time is never moved by the monotonic clock";

    a.seed(42);
    b.seed(42);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a.random(), b.random());
}

}  // namespace
}  // namespace krv
