#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/StopAwareLock.h"
#include "platform/StopSource.h"
#include "tests/support/TestPlatform.h"

namespace {

// Holds a mutex on another thread until released.
class Holder {
public:
    explicit Holder(std::mutex& m)
        : thread_([this, &m] {
              std::lock_guard<std::mutex> hold(m);
              std::unique_lock<std::mutex> lock(gate_);
              held_ = true;
              cv_.notify_all();
              cv_.wait(lock, [this] { return release_; });
          })
    {
        std::unique_lock<std::mutex> lock(gate_);
        cv_.wait(lock, [this] { return held_; });
    }
    ~Holder()
    {
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

TEST(StopAwareLock, FreeLockIsTaken)
{
    krv::test::TestPlatform platform;
    std::mutex m;
    krv::StopSource stop;
    {
        krv::StopAwareLock lock(m, &stop);
        EXPECT_TRUE(lock.ownsLock());
    }
    EXPECT_TRUE(m.try_lock());
    m.unlock();
}

TEST(StopAwareLock, HeldLockGivesUpOnStopOrLimit)
{
    krv::test::TestPlatform platform;
    std::mutex m;
    Holder holder(m);

    krv::StopSource stop;
    stop.requestStop();
    EXPECT_FALSE(krv::lockStopAware(m, &stop));

    // Polling sleeps on the virtual clock, so the limit passes without any
    // real waiting.
    const uint64_t before = platform.virtualClock().monotonicMs();
    EXPECT_FALSE(krv::lockStopAware(m, nullptr, 200));
    EXPECT_GE(platform.virtualClock().monotonicMs() - before, 200u);
}

}  // namespace
