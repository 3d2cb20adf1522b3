#include "platform/RealClock.h"

#include <ctime>
#include <thread>

#include "platform/StopSource.h"

namespace krv {

RealClock::RealClock(double scale)
    : scale_(scale > 0 ? scale : 1.0), start_(std::chrono::steady_clock::now()), random_(std::random_device{}())
{
}

std::chrono::nanoseconds RealClock::scaledSinceStart() const
{
    auto real = std::chrono::steady_clock::now() - start_;
    return std::chrono::nanoseconds(static_cast<int64_t>(
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(real).count()) * scale_));
}

uint64_t RealClock::monotonicMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(scaledSinceStart()).count());
}

uint64_t RealClock::ticks() { return static_cast<uint64_t>(scaledSinceStart().count()); }

bool RealClock::sleepMs(uint64_t ms, const StopSource* stop)
{
    auto real = std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(ms) * 1e6 / scale_));
    if (stop) {
        if (stop->stopRequested())
            return false;
        return stop->waitFor(real);
    }
    std::this_thread::sleep_for(real);
    return true;
}

void RealClock::sleepUs(uint64_t us)
{
    std::this_thread::sleep_for(std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(us) * 1e3 / scale_)));
}

LocalTime systemLocalTime()
{
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec;
    lt.millisecond = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    lt.dayOfWeek = tm.tm_wday;
    return lt;
}

LocalTime RealClock::localTime() { return systemLocalTime(); }

uint32_t RealClock::random()
{
    std::lock_guard<std::mutex> lock(randomMutex_);
    return random_();
}

void RealClock::seed(uint32_t value)
{
    std::lock_guard<std::mutex> lock(randomMutex_);
    random_.seed(value);
}

}  // namespace krv
