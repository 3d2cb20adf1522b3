#include "platform/bench/BenchDeviceEvents.h"

#include <algorithm>

#include "platform/bench/BenchNames.h"

namespace krv::bench {

void postPresenceChanges(DeviceEventQueue& queue, const Topology& topology, const std::vector<PresenceChange>& changes)
{
    for (const PresenceChange& change : changes) {
        // A removal names the interfaces in the order they went: the units
        // before the device that carried them; an arrival the other way.
        std::vector<DeviceInterface> interfaces = interfacesOf(topology, change.view);
        if (!change.arrived)
            std::reverse(interfaces.begin(), interfaces.end());
        for (const DeviceInterface& i : interfaces) {
            DeviceEvent event;
            event.kind = change.arrived ? DeviceEventKind::Arrival : DeviceEventKind::RemoveComplete;
            event.interfaceClass = i.interfaceClass;
            event.devicePath = i.devicePath;
            event.atMs = change.atMs;
            queue.post(event);
        }
    }
}

}  // namespace krv::bench
