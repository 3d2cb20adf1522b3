#include "ui/Timers.h"

#include <climits>
#include <cmath>

#include <QThread>
#include <QTimer>

#include "platform/Platform.h"

namespace krv::ui {

TimerSet::TimerSet(Handler onTimer, QObject* parent) : QObject(parent), onTimer_(std::move(onTimer)) {}

TimerSet::~TimerSet() { closed_.store(true, std::memory_order_release); }

void TimerSet::setScale(double scale) { scale_.store(scale, std::memory_order_release); }

int TimerSet::scaledPeriod(uint32_t periodMs, double scale)
{
    if (!(scale > 0.0) || !std::isfinite(scale))
        scale = 1.0;
    const double ms = std::round(double(periodMs) / scale);
    if (ms < 1.0)
        return 1;
    if (ms > double(INT_MAX))
        return INT_MAX;
    return int(ms);
}

double TimerSet::currentScale() const
{
    const double given = scale_.load(std::memory_order_acquire);
    if (given > 0.0)
        return given;
    Platform* platform = Platform::currentOrNull();
    return platform ? platform->clock().scale() : 1.0;
}

bool TimerSet::arm(int id, uint32_t periodMs)
{
    if (closed_.load(std::memory_order_acquire))
        return false;
    request(id, true, scaledPeriod(periodMs, currentScale()));
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
    request(id, false, 0);
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
        request(id, false, 0);
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

void TimerSet::request(int id, bool armed, int periodMs)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted_[id] = Wanted{armed, periodMs, nextGeneration_++};
    }
    if (QThread::currentThread() == thread())
        apply(id);
    else
        QMetaObject::invokeMethod(this, [this, id] { apply(id); }, Qt::QueuedConnection);
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
        running.timer = new QTimer(this);
        connect(running.timer, &QTimer::timeout, this, [this, id] { fired(id); });
    }
    running.timer->start(wanted.periodMs);
}

void TimerSet::fired(int id)
{
    if (closed_.load(std::memory_order_acquire))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Wanted& wanted = wanted_[id];
        if (!wanted.armed || wanted.generation != running_[id].generation)
            return;  // killed or re-armed on another thread, not yet applied
    }
    if (onTimer_)
        onTimer_(id);
}

}  // namespace krv::ui
