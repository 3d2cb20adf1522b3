#include "platform/VirtualClock.h"

#include <chrono>

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
        sleptUs_ += ms * 1000;
    }
    advanceMs(ms);
    return !(stop && stop->stopRequested());
}

void VirtualClock::sleepUs(uint64_t us)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleptUs_ += us;
    }
    advanceUs(us);
}

void VirtualClock::advanceMs(uint64_t ms) { advanceUs(ms * 1000); }

void VirtualClock::advanceUs(uint64_t us)
{
    std::function<void(uint64_t)> hook;
    uint64_t now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        nowUs_ += us;
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
    return sleptUs_ / 1000;
}

int64_t VirtualClock::epochSeconds()
{
    using namespace std::chrono;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pinned_)
        return Clock::epochSeconds();
    const LocalTime& t = *pinned_;
    const sys_days date =
        year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
    return static_cast<int64_t>(date.time_since_epoch().count()) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
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
