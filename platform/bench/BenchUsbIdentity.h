#pragma once
// What a bench device shows of itself on the USB tree: its device
// descriptor, its three strings and the speed of its link. A bridge takes
// them from the USB 3 configuration image it booted with (serial at bytes
// 4..23, manufacturer 24..59, product 68..99, vendor id 116, product id 118,
// release 120; a blank serial there makes it go by its drive's serial, and its
// settings say how it writes the serial into the string), so a new image
// shows only after a CPU reset; an image whose
// mark or checksum is wrong makes the bridge fall back to its firmware's own
// identity, without a serial number.
#include <cstdint>
#include <string>

#include "platform/UsbTree.h"
#include "platform/bench/BenchSettings.h"
#include "platform/bench/bridge/Bridge.h"

namespace krv::bench {

struct UsbIdentity {
    UsbDeviceDescriptor descriptor;
    // The strings as the device holds them, one byte per UTF-16 unit; an
    // empty one has string index 0.
    std::string manufacturer;
    std::string product;
    std::string serial;
    UsbDeviceSpeed speed = UsbDeviceSpeed::High;
    bool superSpeedPlus = false;
    UsbStrings strings = UsbStrings::Normal;
    bool operator==(const UsbIdentity&) const = default;
};

// A bridge on a USB link (not a PCIe tunnel).
UsbIdentity bridgeUsbIdentity(const Bridge& bridge);
// The USB disk without a bridge.
UsbIdentity plainUsbDiskIdentity();
// An external hub of the bench (a USB 3 hub).
UsbIdentity hubUsbIdentity();

// The device's string descriptor `index` (0: the language table) as it
// answers GET_DESCRIPTOR; false when it stalls the request.
bool usbStringDescriptor(const UsbIdentity& identity, uint8_t index, uint16_t language, std::vector<uint8_t>& out);

constexpr uint16_t kUsEnglish = 0x0409;

}  // namespace krv::bench
