#pragma once
// A clock that only moves when someone sleeps on it or advances it: single-
// threaded tests run the system's long waits instantly and exactly. Hooks let
// the bench fire its timed events as virtual time passes.
#include <functional>
#include <mutex>
#include <optional>
#include <random>

#include "platform/Clock.h"

namespace krv {

class VirtualClock : public Clock {
public:
    explicit VirtualClock(uint64_t startMs = 0, uint32_t seed = 1);

    uint64_t monotonicMs() override;
    uint64_t ticks() override;
    uint64_t tickFrequency() override { return 1'000'000ULL; }
    bool sleepMs(uint64_t ms, const StopSource* stop = nullptr) override;
    void sleepUs(uint64_t us) override;
    LocalTime localTime() override;
    // A pinned local time counts as UTC here.
    int64_t epochSeconds() override;
    uint32_t random() override;
    void seed(uint32_t value) override;
    bool runsByItself() const override { return false; }

    void advanceMs(uint64_t ms);
    void advanceUs(uint64_t us);
    // Pins the local time for tests; unpinned it follows the system.
    void pinLocalTime(const LocalTime& t);
    // Called after every advance with the new monotonic time.
    void setOnAdvance(std::function<void(uint64_t nowMs)> hook);
    uint64_t totalSleptMs() const;

private:
    mutable std::mutex mutex_;
    uint64_t nowUs_;
    uint64_t sleptUs_ = 0;
    std::optional<LocalTime> pinned_;
    std::mt19937 random_;
    std::function<void(uint64_t)> onAdvance_;
};

}  // namespace krv
