#include "platform/bench/BenchNames.h"

#include <cctype>
#include <cstdio>

#include "platform/DeviceClasses.h"
#include "platform/bench/BenchLayout.h"
#include "platform/bench/disk/PartitionTable.h"

namespace krv::bench {

namespace {

std::string lower(std::string text)
{
    for (auto& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string hash(const std::string& text)
{
    char out[12];
    std::snprintf(out, sizeof out, "%x", guidFromText(text).Data1 & 0x0FFFFFFF);
    return out;
}

// Instance-id texts: blanks trimmed, the rest as '_'.
std::string idText(std::string text)
{
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    for (auto& c : text)
        if (c == ' ' || c < 0x20 || c > 0x7E || c == ',' || c == '\\' || c == '#')
            c = '_';
    return text;
}

// A serial the USB hub driver takes into an instance id: printable, no
// comma, not empty.
bool usableSerial(const DeviceView& view)
{
    const UsbIdentity& usb = view.usb;
    if (view.serialTaken || usb.descriptor.iSerialNumber == 0 || usb.serial.empty() ||
        usb.strings != UsbStrings::Normal)
        return false;
    for (char c : usb.serial)
        if (c < 0x20 || c > 0x7E || c == ',')
            return false;
    return true;
}

std::string hex4(uint16_t v)
{
    char out[8];
    std::snprintf(out, sizeof out, "%04X", v);
    return out;
}

std::string storageIds(const DeviceView& view, const char* kind)
{
    return std::string(kind) + "&Ven_" + idText(view.inquiry.vendor) + "&Prod_" + idText(view.inquiry.product) +
           "&Rev_" + idText(view.inquiry.revision);
}

std::string usbSerialPart(const Topology& topology, const DeviceView& view)
{
    if (usableSerial(view))
        return view.usb.serial;
    const UsbLocation* at = locationOf(topology, view.device);
    return "7&" + hash(at ? formatUsbLocation(*at) : deviceName(view.device)) + "&0";
}

// A unit the UAS driver enumerates: named by its USB device, not by a serial.
std::string uasUnit(const Topology& topology, const DeviceView& view, const char* kind, const char* lun)
{
    return "SCSI\\" + std::string(kind) + "&Ven_" + idText(view.inquiry.vendor) + "&Prod_" +
           idText(view.inquiry.product) + "\\7&" + hash("uas " + usbDeviceInstance(topology, view)) + "&0&" + lun;
}

bool underUas(const DeviceView& view)
{
    return view.attachment == Attachment::Usb && view.storageDriver == StorageDriver::Uas;
}

}  // namespace

std::string interfacePath(const std::string& instanceId, const Guid& interfaceClass)
{
    std::string path = instanceId;
    for (auto& c : path)
        if (c == '\\')
            c = '#';
    return "\\\\?\\" + lower(path) + "#" + guidText(interfaceClass, true);
}

std::string driverKey(const Guid& setupClass, int number)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", number);
    return guidText(setupClass, true) + "\\" + digits;
}

std::string hostControllerInstance(int controller)
{
    return "PCI\\VEN_BE0C&DEV_0131&SUBSYS_00000000&REV_01\\3&" + hash("controller") + "&0&" +
           std::to_string(0xA0 + controller * 8);
}

std::string hubInstance(const Topology& topology, int hub)
{
    const TopologyHub& h = topology.hubs[static_cast<size_t>(hub)];
    if (h.location.path.empty())
        return "USB\\ROOT_HUB30\\4&" + hash("root hub " + std::to_string(h.location.controller)) + "&0&0";
    UsbLocation parent = parentOf(h.location);
    return "USB\\VID_3A5F&PID_0626\\" + std::to_string(5 + parent.path.size()) + "&" +
           hash("hub " + formatUsbLocation(parent)) + "&0&" + std::to_string(h.location.path.back());
}

std::string hubName(const Topology& topology, int hub)
{
    return interfacePath(hubInstance(topology, hub), interfaceclass::kUsbHub).substr(4);
}

std::string hubDriverKey(const Topology& topology, int hub)
{
    (void)topology;
    return driverKey(setupclass::kUsb, 10 + hub);
}

const UsbLocation* locationOf(const Topology& topology, int device)
{
    if (device >= 1 && device <= static_cast<int>(topology.ports.size()))
        return &topology.ports[static_cast<size_t>(device - 1)];
    if (device == kUsbDisk && topology.usbDisk)
        return &*topology.usbDisk;
    return nullptr;
}

std::string usbDeviceInstance(const Topology& topology, const DeviceView& view)
{
    std::string ids = "USB\\VID_" + hex4(view.usb.descriptor.idVendor) + "&PID_" + hex4(view.usb.descriptor.idProduct);
    if (usableSerial(view))
        return ids + "\\" + view.usb.serial;
    const UsbLocation* at = locationOf(topology, view.device);
    UsbLocation parent = at ? parentOf(*at) : UsbLocation{};
    return ids + "\\" + std::to_string(5 + parent.path.size()) + "&" + hash("hub " + formatUsbLocation(parent)) +
           "&0&" + std::to_string(at && !at->path.empty() ? at->path.back() : 0);
}

std::string usbDeviceDriverKey(int device) { return driverKey(setupclass::kUsb, 100 + device); }

std::string failedDeviceInstance(const Topology& topology, int device)
{
    const UsbLocation* at = locationOf(topology, device);
    UsbLocation parent = at ? parentOf(*at) : UsbLocation{};
    return "USB\\VID_0000&PID_0002\\" + std::to_string(5 + parent.path.size()) + "&" +
           hash("hub " + formatUsbLocation(parent)) + "&0&" + std::to_string(at && !at->path.empty() ? at->path.back() : 0);
}

std::string diskInstance(const Topology& topology, const DeviceView& view)
{
    switch (view.attachment) {
    case Attachment::Usb:
        if (underUas(view))
            return uasUnit(topology, view, "Disk", "000000");
        return "USBSTOR\\" + storageIds(view, "Disk") + "\\" + usbSerialPart(topology, view) + "&0";
    case Attachment::Pcie:
        return "SCSI\\Disk&Ven_NVMe&Prod_" + idText(view.disk.model.substr(0, 16)) + "\\5&" +
               hash("nvme " + std::to_string(view.device)) + "&0&000000";
    case Attachment::Sata:
        return "SCSI\\Disk&Ven_&Prod_" + idText(view.disk.model.substr(0, 16)) + "\\4&" + hash("sata") + "&0&000000";
    }
    return {};
}

std::string diskDriverKey(int device) { return driverKey(setupclass::kDiskDrive, device); }

std::string cdromInstance(const Topology& topology, const DeviceView& view)
{
    if (underUas(view))
        return uasUnit(topology, view, "CdRom", "000001");
    return "USBSTOR\\" + storageIds(view, "CdRom") + "\\" + usbSerialPart(topology, view) + "&1";
}

std::string cdromDriverKey(int device) { return driverKey(setupclass::kCdRom, device); }

std::string pcieFunctionInstance(const DeviceView& view)
{
    char rev[4];
    std::snprintf(rev, sizeof rev, "%02X", view.revision);
    return "PCI\\VEN_2C4B&DEV_" + hex4(view.pcieDeviceId) + "&SUBSYS_00000000&REV_" + rev + "\\4&" +
           hash("pcie " + std::to_string(view.device)) + "&0&00E" + std::to_string(view.device % 10);
}

std::vector<DeviceInterface> interfacesOf(const Topology& topology, const DeviceView& view)
{
    std::vector<DeviceInterface> list;
    if (view.attachment == Attachment::Usb) {
        list.push_back({interfaceclass::kUsbDevice, interfacePath(usbDeviceInstance(topology, view), interfaceclass::kUsbDevice)});
        list.push_back({interfaceclass::kDisk, interfacePath(diskInstance(topology, view), interfaceclass::kDisk)});
        if (view.cdrom >= 0)
            list.push_back({interfaceclass::kCdRom, interfacePath(cdromInstance(topology, view), interfaceclass::kCdRom)});
    } else {
        list.push_back({interfaceclass::kDisk, interfacePath(diskInstance(topology, view), interfaceclass::kDisk)});
    }
    return list;
}

std::string locationInformation(const Topology& topology, const UsbLocation& location)
{
    char text[40];
    int hub = topology.hubIndex(parentOf(location));
    std::snprintf(text, sizeof text, "Port_#%04d.Hub_#%04d", location.path.empty() ? 0 : location.path.back(),
                  hub + 1);
    return text;
}

}  // namespace krv::bench
