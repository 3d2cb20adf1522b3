#include "platform/bench/BenchTopology.h"

#include <algorithm>
#include <set>

namespace krv::bench {

namespace {

std::vector<UsbLocation> chainOf(const TopologySettings& t, int hubs)
{
    std::vector<UsbLocation> chain;
    UsbLocation at{0, {t.rootPorts}};
    for (int k = 0; k < hubs; ++k) {
        chain.push_back(at);
        at.path.push_back(t.hubPorts);
    }
    return chain;
}

// The ports devices without a location fill, in order: controller 0's root
// ports and its chain, then the other controllers' root ports.
std::vector<UsbLocation> fillOrder(const TopologySettings& t, const std::vector<UsbLocation>& chain)
{
    std::vector<UsbLocation> slots;
    UsbLocation hub{0, {}};
    for (size_t level = 0; level <= chain.size(); ++level) {
        int count = level == 0 ? t.rootPorts : t.hubPorts;
        bool chained = level < chain.size();
        for (int port = 1; port <= count; ++port) {
            if (chained && port == count)
                continue;  // the next hub of the chain
            UsbLocation slot = hub;
            slot.path.push_back(port);
            slots.push_back(slot);
        }
        if (chained)
            hub = chain[level];
    }
    for (int c = 1; c < t.controllers; ++c)
        for (int port = 1; port <= t.rootPorts; ++port)
            slots.push_back(UsbLocation{c, {port}});
    return slots;
}

struct Attempt {
    std::vector<UsbLocation> hubs;          // external hubs
    std::vector<std::optional<UsbLocation>> devices;
};

bool place(const BenchSettings& settings, int chained, Attempt& attempt, std::string& why)
{
    const TopologySettings& t = settings.topology;
    std::vector<std::optional<UsbLocation>> wanted;
    for (const auto& p : settings.ports)
        wanted.push_back(p.location);
    if (settings.usbDisk)
        wanted.push_back(settings.usbDisk->location);

    std::vector<UsbLocation> chain = chainOf(t, chained);
    std::set<UsbLocation> hubs(chain.begin(), chain.end());
    std::set<UsbLocation> taken;
    for (const auto& w : wanted) {
        if (!w)
            continue;
        for (size_t depth = 1; depth < w->path.size(); ++depth)
            hubs.insert(UsbLocation{w->controller, {w->path.begin(), w->path.begin() + static_cast<long>(depth)}});
        if (!taken.insert(*w).second) {
            why = "two devices at USB location " + formatUsbLocation(*w);
            return false;
        }
    }
    for (const auto& w : wanted)
        if (w && hubs.count(*w)) {
            why = "USB location " + formatUsbLocation(*w) + " holds a hub";
            return false;
        }
    // Every location, hub or device, must lie within its hub's ports.
    auto inside = [&](const UsbLocation& l) {
        if (l.controller >= t.controllers) {
            why = "USB location " + formatUsbLocation(l) + ": the bench has controllers 0.." +
                  std::to_string(t.controllers - 1);
            return false;
        }
        for (size_t i = 0; i < l.path.size(); ++i) {
            int limit = i == 0 ? t.rootPorts : t.hubPorts;
            if (l.path[i] > limit) {
                why = "USB location " + formatUsbLocation(l) + ": its " + (i == 0 ? "root hub" : "hub") + " has " +
                      std::to_string(limit) + " ports";
                return false;
            }
        }
        return true;
    };
    for (const auto& h : hubs)
        if (!inside(h))
            return false;
    for (const auto& w : wanted)
        if (w && !inside(*w))
            return false;

    attempt.hubs.assign(hubs.begin(), hubs.end());
    attempt.devices = wanted;
    std::vector<UsbLocation> slots = fillOrder(t, chain);
    size_t next = 0;
    for (auto& d : attempt.devices) {
        if (d)
            continue;
        while (next < slots.size() && (taken.count(slots[next]) || hubs.count(slots[next])))
            ++next;
        if (next == slots.size()) {
            why = "the devices do not fit the USB tree (" + std::to_string(t.rootPorts) + " root ports, " +
                  std::to_string(chained) + " chained hubs of " + std::to_string(t.hubPorts) + " ports)";
            return false;
        }
        d = slots[next++];
    }
    return true;
}

}  // namespace

UsbLocation parentOf(const UsbLocation& location)
{
    UsbLocation parent = location;
    if (!parent.path.empty())
        parent.path.pop_back();
    return parent;
}

int Topology::hubIndex(const UsbLocation& location) const
{
    for (size_t i = 0; i < hubs.size(); ++i)
        if (hubs[i].location == location)
            return static_cast<int>(i);
    return -1;
}

int Topology::portAt(const UsbLocation& location) const
{
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i] == location)
            return static_cast<int>(i + 1);
    return 0;
}

bool buildTopology(const BenchSettings& settings, Topology& topology, std::string& why)
{
    const TopologySettings& t = settings.topology;
    Attempt attempt;
    int chained = t.hubs;
    if (t.hubs == kAutoHubs) {
        // The fewest chained hubs that make room; explicit locations are
        // judged with the first count that places everyone.
        std::string firstWhy;
        bool placed = false;
        for (chained = 0; chained <= kMaxHubTiers && !placed; ++chained) {
            std::string attemptWhy;
            placed = place(settings, chained, attempt, attemptWhy);
            if (!placed && firstWhy.empty())
                firstWhy = attemptWhy;
            if (placed)
                break;
        }
        if (!placed) {
            why = firstWhy;
            return false;
        }
    } else if (!place(settings, chained, attempt, why)) {
        return false;
    }

    Topology result;
    result.controllers = t.controllers;
    result.chainedHubs = chained;
    for (int c = 0; c < t.controllers; ++c)
        result.hubs.push_back(TopologyHub{UsbLocation{c, {}}, t.rootPorts});
    for (const auto& h : attempt.hubs)
        result.hubs.push_back(TopologyHub{h, t.hubPorts});
    for (size_t i = 0; i < settings.ports.size(); ++i)
        result.ports.push_back(*attempt.devices[i]);
    if (settings.usbDisk)
        result.usbDisk = attempt.devices.back();
    topology = std::move(result);
    return true;
}

}  // namespace krv::bench
