#include "platform/bench/bridge/Registers.h"

namespace krv::bench {

namespace {

// What the link means for the registers that report it.
struct LinkFacts {
    bool usb4 = false;          // a USB4 or Thunderbolt link
    bool usbTunnel = false;     // USB4 tunnelling USB 3
    bool thunderbolt = false;
    bool gen3 = false;          // USB4 generation 3 (else 2)
    bool pair = false;          // two lanes
    uint8_t usbSpeed = 2;       // 0 full, 1 high, 2 SuperSpeed (and above)
    bool plus = false;          // SuperSpeed Plus (10 Gbit/s)
    bool uas = true;            // UAS rather than bulk-only transport
    int lanes = 1;
    uint8_t usb4Mode = 0;       // 0 legacy, 1 TBT3, 2 PCIe tunnel, 3 USB 3 tunnel
};

LinkFacts factsOf(const LinkModel& link, std::string_view speed)
{
    LinkFacts f;
    f.pair = speed.size() >= 2 && speed.substr(speed.size() - 2) == "x2";
    f.usb4Mode = link.usb4Mode;
    switch (link.kind) {
    case LinkKind::Usb4PcieTunnel:
    case LinkKind::Usb4UsbTunnel:
    case LinkKind::Tbt3:
        f.usb4 = true;
        f.usbTunnel = link.kind == LinkKind::Usb4UsbTunnel;
        f.thunderbolt = link.kind == LinkKind::Tbt3;
        f.gen3 = speed.substr(0, 4) == "Gen3";
        f.plus = true;  // the USB 3 tunnel runs at 10 Gbit/s on one lane
        f.lanes = f.pair ? 2 : 1;
        f.pair = false;  // the tunnelled USB 3 link itself is x1
        break;
    case LinkKind::Usb3:
        f.plus = speed.substr(0, 4) == "Gen2";
        f.lanes = f.pair ? 2 : 1;
        break;
    case LinkKind::Usb2:
        f.usbSpeed = speed == "Full" ? 0 : 1;
        f.uas = false;
        f.lanes = 0;
        f.pair = false;
        break;
    }
    return f;
}

uint8_t plusBits(const LinkFacts& f) { return static_cast<uint8_t>((f.plus ? 0x04 : 0) | (f.pair ? 0x10 : 0)); }

// The per-lane value registers hold two digits, the low nibble the hundreds.
uint8_t laneValue(int lane) { return static_cast<uint8_t>(0x23 + 0x10 * lane); }

uint8_t model857x(const RegisterContext& c, const LinkFacts& f, uint32_t a)
{
    switch (a) {
    case reg::kStreamMode: return f.uas ? 0x80 : 0x00;
    case reg::kUaspSupport: return f.uas ? 0x00 : 0x04;
    case reg::kUsbSpeed: return f.usbSpeed;
    case reg::kSuperSpeedPlus857x: return plusBits(f);
    case reg::kCcOrientation857x: return 0x40;  // orientation code 1
    case reg::kPdType: return 0x02;              // a PD controller (bit 1)
    case reg::kLaneSelect: return static_cast<uint8_t>((1u << f.lanes) - 1);
    case reg::kUsb4Link: return f.usb4 ? static_cast<uint8_t>(0x02 | (f.usbTunnel ? 0x04 : 0)) : 0x00;
    case reg::kUsb4Tunnel: return f.usb4 && !f.thunderbolt ? 0x80 : 0x00;
    case reg::kUsb4Generation: return f.usb4 && f.gen3 ? 0x10 : 0x00;
    case reg::kUsb4Width0: return f.usb4 ? 0x01 : 0x00;
    case reg::kUsb4Width1: return f.usb4 ? (f.lanes == 2 ? 0x02 : 0x01) : 0x00;
    case reg::kUsb4Width2: return f.usb4 ? (f.lanes == 2 ? 0x02 : 0x01) : 0x00;
    case reg::kUsb4Info: return f.usb4Mode;
    default: break;
    }
    for (int lane = 0; lane < 4; ++lane) {
        bool active = lane < f.lanes;
        if (a == reg::kLaneStatus0 + 8u * static_cast<uint32_t>(lane))
            return active ? 0x02 : 0x00;
        if (a == reg::kLaneValue0 + 0x400u * static_cast<uint32_t>(lane))
            return active ? laneValue(lane) : 0x00;
    }
    (void)c;
    return 0x00;
}

uint8_t model752x(const RegisterContext& c, const LinkFacts& f, uint32_t a)
{
    bool b = ((c.revision >> 4) & 7) == 1;  // the "752B"
    switch (a) {
    case reg::kStreamMode: return b ? (f.uas ? 0x01 : 0x00) : (f.uas ? 0x80 : 0x00);
    case reg::kUsbSpeed: return b ? f.usbSpeed : 0x00;
    case reg::kUsbSpeedLegacy: return b ? 0x00 : f.usbSpeed;
    case reg::kSuperSpeedPlus752B: return b ? plusBits(f) : 0x00;
    case reg::kSuperSpeedPlusLegacy: return !b && f.plus ? 0x01 : 0x00;
    case reg::kSubType752B: return 0x00;
    case reg::kCcOrientation752B: return b ? 0x01 : 0x00;
    case reg::kCcOrientationLegacy: return b ? 0x00 : 0x01;
    default: return 0x00;
    }
}

uint8_t model6390(const RegisterContext&, const LinkFacts& f, uint32_t a)
{
    switch (a) {
    case reg::kStreamMode: return f.uas ? 0x80 : 0x00;
    case reg::kUsbSpeedLegacy: return f.usbSpeed;
    case reg::kSuperSpeedPlusLegacy: return f.plus ? 0x01 : 0x00;
    case reg::kCcOrientationLegacy: return 0x01;
    default: return 0x00;
    }
}

// The two re-link signature bytes the bridge reports from the image it
// booted with: the USB4 image on a KRV857x, the one image on the others.
uint8_t signatureByte(const RegisterContext& c, int which)
{
    int bank = c.chip.family == ChipFamily::Krv857x && c.running.bank > 0 ? c.running.bank : 0;
    int type = c.chip.family == ChipFamily::Krv857x ? 1 : 0;
    const Bytes& config = c.running.config[bank][type];
    return config.size() == image::kConfigSize ? config[image::kSignatureOffset + which] : 0xFF;
}

}  // namespace

uint32_t lastRegisterAddress(const ChipModel& chip) { return chip.family == ChipFamily::Krv857x ? 0x2FFFF : 0xFFFF; }

uint8_t readRegister(const RegisterContext& c, uint32_t a)
{
    if (auto it = c.running.registerWrites.find(a); it != c.running.registerWrites.end())
        return it->second;
    if (auto it = c.presets.find(a); it != c.presets.end())
        return it->second;
    if (a >= reg::kFirmwareVersion && a < reg::kFirmwareVersion + image::kHeaderLength)
        return c.running.header[a - reg::kFirmwareVersion];
    switch (a) {
    case reg::kChipRevision: return c.revision;
    case reg::kBondOption: return 0x02;
    case reg::kSha256Feature: return c.chip.sha256 ? 0x00 : 0x08;
    case reg::kRelinkSignature: return signatureByte(c, 0);
    case reg::kRelinkSignature + 1: return signatureByte(c, 1);
    default: break;
    }
    LinkFacts f = factsOf(c.link, c.speed);
    switch (c.chip.family) {
    case ChipFamily::Krv857x: return model857x(c, f, a);
    case ChipFamily::Krv752x: return model752x(c, f, a);
    case ChipFamily::Krv6390: return model6390(c, f, a);
    }
    return 0x00;
}

}  // namespace krv::bench
