#pragma once
// The configuration manager's view of the machine: the tree of device nodes
// (what the setup-class enumeration and the CM_* walks read) and the device
// interfaces the nodes offer, with a way to open an interface's device path
// for the storage queries.
//
// A USB bridge drive appears as three nodes in a chain: the USB device
// (enumerator "USB", setup class USB, interface class kUsbDevice), its disk
// (enumerator "USBSTOR", setup class DiskDrive, interface class kDisk, the
// USB device as parent), and with a CD-ROM unit a CD-ROM node beside the
// disk. Their instance ids and interface paths carry the USB serial as the
// window system's mass-storage driver forms them:
//   USB\VID_2C4B&PID_8574\KRVBENCH000000000001
//   USBSTOR\DISK&VEN_KRV&PROD_BENCH_DRIVE&REV_2306\KRVBENCH000000000001&0
//   \\?\usbstor#disk&ven_krv&prod_bench_drive&rev_2306#krvbench000000000001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
// A drive on a PCIe tunnel is an NVMe disk under a PCI node; the system disk
// an NVMe disk under the machine's storage controller.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "platform/StorageInfo.h"

namespace krv {

struct DeviceInterface {
    Guid interfaceClass;
    std::string devicePath;   // "\\?\...#{interface class in lower case}"
};

// One device node with the registry properties the system reads of it
// (SPDRP_* / CM_DRP_*). A property the node does not have is empty.
struct DeviceNode {
    std::string instanceId;         // "USB\VID_2C4B&PID_8574\KRVBENCH000000000001"
    std::string parentInstanceId;   // empty for the root node
    Guid classGuid;                 // setup class (platform/DeviceClasses.h setupclass)
    std::string className;          // "USB", "DiskDrive", "CDROM", "System", "SCSIAdapter"
    std::string driverKey;          // "{36fc9e60-c465-11cf-8056-444553540000}\0007"; empty: no driver
    std::string description;        // DEVICEDESC
    std::string friendlyName;       // FRIENDLYNAME
    std::vector<std::string> hardwareIds;    // HARDWAREID, most specific first
    std::vector<std::string> compatibleIds;  // COMPATIBLEIDS
    std::string manufacturer;       // MFG
    std::string enumeratorName;     // "USB", "USBSTOR", "PCI", "SCSI", "ROOT"
    std::string service;            // "USBSTOR", "disk", "USBHUB3", "USBXHCI", "stornvme"
    std::string locationInformation;  // "Port_#0003.Hub_#0002" for a USB device
    std::string physicalDeviceObjectName;  // "\Device\USBPDO-7"
    uint32_t address = 0;           // ADDRESS: a USB device's port number
    uint32_t busNumber = 0;         // BUSNUMBER
    uint32_t removalPolicy = 0;     // REMOVAL_POLICY: 1 not removable, 3 surprise removal OK
    std::vector<DeviceInterface> interfaces;  // the interfaces it offers, present ones
};

class DeviceSetup {
public:
    virtual ~DeviceSetup() = default;

    // Every present device node, depth first from the root node (the first
    // entry, instance id "HTREE\ROOT\0"): a node's children come right after
    // it, before its next sibling, in the order the bus reports them. A
    // search by driver key (the walk's device-description and hardware-id
    // look-ups), an enumeration of a setup class, and an enumeration of the
    // interfaces of an interface class are all loops over this list. It is
    // a snapshot: a device that arrives or leaves afterwards changes the
    // next call's answer.
    virtual std::vector<DeviceNode> devices() = 0;

    // Opens an interface's device path for queries only (no read or write
    // access), case ignored. Null with last error 2 when no present
    // interface has that path. Opening a disk or CD-ROM interface gives a
    // handle whose device number and descriptor are the drive's; a USB device
    // or hub interface opens too, but its storage queries fail with 1.
    virtual std::unique_ptr<StorageHandle> openInterface(const std::string& devicePath) = 0;

    // Asks the bus drivers to look for new and gone devices under the root
    // (CM_Reenumerate_DevNode); false with the last error set. A backend
    // whose device list is always current has nothing to do.
    virtual bool reenumerate() { return true; }
};

}  // namespace krv
