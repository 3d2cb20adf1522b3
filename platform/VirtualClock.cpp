#include "platform/VirtualClock.h"

#include "platform/RealClock.h"
#include "platform/StopSource.h"

namespace krv {

VirtualClock::VirtualClock(uint64_t startMs, uint32_t seedValue) : nowUs_(startMs * 1000), random_(seedValue) {}

uint64_t VirtualClock::monotonicMs()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nowUs_ / 1000;
}

uint64_t VirtualClock::ticks()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nowUs_;
}

bool VirtualClock::sleepMs(uint64_t ms, const StopSource* stop)
{
    if (stop && stop->stopRequested())
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleptMs_ += ms;
    }
    advanceMs(ms);
    return !(stop && stop->stopRequested());
}

void VirtualClock::advanceMs(uint64_t ms)
{
    std::function<void(uint64_t)> hook;
    uint64_t now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        nowUs_ += ms * 1000;
        now = nowUs_ / 1000;
        hook = onAdvance_;
    }
    if (hook)
        hook(now);
}

LocalTime VirtualClock::localTime()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pinned_)
            return *pinned_;
    }
    return systemLocalTime();
}

void VirtualClock::pinLocalTime(const LocalTime& t)
{
    std::lock_guard<std::mutex> lock(mutex_);
    pinned_ = t;
}

void VirtualClock::setOnAdvance(std::function<void(uint64_t)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    onAdvance_ = std::move(hook);
}

uint64_t VirtualClock::totalSleptMs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sleptMs_;
}

uint32_t VirtualClock::random()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return random_();
}

void VirtualClock::seed(uint32_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    random_.seed(value);
}

}  // namespace krv
