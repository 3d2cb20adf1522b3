#pragma once
// The bridge's non-volatile images as the bridge itself lays them out: the
// 128-byte configuration images (USB 3 and USB4), the two-part firmware
// image with its version and signature bytes, and the SHA-256 key it checks
// firmware with. Written from the device's side, apart from the system code.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krv::bench {

using Bytes = std::vector<uint8_t>;
using FirmwareVersion = std::array<uint8_t, 6>;

namespace image {
constexpr size_t kConfigSize = 128;
constexpr size_t kConfigTypes = 2;        // 0 the USB 3 image, 1 the USB4 image
constexpr size_t kConfigBanks = 2;
constexpr uint8_t kUsb3Mark = 0x5A;       // byte 126 of a USB 3 image
constexpr uint8_t kUsb4Mark = 0xA5;       // byte 126 of a USB4 image
constexpr size_t kMarkOffset = 126;
constexpr size_t kChecksumOffset = 127;   // sum of bytes 4..126 modulo 256
constexpr size_t kSignatureOffset = 124;  // two re-link signature bytes

constexpr size_t kFirmwareBanks = 2;
constexpr size_t kFirmwarePart0 = 65280;  // the image's first region
constexpr size_t kFirmwarePart1 = 32736;
constexpr size_t kFirmwareTransferMax = 0x10000;  // the bridge's transfer buffer
constexpr size_t kFirmwareSize = kFirmwarePart0 + kFirmwarePart1;  // 98016
constexpr size_t kVersionOffset = 0x204;  // six version bytes YY MM DD SS CC TT
constexpr size_t kHeaderLength = 16;      // bytes from 0x204 that the version registers mirror
constexpr size_t kSignatureFromEnd = 6;   // signature byte at image length - 6

constexpr size_t kPowerConfigSize = 304;  // the KRV752x power configuration block
constexpr size_t kShaKeySize = 32;
}  // namespace image

// Signature bytes a firmware image may carry for a chip major revision
// (0..7): the checksum form and the CRC32 form.
uint8_t checksumSignature(int majorRevision);
uint8_t crcSignature(int majorRevision);

// A bank's image is bootable when its signature byte belongs to the chip's
// major revision (an erased bank holds 0xFF there and never is).
bool firmwareBootable(const Bytes& firmware, int majorRevision);
FirmwareVersion firmwareVersionOf(const Bytes& firmware);
std::array<uint8_t, image::kHeaderLength> firmwareHeaderOf(const Bytes& firmware);
// A whole image of the given version for a chip revision, as the maker
// builds one: code bytes that differ per version, the version at 0x204 and
// the checksum-form signature.
Bytes makeFirmwareImage(const FirmwareVersion& version, int majorRevision);
Bytes erasedFirmware();

// Versions as text: twelve hex digits ("230601800100"); underscores are
// allowed between pairs when read ("230601_80_01_00").
bool parseFirmwareVersion(std::string_view text, FirmwareVersion& version, std::string& why);
std::string formatFirmwareVersion(const FirmwareVersion& version);
extern const FirmwareVersion kDefaultFirmwareVersion;

uint8_t configChecksum(const Bytes& config);
bool configIntact(const Bytes& config, uint8_t mark);
// The factory images a bridge leaves the line with. `serial` is the USB
// serial text (20 characters at most); `productId` the USB product id.
Bytes makeUsb3Config(std::string_view serial, uint16_t productId, std::string_view product);
Bytes makeUsb4Config(uint16_t pcieDeviceId);

// FIPS 180-4 initial hash values H0..H7, big-endian: the key a bridge
// accepts for checking its firmware.
const std::array<uint8_t, image::kShaKeySize>& sha256InitialKey();

std::string toHex(const uint8_t* data, size_t length);
inline std::string toHex(const Bytes& data) { return toHex(data.data(), data.size()); }
// Reads hex digits (blanks allowed between bytes); false on anything else.
bool fromHex(std::string_view text, Bytes& out);

}  // namespace krv::bench
