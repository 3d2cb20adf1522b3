#pragma once
// Timers by id (SetTimer / KillTimer with OnTimer). Any thread may arm or
// kill a timer; it always fires on the GUI thread. Arming an id that is
// already armed replaces it and starts its period afresh. The last arm or
// kill made, from whatever thread, is the one that holds: a kill is never
// overtaken by an earlier arm still on its way to the GUI thread, and a
// timer whose kill is on its way no longer fires.
//
// Periods are in the system's milliseconds, which run faster on a scaled
// bench clock: a period is divided by the clock's scale (at least 1 ms), so
// timers keep their place among the device waits.
//
// A timer never fires before its period has passed on the monotonic clock
// (a give-up must not come before its time-out): the periods are rounded
// up, the underlying timers are precise ones, and a firing that still comes
// early is held back for the rest of the period.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <QObject>

class QTimer;

namespace krv::ui {

class TimerSet : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(int id)>;

    // The GUI thread is the thread that builds the object.
    explicit TimerSet(Handler onTimer, QObject* parent = nullptr);
    ~TimerSet() override;

    // 0 (the default) follows Platform::current().clock().scale() at the
    // moment a timer is armed; a positive value is used as given.
    void setScale(double scale);

    // Any thread. False when the set is closed.
    bool arm(int id, uint32_t periodMs);
    // Any thread. False when the id was not armed.
    bool kill(int id);
    // Any thread: kills every timer and refuses new ones (the exit path).
    void close();

    bool isArmed(int id) const;
    // The real-time period in ms the id runs with, or -1 when not armed.
    int period(int id) const;

    // A system period in real-time ms under `scale`, rounded up; a scale
    // that is not a positive number counts as 1.
    static int scaledPeriod(uint32_t periodMs, double scale);

protected:
    bool event(QEvent* event) override;

private:
    struct Wanted {
        bool armed = false;
        int periodMs = 0;                 // real time, rounded up
        std::chrono::nanoseconds period{};  // real time, exact
        uint64_t generation = 0;
    };
    struct Running {
        QTimer* timer = nullptr;
        uint64_t generation = 0;
        std::chrono::steady_clock::time_point due;
    };

    void request(int id, bool armed, int periodMs, std::chrono::nanoseconds period);
    void apply(int id);  // GUI thread
    void fired(int id);  // GUI thread
    double currentScale() const;
    static std::chrono::nanoseconds exactPeriod(uint32_t periodMs, double scale);
    static int ceilMs(std::chrono::nanoseconds span);

    Handler onTimer_;
    std::atomic<double> scale_{0.0};
    std::atomic<bool> closed_{false};
    mutable std::mutex mutex_;
    std::map<int, Wanted> wanted_;  // guarded by mutex_
    uint64_t nextGeneration_ = 1;   // guarded by mutex_
    std::map<int, Running> running_;  // GUI thread only
};

}  // namespace krv::ui
