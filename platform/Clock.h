#pragma once
// Time and randomness as the system sees them. Stands in for Sleep,
// GetTickCount, the performance counter, the local time of day and rand().
#include <cstdint>
#include <ctime>

namespace krv {

class StopSource;

struct LocalTime {
    int year = 0;    // e.g. 2026
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int dayOfWeek = 0;  // 0 = Sunday
};

class Clock {
public:
    virtual ~Clock() = default;

    // Monotonic milliseconds since an arbitrary start (the bench may scale it).
    virtual uint64_t monotonicMs() = 0;
    // High-resolution monotonic ticks and their frequency per second.
    virtual uint64_t ticks() = 0;
    virtual uint64_t tickFrequency() = 0;
    // Sleeps `ms` of monotonic time. Returns false when `stop` was requested
    // before or during the sleep (the sleep is cut short then).
    virtual bool sleepMs(uint64_t ms, const StopSource* stop = nullptr) = 0;
    // Sleeps `us` microseconds of monotonic time: spans below a millisecond,
    // such as a device moving a few hundred KiB. A clock without a finer
    // sleep rounds up to whole milliseconds.
    virtual void sleepUs(uint64_t us) { sleepMs((us + 999) / 1000); }
    // Wall-clock local time; never scaled.
    virtual LocalTime localTime() = 0;
    // Wall-clock seconds since 1970-01-01 00:00 UTC (time()); never scaled.
    virtual int64_t epochSeconds() { return static_cast<int64_t>(std::time(nullptr)); }
    // Pseudo-random source (rand() stand-in); seedable for repeatable tests.
    virtual uint32_t random() = 0;
    virtual void seed(uint32_t value) = 0;
    // How many times faster than real time the monotonic time runs (the
    // bench's time scale); GUI timers divide their periods by it.
    virtual double scale() const { return 1.0; }
    // Whether monotonic time passes by itself, so that a thread may block in
    // real time for a span of it; a test's virtual clock moves only when
    // someone sleeps on it.
    virtual bool runsByItself() const { return true; }
};

}  // namespace krv
