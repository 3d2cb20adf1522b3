#include "platform/DeviceEventQueue.h"

#include <chrono>

#include "platform/LastError.h"
#include "platform/StopSource.h"

namespace krv {

namespace {
// A stop request cannot wake a condition variable it does not know of, so a
// long wait looks at it this often.
constexpr std::chrono::milliseconds kStopPoll{20};
}  // namespace

uint32_t DeviceEventQueue::registerClass(const Guid& interfaceClass)
{
    std::lock_guard<std::mutex> guard(mutex_);
    uint32_t id = nextRegistration_++;
    if (nextRegistration_ == 0)
        nextRegistration_ = 1;
    registrations_[id] = interfaceClass;
    return id;
}

bool DeviceEventQueue::unregister(uint32_t registration)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (registrations_.erase(registration) == 0) {
        setLastError(winerr::kInvalidParameter);
        return false;
    }
    return true;
}

bool DeviceEventQueue::registeredLocked(const Guid& interfaceClass) const
{
    for (const auto& [id, guid] : registrations_)
        if (guid == interfaceClass)
            return true;
    return false;
}

bool DeviceEventQueue::post(const DeviceEvent& event)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!registeredLocked(event.interfaceClass))
            return false;
        queue_.push_back(event);
    }
    cv_.notify_all();
    std::lock_guard<std::mutex> guard(wakeUpMutex_);
    if (wakeUp_)
        wakeUp_();
    return true;
}

bool DeviceEventQueue::take(DeviceEvent& event, uint32_t waitMs, const StopSource* stop)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::unique_lock<std::mutex> lock(mutex_);
    while (queue_.empty()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline || (stop && stop->stopRequested()))
            return false;
        cv_.wait_until(lock, std::min(deadline, now + kStopPoll));
    }
    event = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

size_t DeviceEventQueue::pending()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return queue_.size();
}

void DeviceEventQueue::setWakeUp(std::function<void()> wakeUp)
{
    std::lock_guard<std::mutex> guard(wakeUpMutex_);
    wakeUp_ = std::move(wakeUp);
}

}  // namespace krv
