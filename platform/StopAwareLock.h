#pragma once
// Taking a lock that another thread may hold for a long time (a whole bridge
// reset, a file-system format) without becoming deaf to a stop request.
//
// A mutex that can be waited for with a time-out (WaitableMutex) is, on a
// clock that runs by itself, waited for in short slices of real time: its
// release wakes the waiter at once, and between slices the waiter looks at
// the stop request and the time limit. Many threads polling one lock on the
// bench's fast clock would otherwise spend their time waking each other.
// Any other mutex, and any mutex on a clock that moves only when slept on (a
// test's virtual clock), is tried, and between tries the thread sleeps a
// little on the platform clock, which a stop request cuts short.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/StopSource.h"

namespace krv {

// Polling step between two tries of the lock.
constexpr uint64_t kStopAwareLockPollMs = 5;
// Real time a waiter blocks on the mutex before it looks at the stop request
// and the time limit again: how late a stop request may be heard.
constexpr std::chrono::milliseconds kStopAwareLockSlice{50};

// Locks `mutex`. Returns false, without the lock, when `stop` is requested
// before the lock is won, or when `maxWaitMs` (0 = no limit) of monotonic
// time has passed.
template <class Mutex>
bool lockStopAware(Mutex& mutex, const StopSource* stop, uint64_t maxWaitMs = 0)
{
    constexpr bool kWaitable = requires(Mutex& m, std::chrono::nanoseconds d) {
        { m.try_lock_for(d) } -> std::same_as<bool>;
    };
    Clock& clock = Platform::current().clock();
    const bool block = kWaitable && clock.runsByItself();
    const uint64_t start = clock.monotonicMs();
    for (;;) {
        if (stop && stop->stopRequested())
            return false;
        if (mutex.try_lock())
            return true;
        const uint64_t waitedMs = clock.monotonicMs() - start;
        if (maxWaitMs != 0 && waitedMs >= maxWaitMs)
            return false;
        if (!block) {
            if (!clock.sleepMs(kStopAwareLockPollMs, stop))
                return false;
            continue;
        }
        if constexpr (kWaitable) {
            std::chrono::nanoseconds slice = kStopAwareLockSlice;
            if (maxWaitMs != 0) {
                // The rest of the limit, in real time (rounded up).
                const double restNs = static_cast<double>(maxWaitMs - waitedMs) * 1e6 / clock.scale();
                slice = std::min(slice, std::chrono::nanoseconds(static_cast<int64_t>(std::ceil(restNs))));
            }
            if (mutex.try_lock_for(slice))
                return true;
        }
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
