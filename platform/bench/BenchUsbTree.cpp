#include "platform/bench/BenchUsbTree.h"

#include <strings.h>

#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchNames.h"
#include "platform/bench/BenchUsbIdentity.h"

namespace krv::bench {

namespace {

bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string withoutPrefix(const std::string& name)
{
    if (name.size() >= 4 && (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "\\\\?\\") == 0))
        return name.substr(4);
    return name;
}

bool fail(uint32_t error)
{
    setLastError(error);
    return false;
}

// What sits on one port right now.
struct Occupant {
    // Failed: a device its port fails with (the status says how).
    enum class Kind { None, Hub, Device, Failed } kind = Kind::None;
    UsbConnectionStatus status = UsbConnectionStatus::NoDeviceConnected;
    int hub = -1;             // Hub: its index in the topology
    DeviceView view;          // Device
    UsbIdentity usb;
};

// A configuration descriptor as a mass-storage device or a hub reports it.
std::vector<uint8_t> configurationDescriptor(bool hub, bool superSpeed)
{
    std::vector<uint8_t> d = {9, usbdesc::kConfiguration, 0, 0, 1, 1, 0, 0x80, 0x32};
    std::vector<uint8_t> interface = {9, 4, 0, 0, static_cast<uint8_t>(hub ? 1 : 2), static_cast<uint8_t>(hub ? 9 : 8),
                                      static_cast<uint8_t>(hub ? 0 : 6), static_cast<uint8_t>(hub ? 0 : 0x50), 0};
    d.insert(d.end(), interface.begin(), interface.end());
    auto endpoint = [&](uint8_t address, uint8_t attributes, uint16_t size, uint8_t interval) {
        std::vector<uint8_t> e = {7, 5, address, attributes, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                  interval};
        d.insert(d.end(), e.begin(), e.end());
        if (superSpeed) {
            std::vector<uint8_t> companion = {6, 0x30, static_cast<uint8_t>(hub ? 0 : 15), 0, 0, 0};
            d.insert(d.end(), companion.begin(), companion.end());
        }
    };
    if (hub) {
        endpoint(0x81, 0x03, 2, superSpeed ? 12 : 12);
    } else {
        endpoint(0x81, 0x02, superSpeed ? 1024 : 512, 0);
        endpoint(0x02, 0x02, superSpeed ? 1024 : 512, 0);
    }
    d[2] = static_cast<uint8_t>(d.size());
    d[3] = static_cast<uint8_t>(d.size() >> 8);
    return d;
}

class BenchHostController : public UsbHostController {
public:
    BenchHostController(std::shared_ptr<const Topology> topology, int controller)
        : topology_(std::move(topology)), controller_(controller)
    {
    }
    bool driverKeyName(std::string& name) override
    {
        name = driverKey(setupclass::kUsb, controller_);
        return true;
    }
    bool rootHubName(std::string& name) override
    {
        name = hubName(*topology_, topology_->hubIndex(UsbLocation{controller_, {}}));
        return true;
    }

private:
    std::shared_ptr<const Topology> topology_;
    int controller_;
};

class BenchHub : public UsbHub {
public:
    BenchHub(std::shared_ptr<BenchDevices> devices, std::shared_ptr<const Topology> topology, int hub)
        : devices_(std::move(devices)), topology_(std::move(topology)), hub_(hub)
    {
    }

    bool nodeInformation(UsbNodeInformation& info) override
    {
        info = UsbNodeInformation{};
        info.numberOfPorts = static_cast<uint8_t>(hubEntry().ports);
        info.busPowered = false;
        return true;
    }

    bool connectionInformation(uint32_t port, UsbConnectionInfo& info) override
    {
        Occupant o;
        if (!occupant(port, o))
            return false;
        info = UsbConnectionInfo{};
        info.connectionIndex = port;
        if (o.kind == Occupant::Kind::None)
            return true;
        if (o.kind == Occupant::Kind::Failed) {
            info.status = o.status;
            return true;
        }
        info.status = UsbConnectionStatus::DeviceConnected;
        info.deviceDescriptor = o.usb.descriptor;
        info.currentConfigurationValue = 1;
        info.speed = o.usb.speed;
        info.superSpeedPlus = o.usb.superSpeedPlus;
        info.deviceIsHub = o.kind == Occupant::Kind::Hub;
        info.numberOfOpenPipes = o.kind == Occupant::Kind::Hub ? 1 : 2;
        // Each enumeration gets its own address on the bus.
        uint64_t seed = o.kind == Occupant::Kind::Hub ? static_cast<uint64_t>(o.hub) * 5 + 1
                                                      : static_cast<uint64_t>(o.view.device) * 7 + o.view.generation * 3;
        info.deviceAddress = static_cast<uint16_t>(1 + seed % 127);
        return true;
    }

    bool driverKeyName(uint32_t port, std::string& name) override
    {
        Occupant o;
        if (!occupant(port, o))
            return false;
        if (o.kind == Occupant::Kind::None ||
            (o.kind == Occupant::Kind::Failed && o.status != UsbConnectionStatus::DeviceFailedEnumeration))
            return fail(winerr::kDeviceNotConnected);
        name = o.kind == Occupant::Kind::Hub ? hubDriverKey(*topology_, o.hub) : usbDeviceDriverKey(o.view.device);
        return true;
    }

    bool connectionName(uint32_t port, std::string& name) override
    {
        Occupant o;
        if (!occupant(port, o))
            return false;
        if (o.kind == Occupant::Kind::None)
            return fail(winerr::kDeviceNotConnected);
        name = o.kind == Occupant::Kind::Hub ? hubName(*topology_, o.hub) : std::string();
        return true;
    }

    bool descriptor(uint32_t port, uint16_t value, uint16_t index, uint16_t length, std::vector<uint8_t>& data) override
    {
        Occupant o;
        if (!occupant(port, o))
            return false;
        if (o.kind == Occupant::Kind::None)
            return fail(winerr::kDeviceNotConnected);
        if (o.kind == Occupant::Kind::Failed)
            return fail(winerr::kGenFailure);  // it answers nothing
        uint8_t type = static_cast<uint8_t>(value >> 8), which = static_cast<uint8_t>(value);
        std::vector<uint8_t> answer;
        if (type == usbdesc::kDevice && which == 0) {
            auto bytes = o.usb.descriptor.bytes();
            answer.assign(bytes.begin(), bytes.end());
        } else if (type == usbdesc::kConfiguration && which == 0) {
            answer = configurationDescriptor(o.kind == Occupant::Kind::Hub, o.usb.speed == UsbDeviceSpeed::Super);
        } else if (type != usbdesc::kString || !usbStringDescriptor(o.usb, which, index, answer)) {
            return fail(winerr::kGenFailure);  // the device stalls it
        }
        if (answer.size() > length)
            answer.resize(length);
        data = std::move(answer);
        return true;
    }

private:
    const TopologyHub& hubEntry() const { return topology_->hubs[static_cast<size_t>(hub_)]; }

    bool occupant(uint32_t port, Occupant& o)
    {
        const TopologyHub& h = hubEntry();
        if (port == 0 || port > static_cast<uint32_t>(h.ports))
            return fail(winerr::kInvalidParameter);
        UsbLocation at = h.location;
        at.path.push_back(static_cast<int>(port));
        int hub = topology_->hubIndex(at);
        if (hub >= 0) {
            o.kind = Occupant::Kind::Hub;
            o.hub = hub;
            o.usb = hubUsbIdentity();
            return true;
        }
        int device = topology_->portAt(at);
        if (!device && topology_->usbDiskAt(at))
            device = kUsbDisk;
        if (!device)
            return true;
        std::optional<DeviceView> view = devices_->view(device);
        if (!view || view->attachment != Attachment::Usb)
            return true;
        if (view->plugged && view->usbStatus != UsbPortStatus::Connected) {
            static const UsbConnectionStatus kStatus[] = {
                UsbConnectionStatus::DeviceConnected, UsbConnectionStatus::DeviceFailedEnumeration,
                UsbConnectionStatus::DeviceGeneralFailure, UsbConnectionStatus::DeviceCausedOvercurrent,
                UsbConnectionStatus::DeviceNotEnoughPower};
            o.kind = Occupant::Kind::Failed;
            o.status = kStatus[static_cast<int>(view->usbStatus)];
            o.view = std::move(*view);
            return true;
        }
        if (!view->connected)
            return true;
        o.kind = Occupant::Kind::Device;
        o.view = std::move(*view);
        o.usb = o.view.usb;
        return true;
    }

    std::shared_ptr<BenchDevices> devices_;
    std::shared_ptr<const Topology> topology_;
    int hub_;
};

}  // namespace

BenchUsbTree::BenchUsbTree(std::shared_ptr<BenchDevices> devices, Topology topology)
    : devices_(std::move(devices)), topology_(std::make_shared<const Topology>(std::move(topology)))
{
}

std::vector<std::string> BenchUsbTree::hostControllerPaths()
{
    std::vector<std::string> paths;
    for (int c = 0; c < topology_->controllers; ++c)
        paths.push_back(interfacePath(hostControllerInstance(c), interfaceclass::kUsbHostController));
    return paths;
}

std::unique_ptr<UsbHostController> BenchUsbTree::openHostController(const std::string& devicePath)
{
    for (int c = 0; c < topology_->controllers; ++c)
        if (sameName(devicePath, interfacePath(hostControllerInstance(c), interfaceclass::kUsbHostController)))
            return std::make_unique<BenchHostController>(topology_, c);
    setLastError(winerr::kFileNotFound);
    return nullptr;
}

std::unique_ptr<UsbHub> BenchUsbTree::openHub(const std::string& name)
{
    std::string wanted = withoutPrefix(name);
    for (size_t i = 0; i < topology_->hubs.size(); ++i)
        if (sameName(wanted, hubName(*topology_, static_cast<int>(i))))
            return std::make_unique<BenchHub>(devices_, topology_, static_cast<int>(i));
    setLastError(winerr::kFileNotFound);
    return nullptr;
}

}  // namespace krv::bench
