#pragma once
// The names the operating system gives the bench's devices: instance ids,
// interface device paths, driver keys, hub names. Made from what a device
// shows of itself (its view) and where it sits, the way the window system's
// bus and class drivers form them, so that the system's text matching (a
// serial inside a path, a class GUID at the start of a driver key) works on
// them as on a real machine. Pure functions: the same device, the same names.
#include <string>
#include <vector>

#include "platform/DeviceSetup.h"
#include "platform/bench/BenchDevices.h"
#include "platform/bench/BenchTopology.h"

namespace krv::bench {

// "\\?\" + the instance id with '\' as '#', lower case, '#', the class.
std::string interfacePath(const std::string& instanceId, const Guid& interfaceClass);
// "{36fc9e60-c465-11cf-8056-444553540000}\0007"
std::string driverKey(const Guid& setupClass, int number);

std::string hostControllerInstance(int controller);
std::string hubInstance(const Topology& topology, int hub);
// A hub's name as the hub requests give it: its hub interface path without "\\?\".
std::string hubName(const Topology& topology, int hub);
std::string hubDriverKey(const Topology& topology, int hub);

// Where a port device sits; none for the system disk and PCIe-attached ones.
const UsbLocation* locationOf(const Topology& topology, int device);

// A USB-attached device: its USB device node, its disk and CD-ROM units
// (named by the USB serial under the bulk-only driver, by their USB device
// under UAS).
std::string usbDeviceInstance(const Topology& topology, const DeviceView& view);
std::string usbDeviceDriverKey(int device);
// A device whose enumeration failed: the node the hub driver makes for it.
std::string failedDeviceInstance(const Topology& topology, int device);
std::string diskInstance(const Topology& topology, const DeviceView& view);
std::string diskDriverKey(int device);
std::string cdromInstance(const Topology& topology, const DeviceView& view);
std::string cdromDriverKey(int device);
// A PCIe-attached bridge: its function's node (the NVMe controller).
std::string pcieFunctionInstance(const DeviceView& view);

// The interfaces a device offers while it is on its bus (what its arrival
// and removal notices name).
std::vector<DeviceInterface> interfacesOf(const Topology& topology, const DeviceView& view);

// Windows' "Port_#0003.Hub_#0002".
std::string locationInformation(const Topology& topology, const UsbLocation& location);

}  // namespace krv::bench
