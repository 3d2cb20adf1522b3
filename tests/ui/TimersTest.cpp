#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <QThread>

#include "platform/Platform.h"
#include "platform/RealClock.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Dialog.h"

namespace krv::ui {
namespace {

TEST(TimerPeriods, AreDividedByTheClockScaleWithAOneMillisecondFloor)
{
    struct Case {
        uint32_t periodMs;
        double scale;
        int expected;
    };
    const Case cases[] = {
        {80, 1.0, 80},       {2000, 40.0, 50},    {500, 50.0, 10},
        {80, 50.0, 2},       {10, 50.0, 1},       {1, 50.0, 1},
        {0, 1.0, 1},         {800, 0.0, 800},     {800, -3.0, 800},
        {800, std::nan(""), 800},                 {0xFFFFFFFFu, 1.0, INT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.periodMs << " / " << c.scale);
        EXPECT_EQ(TimerSet::scaledPeriod(c.periodMs, c.scale), c.expected);
    }
}

class TimerDialog : public Dialog {
public:
    std::vector<int> fired;          // GUI thread only
    std::vector<QThread*> firedOn;   // GUI thread only
    std::function<void(int)> hook;

protected:
    void onTimer(int id) override
    {
        fired.push_back(id);
        firedOn.push_back(QThread::currentThread());
        if (hook)
            hook(id);
    }
};

int count(const std::vector<int>& v, int id) { return int(std::count(v.begin(), v.end(), id)); }

TEST(DialogTimers, ATimerArmedFromAWorkerFiresOnTheGuiThread)
{
    TimerDialog dialog;
    dialog.setTimeScale(1000.0);
    std::thread worker([&] { EXPECT_TRUE(dialog.setTimer(2, 80)); });
    worker.join();
    EXPECT_TRUE(dialog.isTimerArmed(2));
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return count(dialog.fired, 2) >= 3; }));
    for (QThread* t : dialog.firedOn)
        EXPECT_EQ(t, QThread::currentThread());
}

// Many short timers at once, periods that do and do not divide by the
// scale: no firing comes before its period has passed since the arm, on the
// monotonic clock. Only the lower bound is checked. Each firing re-arms its
// timer after taking the time, so the reference point is never later than
// the timer's own; between two periodic firings it would be, by however long
// the thread was held up before the handler ran.
TEST(DialogTimers, NeverFireBeforeTheirPeriod)
{
    using Clock = std::chrono::steady_clock;
    for (const double scale : {1.0, 3.0, 7.0}) {
        SCOPED_TRACE(scale);
        TimerDialog dialog;
        dialog.setTimeScale(scale);
        constexpr int kTimers = 40;
        constexpr int kFirings = 3;
        std::map<int, uint32_t> periods;
        std::map<int, Clock::time_point> last;
        std::map<int, int> firings;
        std::vector<std::string> early;
        dialog.hook = [&](int id) {
            const auto now = Clock::now();
            const auto exact = std::chrono::duration<double, std::milli>(periods[id] / scale);
            const auto elapsed = std::chrono::duration<double, std::milli>(now - last[id]);
            if (elapsed < exact)
                early.push_back(std::to_string(id) + ": " + std::to_string(elapsed.count()) + " ms of " +
                                std::to_string(exact.count()));
            if (++firings[id] == kFirings) {
                dialog.killTimer(id);
            } else {
                last[id] = Clock::now();
                dialog.setTimer(id, periods[id]);
            }
        };
        for (int id = 1; id <= kTimers; ++id) {
            periods[id] = static_cast<uint32_t>(20 + 7 * id);  // 27 .. 300 ms
            last[id] = Clock::now();
            ASSERT_TRUE(dialog.setTimer(id, periods[id]));
        }
        ASSERT_TRUE(krv::test::runEventsUntil([&] {
            return std::all_of(periods.begin(), periods.end(),
                               [&](const auto& p) { return firings[p.first] >= kFirings; });
        }));
        EXPECT_TRUE(early.empty()) << early.size() << " early, first " << early.front();
    }
}

TEST(DialogTimers, ReArmingReplacesTheEarlierPeriod)
{
    TimerDialog dialog;
    dialog.setTimeScale(1.0);
    dialog.setTimer(3, 10'000'000);
    dialog.setTimer(3, 1);
    EXPECT_EQ(dialog.timerPeriod(3), 1);
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return count(dialog.fired, 3) >= 1; }));
}

TEST(DialogTimers, AKillFromOnTimerOrAfterAWorkersArmHolds)
{
    TimerDialog dialog;
    dialog.setTimeScale(1.0);
    // Timer 4 kills itself on its first tick; timer 5 is armed and killed by
    // a worker before the GUI thread sees either request. Timer 6, much
    // slower than both, ends the test: by then a live 4 or 5 would have
    // fired many times.
    dialog.hook = [&](int id) {
        if (id == 4) {
            EXPECT_TRUE(dialog.killTimer(4));
        }
    };
    dialog.setTimer(4, 1);
    std::thread worker([&] {
        dialog.setTimer(5, 1);
        EXPECT_TRUE(dialog.killTimer(5));
        EXPECT_FALSE(dialog.killTimer(5));
    });
    worker.join();
    dialog.setTimer(6, 100);
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return count(dialog.fired, 6) >= 1; }));
    EXPECT_EQ(count(dialog.fired, 4), 1);
    EXPECT_EQ(count(dialog.fired, 5), 0);
    EXPECT_FALSE(dialog.isTimerArmed(4));
    EXPECT_EQ(dialog.timerPeriod(4), -1);
}

TEST(DialogTimers, ShutdownStopsEveryTimerAndRefusesNewOnes)
{
    TimerDialog dialog;
    dialog.setTimeScale(1.0);
    dialog.setTimer(7, 1);
    dialog.markShutdown();
    EXPECT_FALSE(dialog.isTimerArmed(7));
    EXPECT_FALSE(dialog.setTimer(8, 1));
    bool sentinel = false;
    QTimer::singleShot(50, [&] { sentinel = true; });
    ASSERT_TRUE(krv::test::runEventsUntil([&] { return sentinel; }));
    EXPECT_TRUE(dialog.fired.empty());
}

TEST(DialogTimers, FollowThePlatformClockScaleUnlessGivenOne)
{
    Platform* previous = Platform::currentOrNull();
    PlatformServices services;
    services.clock = std::make_unique<RealClock>(40.0);
    Platform platform("scaled", std::move(services));
    Platform::setCurrent(&platform);

    TimerDialog dialog;
    dialog.setTimer(3, 2000);
    EXPECT_EQ(dialog.timerPeriod(3), 50);
    dialog.setTimeScale(1000.0);
    dialog.setTimer(3, 2000);
    EXPECT_EQ(dialog.timerPeriod(3), 2);
    dialog.killTimer(3);

    Platform::setCurrent(previous);
}

}  // namespace
}  // namespace krv::ui
