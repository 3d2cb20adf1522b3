#include "platform/bench/BenchDeviceSetup.h"

#include <strings.h>

#include <functional>

#include "platform/DeviceClasses.h"
#include "platform/LastError.h"
#include "platform/NoDevices.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/BenchNames.h"
#include "platform/bench/BenchStorageQueries.h"

namespace krv::bench {

namespace {

std::string hex4(uint16_t v)
{
    char out[8];
    std::snprintf(out, sizeof out, "%04X", v);
    return out;
}

std::string trimmed(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// An open interface: the storage queries answer for disks and CD-ROMs while
// the device is the appearance it was opened on.
class InterfaceHandle : public StorageHandle {
public:
    InterfaceHandle(std::shared_ptr<BenchDevices> devices, int device, uint64_t generation, int kind)
        : devices_(std::move(devices)), device_(device), generation_(generation), kind_(kind)
    {
    }
    bool deviceNumber(StorageDeviceNumber& number) override
    {
        if (kind_ == kOther)
            return notStorage();
        return storageNumberOf(devices_->view(device_), generation_, kind_ == kCdRom, number);
    }
    bool deviceDescriptor(StorageDeviceDescriptor& descriptor) override
    {
        if (kind_ == kOther)
            return notStorage();
        return storageDescriptorOf(devices_->view(device_), generation_, kind_ == kCdRom, descriptor);
    }

    static constexpr int kDisk = 0, kCdRom = 1, kOther = 2;

private:
    static bool notStorage()
    {
        setLastError(winerr::kInvalidFunction);
        return false;
    }
    std::shared_ptr<BenchDevices> devices_;
    int device_;
    uint64_t generation_;
    int kind_;
};

DeviceNode node(std::string instance, std::string parent, const Guid& setupClass, std::string className)
{
    DeviceNode n;
    n.instanceId = std::move(instance);
    n.parentInstanceId = std::move(parent);
    n.classGuid = setupClass;
    n.className = std::move(className);
    auto slash = n.instanceId.find('\\');
    n.enumeratorName = n.instanceId.substr(0, slash);
    return n;
}

void addInterface(DeviceNode& n, const Guid& interfaceClass)
{
    n.interfaces.push_back({interfaceClass, interfacePath(n.instanceId, interfaceClass)});
}

struct TreeBuilder {
    const Topology& topology;
    std::vector<DeviceView> views;
    std::vector<DeviceNode> nodes;
    int pdo = 1;

    DeviceNode& add(DeviceNode n)
    {
        n.physicalDeviceObjectName = "\\Device\\" + std::string(n.enumeratorName == "USB" ? "USBPDO-" : "0000") +
                                     std::to_string(pdo++);
        nodes.push_back(std::move(n));
        return nodes.back();
    }

    const DeviceView* viewOf(int device) const
    {
        for (const auto& v : views)
            if (v.device == device)
                return &v;
        return nullptr;
    }

    void storageUnits(const DeviceView& v, const std::string& parent)
    {
        DeviceNode disk = node(diskInstance(topology, v), parent, setupclass::kDiskDrive, "DiskDrive");
        disk.driverKey = diskDriverKey(v.device);
        disk.description = "Disk drive";
        const bool uas = v.attachment == Attachment::Usb && v.storageDriver == StorageDriver::Uas;
        disk.friendlyName = trimmed(v.inquiry.vendor + " " + v.inquiry.product) +
                            (uas ? " SCSI Disk Device" : v.attachment == Attachment::Usb ? " USB Device" : "");
        disk.service = "disk";
        disk.manufacturer = "(Standard disk drives)";
        disk.removalPolicy = v.attachment == Attachment::Sata ? 1 : 3;
        std::string ids = disk.instanceId.substr(0, disk.instanceId.rfind('\\'));
        disk.hardwareIds = {ids, "GenDisk"};
        addInterface(disk, interfaceclass::kDisk);
        add(std::move(disk));
        if (v.cdrom >= 0) {
            DeviceNode cd = node(cdromInstance(topology, v), parent, setupclass::kCdRom, "CDROM");
            cd.driverKey = cdromDriverKey(v.device);
            cd.description = "CD-ROM Drive";
            cd.friendlyName = trimmed(v.inquiry.vendor + " " + v.inquiry.product) + " USB Device";
            cd.service = "cdrom";
            cd.hardwareIds = {cd.instanceId.substr(0, cd.instanceId.rfind('\\')), "GenCdRom"};
            cd.removalPolicy = 3;
            addInterface(cd, interfaceclass::kCdRom);
            add(std::move(cd));
        }
    }

    void usbDevice(const DeviceView& v, const UsbLocation& at, const std::string& parent)
    {
        DeviceNode n = node(usbDeviceInstance(topology, v), parent, setupclass::kUsb, "USB");
        const UsbDeviceDescriptor& d = v.usb.descriptor;
        std::string ids = "USB\\VID_" + hex4(d.idVendor) + "&PID_" + hex4(d.idProduct);
        n.hardwareIds = {ids + "&REV_" + hex4(d.bcdDevice), ids};
        const bool uas = v.storageDriver == StorageDriver::Uas;
        n.compatibleIds = {uas ? "USB\\Class_08&SubClass_06&Prot_62" : "USB\\Class_08&SubClass_06&Prot_50",
                           "USB\\Class_08&SubClass_06", "USB\\Class_08"};
        n.driverKey = usbDeviceDriverKey(v.device);
        n.description = uas ? "USB Attached SCSI (UAS) Mass Storage Device" : "USB Mass Storage Device";
        n.manufacturer = "Compatible USB storage device";
        n.service = uas ? "UASPStor" : "USBSTOR";
        n.locationInformation = locationInformation(topology, at);
        n.address = static_cast<uint32_t>(at.path.back());
        n.removalPolicy = 3;
        addInterface(n, interfaceclass::kUsbDevice);
        std::string id = n.instanceId;
        add(std::move(n));
        storageUnits(v, id);
    }

    // What the hub driver makes of a device whose descriptor it could not read.
    void failedDevice(const DeviceView& v, const UsbLocation& at, const std::string& parent)
    {
        DeviceNode n = node(failedDeviceInstance(topology, v.device), parent, setupclass::kUsb, "USB");
        n.driverKey = usbDeviceDriverKey(v.device);
        n.description = "Unknown USB Device (Device Descriptor Request Failed)";
        n.hardwareIds = {"USB\\DEVICE_DESCRIPTOR_FAILURE"};
        n.locationInformation = locationInformation(topology, at);
        n.address = static_cast<uint32_t>(at.path.back());
        add(std::move(n));
    }

    void hub(int index, const std::string& parent)
    {
        const TopologyHub& h = topology.hubs[static_cast<size_t>(index)];
        bool root = h.location.path.empty();
        DeviceNode n = node(hubInstance(topology, index), parent, setupclass::kUsb, "USB");
        n.driverKey = hubDriverKey(topology, index);
        n.description = root ? "USB Root Hub (USB 3.0)" : "Generic SuperSpeed USB Hub";
        n.hardwareIds = root ? std::vector<std::string>{"USB\\ROOT_HUB30&VIDBE0C&PID0131&REV0001", "USB\\ROOT_HUB30"}
                             : std::vector<std::string>{"USB\\VID_3A5F&PID_0626&REV_9223", "USB\\VID_3A5F&PID_0626"};
        n.compatibleIds = {"USB\\Class_09&SubClass_00&Prot_03", "USB\\Class_09"};
        n.service = "USBHUB3";
        n.manufacturer = "(Generic USB Hub)";
        if (!root) {
            n.locationInformation = locationInformation(topology, h.location);
            n.address = static_cast<uint32_t>(h.location.path.back());
        }
        addInterface(n, interfaceclass::kUsbHub);
        std::string id = n.instanceId;
        add(std::move(n));
        for (int port = 1; port <= h.ports; ++port) {
            UsbLocation at = h.location;
            at.path.push_back(port);
            if (int child = topology.hubIndex(at); child >= 0) {
                hub(child, id);
                continue;
            }
            int device = topology.portAt(at);
            if (!device && topology.usbDiskAt(at))
                device = kUsbDisk;
            const DeviceView* v = device ? viewOf(device) : nullptr;
            if (v && v->connected && v->attachment == Attachment::Usb)
                usbDevice(*v, at, id);
            else if (v && v->plugged && v->usbStatus == UsbPortStatus::FailedEnumeration)
                failedDevice(*v, at, id);
        }
    }

    void build()
    {
        nodes.push_back(rootDeviceNode());
        DeviceNode pci = node("ACPI\\PNP0A08\\0", nodes.front().instanceId, setupclass::kSystem, "System");
        pci.description = "PCI Express Root Complex";
        pci.service = "pci";
        add(std::move(pci));
        std::string pciId = "ACPI\\PNP0A08\\0";
        for (int c = 0; c < topology.controllers; ++c) {
            DeviceNode hc = node(hostControllerInstance(c), pciId, setupclass::kUsb, "USB");
            hc.driverKey = driverKey(setupclass::kUsb, c);
            hc.description = "USB xHCI Compliant Host Controller";
            hc.hardwareIds = {"PCI\\VEN_BE0C&DEV_0131&SUBSYS_00000000&REV_01", "PCI\\VEN_BE0C&DEV_0131"};
            hc.compatibleIds = {"PCI\\CC_0C0330", "PCI\\CC_0C03"};
            hc.service = "USBXHCI";
            hc.manufacturer = "Generic USB xHCI Host Controller";
            addInterface(hc, interfaceclass::kUsbHostController);
            std::string id = hc.instanceId;
            add(std::move(hc));
            hub(topology.hubIndex(UsbLocation{c, {}}), id);
        }
        DeviceNode sata = node("PCI\\VEN_BE0C&DEV_0106&SUBSYS_00000000&REV_01\\3&" + std::string("1a2b3c4d") + "&0&B8",
                               pciId, setupclass::kScsiAdapter, "SCSIAdapter");
        sata.description = "Standard SATA AHCI Controller";
        sata.service = "storahci";
        std::string sataId = sata.instanceId;
        add(std::move(sata));
        if (const DeviceView* system = viewOf(kSystemDisk))
            storageUnits(*system, sataId);
        for (const DeviceView& v : views) {
            if (v.attachment != Attachment::Pcie || !v.connected)
                continue;
            DeviceNode f = node(pcieFunctionInstance(v), pciId, setupclass::kScsiAdapter, "SCSIAdapter");
            f.description = "Standard NVM Express Controller";
            f.service = "stornvme";
            f.hardwareIds = {f.instanceId.substr(0, f.instanceId.rfind('\\'))};
            f.compatibleIds = {"PCI\\CC_010802", "PCI\\CC_0108"};
            f.removalPolicy = 3;
            std::string id = f.instanceId;
            add(std::move(f));
            storageUnits(v, id);
        }
    }
};

bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

BenchDeviceSetup::BenchDeviceSetup(std::shared_ptr<BenchDevices> devices, Topology topology)
    : devices_(std::move(devices)), topology_(std::move(topology))
{
}

std::vector<DeviceNode> BenchDeviceSetup::devices()
{
    std::vector<DeviceView> views = devices_->views();
    std::lock_guard<std::mutex> guard(treeMutex_);
    if (views != treeViews_ || treeViews_.empty()) {
        TreeBuilder builder{topology_, views, {}, 1};
        builder.build();
        tree_ = std::move(builder.nodes);
        treeViews_ = std::move(views);
    }
    return tree_;
}

std::unique_ptr<StorageHandle> BenchDeviceSetup::openOnDevice(const DeviceView& v, const std::string& devicePath)
{
    if (!v.connected)
        return nullptr;
    for (const DeviceInterface& i : interfacesOf(topology_, v))
        if (sameName(i.devicePath, devicePath)) {
            int kind = i.interfaceClass == interfaceclass::kDisk    ? InterfaceHandle::kDisk
                     : i.interfaceClass == interfaceclass::kCdRom ? InterfaceHandle::kCdRom
                                                                  : InterfaceHandle::kOther;
            return std::make_unique<InterfaceHandle>(devices_, v.device, v.generation, kind);
        }
    return nullptr;
}

std::unique_ptr<StorageHandle> BenchDeviceSetup::openInterface(const std::string& devicePath)
{
    int known = 0;
    {
        std::lock_guard<std::mutex> guard(foundMutex_);
        if (auto it = foundOn_.find(devicePath); it != foundOn_.end())
            known = it->second;
    }
    if (known != 0)
        if (std::optional<DeviceView> v = devices_->view(known))
            if (auto handle = openOnDevice(*v, devicePath))
                return handle;
    // The first device in the listing that offers the path.
    for (const DeviceView& v : devices_->views())
        if (auto handle = openOnDevice(v, devicePath)) {
            std::lock_guard<std::mutex> guard(foundMutex_);
            foundOn_[devicePath] = v.device;
            return handle;
        }
    // Hubs and host controllers open too; they are no storage.
    for (const DeviceNode& n : devices())
        for (const DeviceInterface& i : n.interfaces)
            if (sameName(i.devicePath, devicePath))
                return std::make_unique<InterfaceHandle>(devices_, -1, 0, InterfaceHandle::kOther);
    setLastError(winerr::kFileNotFound);
    return nullptr;
}

}  // namespace krv::bench
