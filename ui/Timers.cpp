#include "ui/Timers.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <QThread>
#include <QTimer>

#include "platform/Platform.h"
#include "ui/QueuedCall.h"

namespace krv::ui {

TimerSet::TimerSet(Handler onTimer, QObject* parent) : QObject(parent), onTimer_(std::move(onTimer)) {}

TimerSet::~TimerSet() { closed_.store(true, std::memory_order_release); }

void TimerSet::setScale(double scale) { scale_.store(scale, std::memory_order_release); }

int TimerSet::scaledPeriod(uint32_t periodMs, double scale)
{
    if (!(scale > 0.0) || !std::isfinite(scale))
        scale = 1.0;
    const double ms = std::ceil(double(periodMs) / scale);
    if (ms < 1.0)
        return 1;
    if (ms > double(INT_MAX))
        return INT_MAX;
    return int(ms);
}

std::chrono::nanoseconds TimerSet::exactPeriod(uint32_t periodMs, double scale)
{
    if (!(scale > 0.0) || !std::isfinite(scale))
        scale = 1.0;
    return std::chrono::nanoseconds(static_cast<int64_t>(std::ceil(double(periodMs) * 1e6 / scale)));
}

int TimerSet::ceilMs(std::chrono::nanoseconds span)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(span).count();
    return static_cast<int>(std::clamp<int64_t>(ms, 1, INT_MAX));
}

double TimerSet::currentScale() const
{
    const double given = scale_.load(std::memory_order_acquire);
    if (given > 0.0)
        return given;
    Platform* platform = Platform::currentOrNull();
    return platform ? platform->clock().scale() : 1.0;
}

bool TimerSet::event(QEvent* event) { return runQueuedCall(event) || QObject::event(event); }

bool TimerSet::arm(int id, uint32_t periodMs)
{
    if (closed_.load(std::memory_order_acquire))
        return false;
    const double scale = currentScale();
    request(id, true, scaledPeriod(periodMs, scale), exactPeriod(periodMs, scale));
    return true;
}

bool TimerSet::kill(int id)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = wanted_.find(id);
        if (it == wanted_.end() || !it->second.armed)
            return false;
    }
    request(id, false, 0, {});
    return true;
}

void TimerSet::close()
{
    closed_.store(true, std::memory_order_release);
    std::vector<int> ids;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, wanted] : wanted_) {
            if (wanted.armed)
                ids.push_back(id);
        }
    }
    for (int id : ids)
        request(id, false, 0, {});
}

bool TimerSet::isArmed(int id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = wanted_.find(id);
    return it != wanted_.end() && it->second.armed;
}

int TimerSet::period(int id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = wanted_.find(id);
    return it != wanted_.end() && it->second.armed ? it->second.periodMs : -1;
}

void TimerSet::request(int id, bool armed, int periodMs, std::chrono::nanoseconds period)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_[id] = Wanted{armed, periodMs, period, nextGeneration_++};
    }
    if (QThread::currentThread() == thread())
        apply(id);
    else
        postQueuedCall(this, [this, id] { apply(id); });
}

void TimerSet::apply(int id)
{
    Wanted wanted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted = wanted_[id];
    }
    Running& running = running_[id];
    if (running.generation == wanted.generation)
        return;  // an earlier request already brought this one in
    running.generation = wanted.generation;
    if (!wanted.armed) {
        if (running.timer)
            running.timer->stop();
        return;
    }
    if (!running.timer) {
        // Stopped, never deleted, on a kill: OnTimer may kill its own timer.
        // Coarse timers may fire a few percent early.
        running.timer = new QTimer(this);
        running.timer->setTimerType(Qt::PreciseTimer);
        connect(running.timer, &QTimer::timeout, this, [this, id] { fired(id); });
    }
    running.due = std::chrono::steady_clock::now() + wanted.period;
    running.timer->start(wanted.periodMs);
}

void TimerSet::fired(int id)
{
    if (closed_.load(std::memory_order_acquire))
        return;
    Wanted wanted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted = wanted_[id];
        if (!wanted.armed || wanted.generation != running_[id].generation)
            return;  // killed or re-armed on another thread, not yet applied
    }
    Running& running = running_[id];
    const auto now = std::chrono::steady_clock::now();
    if (now < running.due) {
        // Early: wait out the rest of the period.
        running.timer->start(ceilMs(running.due - now));
        return;
    }
    // The next period counts from this firing, so no firing comes within a
    // period of the one before. Restarted before the handler, which may
    // kill or re-arm the timer itself.
    running.due = now + wanted.period;
    running.timer->start(wanted.periodMs);
    if (onTimer_)
        onTimer_(id);
}

}  // namespace krv::ui
