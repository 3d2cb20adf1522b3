#pragma once
// A stop request that can be polled and that cuts waits short. Threads are
// owned objects: the owner asks a thread to stop through its StopSource and
// then joins it; nothing is killed from outside.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace krv {

class StopSource {
public:
    void requestStop();
    bool stopRequested() const { return stop_.load(std::memory_order_acquire); }
    // Clears a previous request so the source can serve the next run.
    void reset();

    // Waits up to `realTime` of real time; returns false when a stop request
    // cut the wait short (or was already pending).
    bool waitFor(std::chrono::nanoseconds realTime) const;

    // The stop request of the thread the caller runs on, when that thread's
    // owner made one current (a worker of the window does for its whole
    // body); null otherwise. Calls that wait for another thread take it when
    // they are given none, so stopping a worker also frees every wait it is
    // in, whichever layer the wait is made in.
    static const StopSource* current();

    // Makes `stop` the calling thread's current stop request for its scope.
    class CurrentScope {
    public:
        explicit CurrentScope(const StopSource* stop);
        ~CurrentScope();
        CurrentScope(const CurrentScope&) = delete;
        CurrentScope& operator=(const CurrentScope&) = delete;

    private:
        const StopSource* previous_;
    };

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
};

}  // namespace krv
