#pragma once
// Taking a lock that another thread may hold for a long time (a whole bridge
// reset, a file-system format) without becoming deaf to a stop request: the
// lock is tried, and between tries the thread sleeps a little on the
// platform clock, which a stop request cuts short.
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/StopSource.h"

namespace krv {

// Polling step between two tries of the lock.
constexpr uint64_t kStopAwareLockPollMs = 5;

// Locks `mutex`. Returns false, without the lock, when `stop` is requested
// before the lock is won, or when `maxWaitMs` (0 = no limit) of monotonic
// time has passed.
template <class Mutex>
bool lockStopAware(Mutex& mutex, const StopSource* stop, uint64_t maxWaitMs = 0)
{
    Clock& clock = Platform::current().clock();
    const uint64_t start = clock.monotonicMs();
    for (;;) {
        if (stop && stop->stopRequested())
            return false;
        if (mutex.try_lock())
            return true;
        if (maxWaitMs != 0 && clock.monotonicMs() - start >= maxWaitMs)
            return false;
        if (!clock.sleepMs(kStopAwareLockPollMs, stop))
            return false;
    }
}

// The guard form: owns the lock when ownsLock() is true and releases it when
// it goes out of scope.
template <class Mutex = std::mutex>
class StopAwareLock {
public:
    StopAwareLock(Mutex& mutex, const StopSource* stop, uint64_t maxWaitMs = 0)
        : mutex_(mutex), owns_(lockStopAware(mutex, stop, maxWaitMs))
    {
    }
    ~StopAwareLock()
    {
        if (owns_)
            mutex_.unlock();
    }
    StopAwareLock(const StopAwareLock&) = delete;
    StopAwareLock& operator=(const StopAwareLock&) = delete;

    bool ownsLock() const { return owns_; }
    explicit operator bool() const { return owns_; }

private:
    Mutex& mutex_;
    bool owns_;
};

}  // namespace krv
