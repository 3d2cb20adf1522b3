#pragma once
// A firmware file as the tool reads it and a bridge boots it: 98,016 bytes,
// the six version bytes at 0x204 and the chip's signature byte six bytes
// before the end (a byte-sum image for chip major revision 1, the bench's
// KRV8574, carries 0x4B). The other bytes follow a pattern, so the image
// differs from anything a bridge holds before it is written.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace krv::test {

constexpr size_t kFirmwareFileSize = 65280 + 32736;
constexpr uint8_t kRev1ByteSumSignature = 0x4B;

inline std::string firmwareFile(const std::array<uint8_t, 6>& version, uint8_t signature = kRev1ByteSumSignature)
{
    std::string bytes(kFirmwareFileSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + (i >> 8));
    for (size_t i = 0; i < version.size(); ++i)
        bytes[0x204 + i] = static_cast<char>(version[i]);
    bytes[kFirmwareFileSize - 6] = static_cast<char>(signature);
    return bytes;
}

}  // namespace krv::test
