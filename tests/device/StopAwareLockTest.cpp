#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/RealClock.h"
#include "platform/StopAwareLock.h"
#include "platform/StopSource.h"
#include "platform/WaitableMutex.h"
#include "tests/support/TestPlatform.h"

namespace {

using namespace std::chrono_literals;

// Holds a mutex on another thread until released.
template <class Mutex>
class Holder {
public:
    explicit Holder(Mutex& m)
        : thread_([this, &m] {
              std::lock_guard<Mutex> hold(m);
              std::unique_lock<std::mutex> lock(gate_);
              held_ = true;
              cv_.notify_all();
              cv_.wait(lock, [this] { return release_; });
          })
    {
        std::unique_lock<std::mutex> lock(gate_);
        cv_.wait(lock, [this] { return held_; });
    }
    ~Holder() { release(); }
    void release()
    {
        if (!thread_.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(gate_);
            release_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex gate_;
    std::condition_variable cv_;
    bool held_ = false;
    bool release_ = false;
    std::thread thread_;
};

// A clock that runs by itself, fast as on a bench, and counts the sleeps
// taken on it.
class CountingClock : public krv::RealClock {
public:
    using RealClock::RealClock;
    bool sleepMs(uint64_t ms, const krv::StopSource* stop) override
    {
        ++sleeps;
        return RealClock::sleepMs(ms, stop);
    }
    std::atomic<int> sleeps{0};
};

class RunningClockPlatform : public krv::Platform {
public:
    RunningClockPlatform() : Platform("running", services()), previous_(currentOrNull()) { setCurrent(this); }
    ~RunningClockPlatform() override { setCurrent(previous_); }
    CountingClock& countingClock() { return static_cast<CountingClock&>(clock()); }

private:
    static krv::PlatformServices services()
    {
        krv::PlatformServices s;
        s.clock = std::make_unique<CountingClock>(100.0);
        return s;
    }
    krv::Platform* previous_;
};

// A waiter that blocks until the wait ends and records how it ended.
struct Waiter {
    Waiter(krv::WaitableMutex& m, const krv::StopSource* stop, uint64_t maxWaitMs)
        : thread([this, &m, stop, maxWaitMs] {
              started = true;
              krv::StopAwareLock lock(m, stop, maxWaitMs);
              taken = lock.ownsLock();
              done = true;
          })
    {
        while (!started)
            std::this_thread::yield();
        // Time to get into the wait; a waiter that is slower to get there
        // only makes the case weaker, never wrong.
        std::this_thread::sleep_for(20ms);
    }
    ~Waiter()
    {
        if (thread.joinable())
            thread.join();
    }
    std::atomic<bool> started{false};
    std::atomic<bool> taken{false};
    std::atomic<bool> done{false};
    std::thread thread;
};

TEST(WaitableMutex, ExcludesAndHandsOverOnRelease)
{
    krv::WaitableMutex m;
    ASSERT_TRUE(m.try_lock());
    EXPECT_FALSE(m.try_lock());
    EXPECT_FALSE(m.try_lock_for(1ms));

    // A waiter with a long time-out gets the mutex on its release, not at the
    // end of the time-out.
    std::atomic<bool> waiting{false};
    bool got = false;
    std::chrono::steady_clock::duration waited{};
    std::thread waiter([&] {
        waiting = true;
        const auto before = std::chrono::steady_clock::now();
        got = m.try_lock_for(120s);
        waited = std::chrono::steady_clock::now() - before;
        if (got)
            m.unlock();
    });
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(20ms);
    m.unlock();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_LT(waited, 60s);

    // Every way of taking it excludes the others (the sanitizer sees a race
    // on the counter otherwise).
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (t == 0) {
                    std::lock_guard hold(m);
                    ++counter;
                } else if (t == 1) {
                    while (!m.try_lock())
                        std::this_thread::yield();
                    ++counter;
                    m.unlock();
                } else {
                    while (!m.try_lock_for(1ms)) {
                    }
                    ++counter;
                    m.unlock();
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(counter, 2000);
}

template <class Mutex>
class StopAwareLockOf : public testing::Test {};
using Mutexes = testing::Types<std::mutex, krv::WaitableMutex>;
TYPED_TEST_SUITE(StopAwareLockOf, Mutexes);

TYPED_TEST(StopAwareLockOf, FreeLockIsTaken)
{
    krv::test::TestPlatform platform;
    TypeParam m;
    krv::StopSource stop;
    {
        krv::StopAwareLock lock(m, &stop);
        EXPECT_TRUE(lock.ownsLock());
        EXPECT_FALSE(m.try_lock());
    }
    EXPECT_TRUE(m.try_lock());
    m.unlock();
}

// On the virtual clock every mutex is polled: only sleeping on the clock
// moves it, so the limit passes without any real waiting.
TYPED_TEST(StopAwareLockOf, HeldLockGivesUpOnStopOrLimitOnTheVirtualClock)
{
    krv::test::TestPlatform platform;
    TypeParam m;
    Holder<TypeParam> holder(m);

    krv::StopSource stop;
    stop.requestStop();
    EXPECT_FALSE(krv::lockStopAware(m, &stop));

    const uint64_t before = platform.virtualClock().monotonicMs();
    EXPECT_FALSE(krv::lockStopAware(m, nullptr, 200));
    EXPECT_GE(platform.virtualClock().monotonicMs() - before, 200u);
}

// On a running clock a waiter blocks on the mutex and takes it when it is
// released, without sleeping on the clock between tries.
TEST(StopAwareLock, RunningClockWaiterTakesTheLockOnReleaseWithoutPolling)
{
    RunningClockPlatform platform;
    krv::WaitableMutex m;
    Holder<krv::WaitableMutex> holder(m);
    krv::StopSource stop;
    Waiter waiter(m, &stop, 0);
    EXPECT_FALSE(waiter.done);
    holder.release();
    waiter.thread.join();
    EXPECT_TRUE(waiter.taken);
    EXPECT_EQ(platform.countingClock().sleeps, 0);
}

// A stop request ends a blocked wait long before its limit (an hour of bench
// time, 36 s of real time here), and the limit ends it without any stop.
TEST(StopAwareLock, RunningClockWaitEndsOnStopOrLimit)
{
    RunningClockPlatform platform;
    krv::Clock& clock = platform.clock();
    krv::WaitableMutex m;
    Holder<krv::WaitableMutex> holder(m);
    constexpr uint64_t kHourMs = 3'600'000;
    {
        krv::StopSource stop;
        const uint64_t before = clock.monotonicMs();
        Waiter waiter(m, &stop, kHourMs);
        EXPECT_FALSE(waiter.done);
        stop.requestStop();
        waiter.thread.join();
        EXPECT_FALSE(waiter.taken);
        EXPECT_LT(clock.monotonicMs() - before, kHourMs / 2);
    }
    {
        // The stop request only keeps a broken limit from hanging the test.
        krv::StopSource watchdog;
        std::atomic<bool> ended{false};
        std::thread watch([&] {
            for (int i = 0; i < 600 && !ended; ++i)
                std::this_thread::sleep_for(50ms);
            watchdog.requestStop();
        });
        const uint64_t before = clock.monotonicMs();
        EXPECT_FALSE(krv::lockStopAware(m, &watchdog, 2000));
        const uint64_t waited = clock.monotonicMs() - before;
        EXPECT_FALSE(watchdog.stopRequested());
        ended = true;
        watch.join();
        EXPECT_GE(waited, 2000u);
    }
    EXPECT_EQ(platform.countingClock().sleeps, 0);
}

}  // namespace
