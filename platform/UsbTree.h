#pragma once
// The machine's USB tree as the host-controller enumeration and the hub
// requests show it: host controllers, each with a root hub; hubs with
// numbered ports; per port the connection (status, speed, device
// descriptor, whether the device is itself a hub), the driver key of the
// device's node, the name of a hub on the port, and descriptor requests sent
// to the device (string descriptors among them).
//
// Walking it: hostControllerPaths() -> openHostController(path) ->
// rootHubName() -> openHub(name) -> nodeInformation() for the port count ->
// connectionInformation(port) for each port 1..count -> for a hub on a port,
// connectionName(port) -> openHub(that name) -> ...
//
// Every call that fails returns false (or null) and sets the thread's last
// error (platform/LastError.h) in Windows' numbering; which numbers, each
// call says. Names and paths are plain 8-bit texts; wide names of the
// original requests are already converted (every UTF-16 unit that is not
// ASCII turned into '?', which never occurs in the names the backends make).
//
// Handles are snapshots of nothing: every query reads the tree as it is at
// that moment, so a device that leaves between two queries is simply gone
// from the second (status NoDeviceConnected, or error 1167 on a request to
// it). A hub handle stays usable while its hub is on the tree; once the hub
// has gone its requests fail with 1167 (ERROR_DEVICE_NOT_CONNECTED).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krv {

// USB_CONNECTION_STATUS. Values outside 0..5 have no name here; a backend
// never reports them.
enum class UsbConnectionStatus : uint32_t {
    NoDeviceConnected = 0,
    DeviceConnected = 1,
    DeviceFailedEnumeration = 2,
    DeviceGeneralFailure = 3,
    DeviceCausedOvercurrent = 4,
    DeviceNotEnoughPower = 5,
};

// USB_DEVICE_SPEED: the speed the device runs at on its port. SuperSpeed
// and above are Super; UsbConnectionInfo::superSpeedPlus tells a 10 or 20
// Gbit/s link from a 5 Gbit/s one (the _V2 request's flag).
enum class UsbDeviceSpeed : uint8_t { Low = 0, Full = 1, High = 2, Super = 3 };

// The 18-byte standard device descriptor, fields as USB 2.0 9.6.1 names them.
struct UsbDeviceDescriptor {
    uint8_t bLength = 18;
    uint8_t bDescriptorType = 1;
    uint16_t bcdUSB = 0;
    uint8_t bDeviceClass = 0;
    uint8_t bDeviceSubClass = 0;
    uint8_t bDeviceProtocol = 0;
    uint8_t bMaxPacketSize0 = 0;
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
    uint8_t iManufacturer = 0;   // string indexes; 0: no such string
    uint8_t iProduct = 0;
    uint8_t iSerialNumber = 0;
    uint8_t bNumConfigurations = 0;

    // The descriptor's wire form, little-endian.
    std::array<uint8_t, 18> bytes() const;
    static UsbDeviceDescriptor fromBytes(const uint8_t* bytes);

    bool operator==(const UsbDeviceDescriptor&) const = default;
};

// IOCTL_USB_GET_NODE_INFORMATION of a hub.
struct UsbNodeInformation {
    uint8_t numberOfPorts = 0;  // bNumberOfPorts of the hub descriptor
    bool busPowered = false;
};

// IOCTL_USB_GET_NODE_CONNECTION_INFORMATION(_EX, _V2) of one port.
struct UsbConnectionInfo {
    uint32_t connectionIndex = 0;            // the port asked about
    UsbConnectionStatus status = UsbConnectionStatus::NoDeviceConnected;
    // The rest is meaningful only with status DeviceConnected (all zero else).
    UsbDeviceDescriptor deviceDescriptor{0, 0};
    uint8_t currentConfigurationValue = 0;
    UsbDeviceSpeed speed = UsbDeviceSpeed::Low;
    bool superSpeedPlus = false;             // running at 10 Gbit/s or more
    bool deviceIsHub = false;
    uint16_t deviceAddress = 0;
    uint32_t numberOfOpenPipes = 0;          // configured devices have their endpoints open

    // What the 388-byte request reports as returned: the 35-byte fixed part
    // and 11 bytes per open pipe (more than 35 means a configured device).
    uint32_t bytesReturned() const { return 35 + 11 * numberOfOpenPipes; }
};

// USB descriptor types and the request values the walk sends.
namespace usbdesc {
constexpr uint8_t kDevice = 1;
constexpr uint8_t kConfiguration = 2;
constexpr uint8_t kString = 3;
// wValue of a GET_DESCRIPTOR request: type in the high byte, index in the low.
constexpr uint16_t value(uint8_t type, uint8_t index) { return static_cast<uint16_t>(type << 8 | index); }
}  // namespace usbdesc

// An open hub: a root hub or an external hub. Ports count from 1.
class UsbHub {
public:
    virtual ~UsbHub() = default;

    // IOCTL_USB_GET_NODE_INFORMATION. Fails with 1167 once the hub has gone.
    virtual bool nodeInformation(UsbNodeInformation& info) = 0;
    // The connection on `port`. A port number of 0 or above the hub's port
    // count fails with 87 (ERROR_INVALID_PARAMETER); 1167 once the hub has gone.
    // A port that failed with its device reports its status (2..5) and
    // nothing else.
    virtual bool connectionInformation(uint32_t port, UsbConnectionInfo& info) = 0;
    // IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME: the driver key of the
    // device on `port`, "{36fc9e60-c465-11cf-8056-444553540000}\0007" (setup
    // class in lower case, a backslash, four decimal digits). Fails with 87
    // for a bad port, 1167 when no device is on it (or the hub has gone) or
    // its port failed with it (statuses 3..5). A device that failed its
    // enumeration (status 2) has the key of the node the host made for it.
    virtual bool driverKeyName(uint32_t port, std::string& name) = 0;
    // IOCTL_USB_GET_NODE_CONNECTION_NAME: the name of the external hub on
    // `port`, without a prefix, e.g.
    // "USB#VID_05E3&PID_0626#6&1a2b3c4d&0&4#{f18a0e88-c30c-11d0-8815-00a0c906bed8}".
    // A port whose device is not a hub answers true with an empty name (as
    // the original request does); a bad port fails with 87, a port without a
    // device with 1167.
    virtual bool connectionName(uint32_t port, std::string& name) = 0;
    // IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION: a standard
    // GET_DESCRIPTOR request (bmRequestType 0x80, bRequest 6) to the device
    // on `port` with `value` (usbdesc::value(type, index)), `index` (the
    // language id for strings) and `length` (most bytes wanted). `data` gets
    // the descriptor's bytes as the device sent them, at most `length`.
    // Fails with 87 for a bad port, 1167 when no device is on it, and 31
    // (ERROR_GEN_FAILURE, the device stalled the request) for a descriptor
    // the device does not have: a string index it does not know, a language
    // it does not list, a string request to a device without strings; and
    // every request to a device its port failed with.
    // String descriptor 0 is the device's language table (bLength, 3, then
    // 16-bit language ids); string n is bLength, 3, then UTF-16LE units.
    virtual bool descriptor(uint32_t port, uint16_t value, uint16_t index, uint16_t length,
                            std::vector<uint8_t>& data) = 0;
};

// An open host controller.
class UsbHostController {
public:
    virtual ~UsbHostController() = default;
    // IOCTL_GET_HCD_DRIVERKEY_NAME: the controller's driver key,
    // "{36fc9e60-c465-11cf-8056-444553540000}\0000". Fails with 1167 once gone.
    virtual bool driverKeyName(std::string& name) = 0;
    // IOCTL_USB_GET_ROOT_HUB_NAME: the root hub's name without a prefix,
    // e.g. "USB#ROOT_HUB30#4&2d5b6d3c&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}".
    virtual bool rootHubName(std::string& name) = 0;
};

class UsbTree {
public:
    virtual ~UsbTree() = default;

    // The device paths of the present USB host controllers, in enumeration
    // order (the host-controller interface class, present devices only):
    // "\\?\pci#ven_8086&dev_a36d&subsys_...#3&11583659&0&a0#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}".
    // Controller k of the walk is the k-th path. Empty when there is none.
    virtual std::vector<std::string> hostControllerPaths() = 0;
    // Opens a host controller by its device path (case ignored). Null with
    // last error 2 when no present controller has that path.
    virtual std::unique_ptr<UsbHostController> openHostController(const std::string& devicePath) = 0;
    // Opens a hub by name: a root hub's or an external hub's name as the
    // requests above give it, with or without a "\\.\" or "\\?\" prefix (the
    // walk adds one), case ignored. Null with last error 2 when no hub on
    // the tree has that name (a hub that has gone is not found either).
    virtual std::unique_ptr<UsbHub> openHub(const std::string& name) = 0;
};

}  // namespace krv
