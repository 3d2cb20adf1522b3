#pragma once
// What a drive tells of itself: the standard INQUIRY data, the NVMe Identify
// pages and the ATA IDENTIFY DEVICE data a bridge makes from them.
#include <array>
#include <cstdint>
#include <string>

#include "platform/bench/bridge/Images.h"

namespace krv::bench {

struct DiskIdentity {
    std::string serial;     // 20 characters at most
    std::string model;      // 40 characters at most
    std::string firmware;   // 8 characters at most
    uint64_t sizeBytes = 0;
    uint32_t sectorSize = 512;   // its logical block: 512 or 4096 bytes
    bool operator==(const DiskIdentity&) const = default;
};

// The drive behind bridge `port` as the bench makes it.
DiskIdentity benchDiskIdentity(int port, uint64_t sizeBytes);

constexpr size_t kStandardInquirySize = 96;
constexpr uint8_t kDirectAccess = 0x00;
constexpr uint8_t kCdRomUnit = 0x05;

// Standard INQUIRY data; `chipId` goes to bytes 36 and 37 (byte 37 the first
// pair of the chip text: "8574" puts 85 in byte 37 and 74 in byte 36).
Bytes standardInquiry(uint8_t peripheralType, std::string_view vendor, std::string_view product,
                      std::string_view revision, uint16_t chipId);

constexpr size_t kIdentifySize = 4096;
Bytes nvmeIdentifyController(const DiskIdentity& disk);
Bytes nvmeIdentifyNamespace(const DiskIdentity& disk);
constexpr size_t kAtaIdentifySize = 512;
Bytes ataIdentifyDevice(const DiskIdentity& disk);

}  // namespace krv::bench
