#pragma once
// The bridge's registers as the system reads them: each holds what the
// device's state means for it (link speed and mode, lanes, chip revision, CC
// orientation, the running firmware's version...). Values set in the bench's
// settings stand in for the model's; values the host wrote (E5) stand in for
// both until the next CPU reset.
#include <cstdint>
#include <map>
#include <string_view>

#include "platform/bench/ChipCatalog.h"
#include "platform/bench/bridge/PortState.h"

namespace krv::bench {

// Register addresses the bridges give a meaning.
namespace reg {
constexpr uint32_t kFirmwareVersion = 0x07F0;  // 16 bytes: the running image from 0x204
constexpr uint32_t kStreamMode = 0x9000;
constexpr uint32_t kUsbSpeed = 0x9100;          // KRV857x, KRV752B
constexpr uint32_t kUsbSpeedLegacy = 0x9002;    // KRV752A, KRV6390 family
constexpr uint32_t kSuperSpeedPlus857x = 0x92F8;
constexpr uint32_t kSuperSpeedPlus752B = 0x92B8;
constexpr uint32_t kSuperSpeedPlusLegacy = 0x90E5;
constexpr uint32_t kChipRevision = 0xC8FF;
constexpr uint32_t kUaspSupport = 0xC890;       // bit 2: no UAS on this link
constexpr uint32_t kBondOption = 0xC895;
constexpr uint32_t kSha256Feature = 0xC8D1;
constexpr uint32_t kRelinkSignature = 0xCA02;   // 2 bytes
constexpr uint32_t kSubType752B = 0xE495;
constexpr uint32_t kCcOrientation857x = 0xE302;
constexpr uint32_t kCcOrientation752B = 0xC6DB;
constexpr uint32_t kCcOrientationLegacy = 0xCACB;
constexpr uint32_t kPdType = 0xE795;
constexpr uint32_t kLaneSelect = 0xB404;
constexpr uint32_t kLaneStatus0 = 0xE765;       // + 8 per lane
constexpr uint32_t kLaneValue0 = 0x24092;       // + 0x400 per lane
constexpr uint32_t kUsb4Link = 0x20000;
constexpr uint32_t kUsb4Tunnel = 0x22805;
constexpr uint32_t kUsb4Generation = 0x22865;
constexpr uint32_t kUsb4Width0 = 0x22871;
constexpr uint32_t kUsb4Width1 = 0x228A0;
constexpr uint32_t kUsb4Width2 = 0x228A1;
constexpr uint32_t kUsb4Info = 0x2601A;
}  // namespace reg

struct RegisterContext {
    const ChipModel& chip;
    const LinkModel& link;
    std::string_view speed;
    uint8_t revision;
    const std::map<uint32_t, uint8_t>& presets;
    const RunningState& running;
};

uint8_t readRegister(const RegisterContext& context, uint32_t address);

// The highest register address of the chip: the KRV857x has a second page
// at 0x20000 (reached with the page byte 51), the others 16-bit addresses.
uint32_t lastRegisterAddress(const ChipModel& chip);

}  // namespace krv::bench
