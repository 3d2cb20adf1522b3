#include "platform/StopSource.h"

namespace krv {

namespace {

thread_local const StopSource* t_current = nullptr;

}  // namespace

const StopSource* StopSource::current() { return t_current; }

StopSource::CurrentScope::CurrentScope(const StopSource* stop) : previous_(t_current) { t_current = stop; }

StopSource::CurrentScope::~CurrentScope() { t_current = previous_; }

void StopSource::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true, std::memory_order_release);
    }
    cv_.notify_all();
}

void StopSource::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(false, std::memory_order_release);
}

bool StopSource::waitFor(std::chrono::nanoseconds realTime) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_for(lock, realTime, [this] { return stop_.load(std::memory_order_acquire); });
}

}  // namespace krv
