#pragma once
// The bridge chips and links a bench port can carry, named as the production
// tool tells them apart. The tool knows three families by the identity their
// INQUIRY data reports ("8574"/"8576", "7520", "6390") and finds the KRV857x
// family on the PCIe bus by vendor 2C4B and device 8571..8575. A link is how
// the drive reaches the host: USB4 with a PCIe or a USB 3 tunnel, Thunderbolt 3,
// or a plain USB 3 or USB 2 connection.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::bench {

enum class ChipFamily { Krv857x, Krv752x, Krv6390 };

struct ChipModel {
    std::string_view name;      // "KRV8574"
    ChipFamily family;
    uint16_t pcieDeviceId;      // the function's device ID when tunnelled as PCIe
    bool lanePairs;             // can run a USB 3 link on two lanes (x2)
    uint8_t defaultRevision;    // the chip revision register (0xC8FF) as shipped
    // The major revision (bits 4-6 of 0xC8FF) the chip name stands for, or -1
    // when any major revision is this chip.
    int fixedMajorRevision;
    bool nvme;                  // an NVMe drive sits behind it (NVMe Identify)
    bool sha256;                // checks its firmware with a SHA-256 initial key
};

enum class LinkKind { Usb4PcieTunnel, Usb4UsbTunnel, Tbt3, Usb3, Usb2 };

struct LinkModel {
    std::string_view name;      // "USB4"
    LinkKind kind;
    std::string_view defaultSpeed;
    std::vector<std::string_view> speeds;
    // USB4 mode code the bridge reports on this link: 0 legacy, 1 TBT3,
    // 2 PCIe tunnel, 3 USB 3 tunnel.
    uint8_t usb4Mode;
};

// What the chip on a link shows of itself to the host.
struct ChipIdentity {
    std::string inquiry;                  // INQUIRY bytes 37,36 as "%02X%02X"; empty: no USB storage device
    std::optional<uint16_t> pcieVendorId; // present when the bridge is a PCIe function of the host
    std::optional<uint16_t> pcieDeviceId;
};

constexpr uint16_t kPcieVendorId = 0x2C4B;

std::string_view familyName(ChipFamily family);

// Look-ups ignore case; null when the name is not known.
const ChipModel* findChip(std::string_view name);
const LinkModel* findLink(std::string_view name);
// The canonical spelling of a speed of `link`; empty when the link has no such speed.
std::string_view findSpeed(const LinkModel& link, std::string_view speed);

const std::vector<ChipModel>& allChips();
const std::vector<LinkModel>& allLinks();
std::string chipNameList();   // "KRV8571, KRV8572, ..."
std::string linkNameList();
std::string speedNameList(const LinkModel& link);

// Why `chip` cannot run on `link`, or empty when it can.
std::string linkRefusal(const ChipModel& chip, const LinkModel& link);
// Why `chip` cannot run `link` at `speed` (canonical), or empty when it can.
std::string speedRefusal(const ChipModel& chip, const LinkModel& link, std::string_view speed);

ChipIdentity identityOf(const ChipModel& chip, const LinkModel& link);

// Why `revision` (the 0xC8FF byte) cannot be `chip`'s, or empty when it can.
std::string revisionRefusal(const ChipModel& chip, uint8_t revision);

}  // namespace krv::bench
