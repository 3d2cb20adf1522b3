#pragma once
// Turns the bench's arrivals and leavings into device notices: one per
// interface the device offers (its USB device, its disk, its CD-ROM unit),
// named by the device paths the device-setup service shows for them.
#include <vector>

#include "platform/DeviceEventQueue.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchTopology.h"

namespace krv::bench {

void postPresenceChanges(DeviceEventQueue& queue, const Topology& topology, const std::vector<PresenceChange>& changes);

}  // namespace krv::bench
