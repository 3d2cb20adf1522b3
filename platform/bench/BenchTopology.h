#pragma once
// The bench's USB tree as laid out from its settings: a root hub per host
// controller, the chained external hubs, hubs that explicit locations put in
// their way, and the port each device sits on. Pure computation; the live
// tree (who is connected right now) is the USB tree service's.
#include <optional>
#include <string>
#include <vector>

#include "platform/bench/BenchSettings.h"

namespace krv::bench {

struct TopologyHub {
    UsbLocation location;   // a root hub: its controller and an empty path
    int ports = 0;
    int depth() const { return static_cast<int>(location.path.size()); }
};

struct Topology {
    int controllers = 1;
    int chainedHubs = 0;                   // what "auto" came to
    std::vector<TopologyHub> hubs;         // root hubs by controller, then external hubs in tree order
    std::vector<UsbLocation> ports;        // the location of bench port i + 1
    std::optional<UsbLocation> usbDisk;    // the USB disk's, when the bench has one

    // Index into `hubs` of the hub at `location`; -1 when none is there.
    int hubIndex(const UsbLocation& location) const;
    // The bench port (1-based) at `location`; 0 when none.
    int portAt(const UsbLocation& location) const;
    bool usbDiskAt(const UsbLocation& location) const { return usbDisk && *usbDisk == location; }
};

// Lays out the tree. False with `why` when a location is outside the tree,
// two devices share a port, a device sits where a hub is, or the devices do
// not fit.
bool buildTopology(const BenchSettings& settings, Topology& topology, std::string& why);

// The location one level up (the hub a device or hub hangs from).
UsbLocation parentOf(const UsbLocation& location);

}  // namespace krv::bench
