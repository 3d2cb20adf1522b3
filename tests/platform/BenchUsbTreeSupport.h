#pragma once
// Walks the platform's USB tree as a host-side program would: controllers,
// root hubs, external hubs by their connection names, every connected port.
// Written for the tests from the service's interface alone.
#include <map>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "platform/Platform.h"
#include "platform/UsbTree.h"

namespace krv::test {

struct SeenDevice {
    std::string location;      // "C-P.P": controller, then ports from the root hub
    UsbConnectionInfo info;
    std::string driverKey;
    std::string hubName;       // the hub it is on
};

// The text a string descriptor carries (every UTF-16 unit's low byte).
inline std::string stringOf(const std::vector<uint8_t>& d)
{
    std::string text;
    for (size_t i = 2; i + 1 < d.size() && i < d[0]; i += 2)
        text += static_cast<char>(d[i]);
    return text;
}

// String `index` of the device on `port`, in the device's first language.
inline bool readString(UsbHub& hub, uint32_t port, uint8_t index, std::string& text)
{
    std::vector<uint8_t> languages, d;
    if (!hub.descriptor(port, usbdesc::value(usbdesc::kString, 0), 0, 255, languages) || languages.size() < 4)
        return false;
    uint16_t language = static_cast<uint16_t>(languages[2] | languages[3] << 8);
    if (!hub.descriptor(port, usbdesc::value(usbdesc::kString, index), language, 255, d))
        return false;
    text = stringOf(d);
    return true;
}

inline void walkHub(UsbTree& tree, const std::string& name, const std::string& location, std::vector<SeenDevice>& seen,
                    std::map<std::string, int>& hubPorts)
{
    auto hub = tree.openHub(name);
    if (!hub)
        return;
    UsbNodeInformation node;
    if (!hub->nodeInformation(node))
        return;
    hubPorts[location] = node.numberOfPorts;
    for (uint32_t port = 1; port <= node.numberOfPorts; ++port) {
        UsbConnectionInfo info;
        if (!hub->connectionInformation(port, info) || info.status != UsbConnectionStatus::DeviceConnected)
            continue;
        std::string at = location + (location.find('-') == std::string::npos ? "-" : ".") + std::to_string(port);
        SeenDevice d{at, info, "", name};
        hub->driverKeyName(port, d.driverKey);
        seen.push_back(d);
        if (info.deviceIsHub) {
            std::string child;
            if (hub->connectionName(port, child))
                walkHub(tree, "\\\\?\\" + child, at, seen, hubPorts);
        }
    }
}

// Every connected device of the tree, hubs too, in walk order.
inline std::vector<SeenDevice> walkTree(std::map<std::string, int>* hubPorts = nullptr)
{
    UsbTree& tree = Platform::current().usbTree();
    std::vector<SeenDevice> seen;
    std::map<std::string, int> ports;
    auto paths = tree.hostControllerPaths();
    for (size_t c = 0; c < paths.size(); ++c) {
        auto controller = tree.openHostController(paths[c]);
        std::string root;
        if (controller && controller->rootHubName(root))
            walkHub(tree, "\\\\.\\" + root, std::to_string(c), seen, ports);
    }
    if (hubPorts)
        *hubPorts = ports;
    return seen;
}

}  // namespace krv::test
