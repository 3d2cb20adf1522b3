#pragma once
// The device-events service as a queue that a backend posts to: it keeps the
// registrations, queues the notices of registered classes and calls the
// wake-up function outside its lock. The bench posts the changes of its
// devices here; a platform without devices never posts.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "platform/DeviceEvents.h"

namespace krv {

class DeviceEventQueue : public DeviceEvents {
public:
    uint32_t registerClass(const Guid& interfaceClass) override;
    bool unregister(uint32_t registration) override;
    bool take(DeviceEvent& event, uint32_t waitMs = 0, const StopSource* stop = nullptr) override;
    size_t pending() override;
    void setWakeUp(std::function<void()> wakeUp) override;

    // Queues `event` when its class is registered; false when nobody listens.
    bool post(const DeviceEvent& event);

private:
    bool registeredLocked(const Guid& interfaceClass) const;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<uint32_t, Guid> registrations_;
    uint32_t nextRegistration_ = 1;
    std::deque<DeviceEvent> queue_;
    std::mutex wakeUpMutex_;  // held while the wake-up runs, so it is never replaced mid-call
    std::function<void()> wakeUp_;
};

}  // namespace krv
