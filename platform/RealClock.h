#pragma once
// The clock on real time. The bench runs it with a scale factor so that long
// device waits pass quickly while keeping their order; the local time of day
// is never scaled.
#include <chrono>
#include <mutex>
#include <random>

#include "platform/Clock.h"

namespace krv {

class RealClock : public Clock {
public:
    explicit RealClock(double scale = 1.0);

    double scale() const override { return scale_; }

    uint64_t monotonicMs() override;
    uint64_t ticks() override;
    uint64_t tickFrequency() override { return 1'000'000'000ULL; }
    bool sleepMs(uint64_t ms, const StopSource* stop = nullptr) override;
    void sleepUs(uint64_t us) override;
    LocalTime localTime() override;
    uint32_t random() override;
    void seed(uint32_t value) override;

private:
    std::chrono::nanoseconds scaledSinceStart() const;

    double scale_;
    std::chrono::steady_clock::time_point start_;
    std::mutex randomMutex_;
    std::mt19937 random_;
};

// Local time of day from the system, shared by the clocks that do not pin it.
LocalTime systemLocalTime();

}  // namespace krv
