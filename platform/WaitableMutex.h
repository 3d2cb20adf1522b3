#pragma once
// A mutex whose waiters can block for a bounded time and wake the moment it
// is released. Built from a std::mutex and a std::condition_variable rather
// than on std::timed_mutex: the thread sanitizer sees both of those, while it
// does not see a timed lock of a std::timed_mutex (it then reports every
// later unlock as the unlock of an unlocked mutex).
//
// It meets the Lockable requirements, so std::lock_guard and std::unique_lock
// take it as they take a std::mutex.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace krv {

class WaitableMutex {
public:
    WaitableMutex() = default;
    WaitableMutex(const WaitableMutex&) = delete;
    WaitableMutex& operator=(const WaitableMutex&) = delete;

    void lock()
    {
        std::unique_lock<std::mutex> state(state_);
        released_.wait(state, [this] { return !held_; });
        held_ = true;
    }

    bool try_lock()
    {
        std::lock_guard<std::mutex> state(state_);
        if (held_)
            return false;
        held_ = true;
        return true;
    }

    // Takes the lock when it is free or is released within `realTime`;
    // returns false, without it, when that time passed first.
    bool try_lock_for(std::chrono::nanoseconds realTime)
    {
        std::unique_lock<std::mutex> state(state_);
        if (!released_.wait_for(state, realTime, [this] { return !held_; }))
            return false;
        held_ = true;
        return true;
    }

    void unlock()
    {
        // Notified under the state lock: the thread that takes the mutex next
        // may destroy it as soon as it has released it again.
        std::lock_guard<std::mutex> state(state_);
        held_ = false;
        released_.notify_one();
    }

private:
    std::mutex state_;
    std::condition_variable released_;
    bool held_ = false;
};

}  // namespace krv
