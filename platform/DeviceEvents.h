#pragma once
// Device arrival and removal notices by interface class, in place of
// RegisterDeviceNotification and WM_DEVICECHANGE. A program registers the
// interface classes it wants to hear of; from then on every arrival and
// completed removal of an interface of those classes is queued, in the order
// the changes happened. The program reads the queue on the thread it
// chooses: it polls take(), or waits in take() on a thread of its own, or
// sets a wake-up function that tells its chosen thread (the GUI thread,
// through a queued call) that notices wait.
//
// A device that appears brings one arrival per interface it offers (a bridge
// drive on USB: kUsbDevice and kDisk, and kCdRom with a CD-ROM unit); one
// that leaves (unplugged, dropped, reset) one removal per interface. A
// device that resets and comes back is a removal and, later, an arrival.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Guid.h"

namespace krv {

class StopSource;

enum class DeviceEventKind : uint32_t {
    Arrival = 0x8000,          // DBT_DEVICEARRIVAL
    RemoveComplete = 0x8004,   // DBT_DEVICEREMOVECOMPLETE
};

struct DeviceEvent {
    DeviceEventKind kind = DeviceEventKind::Arrival;
    Guid interfaceClass;       // dbcc_classguid
    std::string devicePath;    // dbcc_name: the interface's device path
    uint64_t atMs = 0;         // monotonic time of the change (the platform clock)
};

class DeviceEvents {
public:
    virtual ~DeviceEvents() = default;

    // Registers for the notices of one interface class. Returns a
    // registration number (never 0). Registering a class twice is allowed;
    // its notices are still queued once.
    virtual uint32_t registerClass(const Guid& interfaceClass) = 0;
    // Ends a registration; notices of its class that are already queued stay
    // (as messages already posted do). False with last error 87 for an
    // unknown number.
    virtual bool unregister(uint32_t registration) = 0;

    // Takes the oldest queued notice. Waits up to `waitMs` of real time when
    // none is queued (0: does not wait); a stop request on `stop` ends the
    // wait. False when no notice came.
    virtual bool take(DeviceEvent& event, uint32_t waitMs = 0, const StopSource* stop = nullptr) = 0;
    // How many notices wait.
    virtual size_t pending() = 0;

    // Called each time a notice is queued, on the thread that noticed the
    // change (a platform thread, or any thread that happened to look at the
    // devices), with no lock of the platform held. It must return quickly
    // and must not call the device services: it only wakes the program's own
    // thread, which then calls take(). An empty function removes it.
    virtual void setWakeUp(std::function<void()> wakeUp) = 0;
};

}  // namespace krv
